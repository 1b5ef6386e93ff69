// -T: test every listed file against the current directory.

#include "checksum/crc32.h"
#include "checksum/file_checksum.h"
#include "console/console.h"
#include "list/list_table.h"
#include "ops/operations.h"
#include "site/markers.h"
#include "site/release_lock.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <sys/stat.h>

namespace zantra
{
namespace
{

// A listed file as it was read: the entry it was tested against, its name on disk, and which
// file that was, so that the bookkeeping can tell whether it is still there.
struct FileRead {
    std::size_t index = 0;
    std::string name;
    FileIdentity file;
    bool readable = false;
};

struct Tally {
    int bad = 0;
    int missing = 0;
};

// Tests one directory entry that matched the list, completing its progress line.
FileRead test_match(const ListEntry& entry, std::size_t index, const std::string& name,
                    Tally& tally)
{
    std::printf("Testing %s ... listed = 0x%08" PRIX32 " ... ", shown(name).c_str(),
                entry.listed_crc);
    std::fflush(stdout);
    FileRead read{index, name, {}, false};
    // A symbolic link put in the file's place since the scan is not followed.
    const std::optional<std::uint32_t> local = crc32_of_file(name, &read.file, Links::refuse);
    read.readable = local.has_value();
    std::printf("local = 0x%08" PRIX32 " ... ", local.value_or(CRC_UNREADABLE));
    if (!local) {
        std::printf("MISSING\n");
        ++tally.missing;
    } else if (*local == entry.listed_crc) {
        std::printf("OK\n");
    } else {
        std::printf("BAD\n");
        ++tally.bad;
    }
    std::fflush(stdout);
    return read;
}

// True when a file that could not be read is still there under its name as it was: the same
// file, unchanged (one that could not even be opened: anything at the name). A file that was
// still being written while it was read, and is whole now, is not.
bool still_there(const FileRead& read)
{
    struct stat info {
    };
    return lstat(read.name.c_str(), &info) == 0 &&
           (read.file.inode == 0 || is_same_unchanged(info, read.file));
}

// The glftpd bookkeeping, under the release's lock and from a fresh look at the directory, so
// that runs which met while this one read leave what the directory now holds: a .missing
// marker for each listed file absent now, and the percentage of those present (a file that
// could not be read, and is still there unchanged, counts as missing but gets no marker).
// False when the directory cannot be read to its end.
bool keep_books(const ListTable& table, const std::vector<FileRead>& reads)
{
    const ReleaseLock lock = lock_release();
    ListTable now = table;
    for (ListEntry& entry : now.entries)
        entry.found = false;
    const DirectoryScan scan = scan_directory(now, true, nullptr);
    if (!scan.complete)
        return false;
    std::vector<bool> unreadable(now.entries.size(), false);
    for (const FileRead& read : reads)
        if (!read.readable && still_there(read))
            unreadable[read.index] = true;
    int missing = 0;
    for (std::size_t i = 0; i < now.entries.size(); ++i) {
        const ListEntry& entry = now.entries[i];
        if (entry.found)
            remove_marker(entry.name, MISSING_SUFFIX);
        else
            touch_marker(entry.name, MISSING_SUFFIX);
        if (!entry.found || unreadable[i])
            ++missing;
    }
    const int count = static_cast<int>(now.entries.size());
    update_completion_dir(scan.completion_dirs, completion_percent(count - missing, count));
    return true;
}

} // namespace

int run_test_list(const RunOptions& options)
{
    std::printf("\nProcessing complete check of %s ...\n", shown(options.list_path).c_str());
    if (options.glftpd_mode)
        std::printf("Using glftpd mode\n");
    ListTable table;
    if (load_list_table(options.list_path, SplitRule::last_blank, table, last_line_of(options)) !=
        LoadResult::loaded)
        return 1;

    // Files are tested in the order the directory delivers them, outside any lock.
    Tally tally;
    std::vector<FileRead> reads;
    const DirectoryScan scan =
        scan_directory(table, false, [&](std::size_t index, const std::string& name) {
            reads.push_back(test_match(table.entries[index], index, name, tally));
        });
    if (!scan.complete)
        return 1; // nothing may be judged missing from a scan that did not finish

    for (const ListEntry& entry : table.entries) {
        if (entry.found)
            continue;
        std::printf("Testing %s ... listed = 0x%08" PRIX32 " ... Local = MISSING\n",
                    shown(entry.name).c_str(), entry.listed_crc);
        ++tally.missing;
    }
    if (options.glftpd_mode && !keep_books(table, reads))
        return 1;

    const int count = static_cast<int>(table.entries.size());
    std::printf("\n%d file(s) tested - %d OK - %d bad - %d missing ...\n\n", count,
                std::max(0, count - tally.bad - tally.missing), tally.bad, tally.missing);
    std::fflush(stdout);
    return tally.missing != 0 ? 2 : tally.bad != 0 ? 1 : 0;
}

} // namespace zantra
