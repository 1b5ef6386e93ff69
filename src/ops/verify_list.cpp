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
#include <unordered_map>
#include <vector>

namespace zantra
{
namespace
{

// A directory entry that matched the list: the entry, and the file's name on disk.
struct Match {
    std::size_t index = 0;
    std::string name;
};

// A listed file as it was read: the entry it was tested against, its name on disk, which file
// that was, and the verdict, so that the bookkeeping can tell whether it is still there as read.
struct FileRead {
    std::size_t index = 0;
    std::string name;
    FileIdentity file;
    bool readable = false;
    bool good = false;
};

struct Tally {
    int bad = 0;
    int missing = 0;
};

// Walks the directory and returns its matches in directory order; `complete` tells whether the
// walk reached the end. In glftpd mode every listed entry is then marked, within the same hold
// of the release's lock: a file that arrives or is rewritten while this run reads carries a
// marker until a run has read it good, and the bookkeeping of another run cannot fall between
// this walk and the marking.
std::vector<Match> scan_and_mark(ListTable& table, bool glftpd_mode, bool& complete)
{
    const ReleaseLock lock = glftpd_mode ? lock_release() : ReleaseLock();
    std::vector<Match> matches;
    const DirectoryScan scan =
        scan_directory(table, false, [&](std::size_t index, const std::string& name) {
            matches.push_back(Match{index, name});
        });
    complete = scan.complete;
    if (glftpd_mode && complete)
        for (const ListEntry& entry : table.entries)
            touch_marker(entry.name, MISSING_SUFFIX);
    return matches;
}

// Tests one directory entry that matched the list, completing its progress line.
FileRead test_match(const ListEntry& entry, const Match& match, Tally& tally)
{
    std::printf("Testing %s ... listed = 0x%08" PRIX32 " ... ", shown(match.name).c_str(),
                entry.listed_crc);
    std::fflush(stdout);
    FileRead read{match.index, match.name, {}, false, false};
    // A symbolic link put in the file's place since the scan is not followed.
    const std::optional<std::uint32_t> local = crc32_of_file(match.name, &read.file, Links::refuse);
    read.readable = local.has_value();
    read.good = local == entry.listed_crc;
    std::printf("local = 0x%08" PRIX32 " ... ", local.value_or(CRC_UNREADABLE));
    if (!local) {
        std::printf("MISSING\n");
        ++tally.missing;
    } else if (read.good) {
        std::printf("OK\n");
    } else {
        std::printf("BAD\n");
        ++tally.bad;
    }
    std::fflush(stdout);
    return read;
}

// True when the file read is still there under its name as it was: the same file, unchanged
// (for one that could not even be opened: anything at the name). A file that was still being
// written while it was read, and is whole now, is not.
bool still_there(const FileRead& read)
{
    struct stat info {
    };
    return lstat(read.name.c_str(), &info) == 0 &&
           (read.file.inode == 0 || is_same_unchanged(info, read.file));
}

// Waits, as -t does before it renames, until the most recently modified file found bad has not
// changed for a while: an upload that pauses looks complete.
void wait_for_bad_reads(const std::vector<FileRead>& reads)
{
    const FileRead* newest = nullptr;
    for (const FileRead& read : reads) {
        if (!read.readable || read.good)
            continue;
        const struct timespec& t = read.file.modified;
        if (newest == nullptr || t.tv_sec > newest->file.modified.tv_sec ||
            (t.tv_sec == newest->file.modified.tv_sec && t.tv_nsec > newest->file.modified.tv_nsec))
            newest = &read;
    }
    if (newest != nullptr)
        wait_while_arriving(newest->file);
}

// Renames each file found bad, and unchanged since, to the ".bad" name of its listed name. An
// entry that several files on disk matched (names that differ in letter case only) has no one
// file to rename: it is only marked.
void rename_bad_reads(const ListTable& table, const std::vector<FileRead>& reads)
{
    std::vector<int> files_of(table.entries.size(), 0);
    for (const FileRead& read : reads)
        ++files_of[read.index];
    for (const FileRead& read : reads)
        if (read.readable && !read.good && files_of[read.index] == 1)
            mark_bad(read.name, table.entries[read.index].name, read.file);
}

// How a listed entry stands after this run's reading, from the worst of its files on disk now.
enum class Standing {
    verified,  // read good by this run, and unchanged since
    unsettled, // not read by this run, or changed since its read
    failed,    // read bad or unreadable by this run, and unchanged since
};

// How the file now at `name` stands, given this run's reads by name.
Standing standing_of(const std::string& name,
                     const std::unordered_map<std::string, const FileRead*>& reads_by_name)
{
    const auto found = reads_by_name.find(name);
    if (found == reads_by_name.end() || !still_there(*found->second))
        return Standing::unsettled;
    return found->second->good ? Standing::verified : Standing::failed;
}

// Walks the directory afresh and gives every listed entry its standing; false when the walk
// does not finish.
bool stand_entries(ListTable& now, const std::vector<FileRead>& reads,
                   std::vector<Standing>& standing, DirectoryScan& scan)
{
    std::unordered_map<std::string, const FileRead*> reads_by_name;
    for (const FileRead& read : reads)
        reads_by_name[read.name] = &read;
    for (ListEntry& entry : now.entries)
        entry.found = false;
    standing.assign(now.entries.size(), Standing::verified);
    scan = scan_directory(now, true, [&](std::size_t, const std::string& name) {
        const Standing file = standing_of(name, reads_by_name);
        for (const std::size_t index : entries_named(now, name))
            standing[index] = std::max(standing[index], file);
    });
    return scan.complete;
}

// The glftpd bookkeeping after the reading, under the release's lock and from a fresh look at
// the directory, so that runs which met while this one read leave what the directory now
// holds. Bad files are renamed; an entry absent now, or read bad or unreadable and unchanged
// since, is marked; one read good and unchanged since loses its marker; any other keeps its
// marker as it is. The percentage counts the entries present and unmarked (a name that can
// carry no marker: present and read good). False when the directory cannot be read to its end.
bool keep_books(const ListTable& table, const std::vector<FileRead>& reads)
{
    wait_for_bad_reads(reads);
    const ReleaseLock lock = lock_release();
    rename_bad_reads(table, reads);
    ListTable now = table;
    std::vector<Standing> standing;
    DirectoryScan scan;
    if (!stand_entries(now, reads, standing, scan))
        return false;
    int counted = 0;
    for (std::size_t i = 0; i < now.entries.size(); ++i) {
        const ListEntry& entry = now.entries[i];
        if (!entry.found || standing[i] == Standing::failed)
            touch_marker(entry.name, MISSING_SUFFIX);
        else if (standing[i] == Standing::verified)
            remove_marker(entry.name, MISSING_SUFFIX);
        const bool unmarked = can_carry_marker(entry.name) ? !has_marker(entry.name, MISSING_SUFFIX)
                                                           : standing[i] == Standing::verified;
        if (entry.found && unmarked)
            ++counted;
    }
    const int count = static_cast<int>(now.entries.size());
    update_completion_dir(scan.completion_dirs, completion_percent(counted, count));
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
    bool complete = true;
    const std::vector<Match> matches = scan_and_mark(table, options.glftpd_mode, complete);
    Tally tally;
    std::vector<FileRead> reads;
    reads.reserve(matches.size());
    for (const Match& match : matches)
        reads.push_back(test_match(table.entries[match.index], match, tally));
    if (!complete)
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
