// -t: test the file operands against the list.

#include "checksum/crc32.h"
#include "checksum/file_checksum.h"
#include "console/console.h"
#include "list/list_reading.h"
#include "list/names.h"
#include "ops/operations.h"
#include "site/markers.h"
#include "site/release_lock.h"

#include <cinttypes>
#include <cstdio>
#include <sys/stat.h>

namespace zantra
{
namespace
{

struct Tally {
    int tested = 0;
    int bad = 0;
    int missing = 0;
};

// What one read of a listed operand found.
struct Reading {
    bool readable = true;
    bool good = false;
    FileIdentity file;
};

// True when the file at `path` is the file of `read`, with the same size and modification time.
bool is_unchanged(const std::string& path, const FileIdentity& read)
{
    struct stat info {
    };
    return stat(path.c_str(), &info) == 0 && is_same_unchanged(info, read);
}

// True when the file at `path` is still the file of `read` (same device and inode) but its size
// or modification time has changed since: more was written to it, or its time was set after
// its upload, as clients that keep the source's times do.
bool is_changed_in_place(const std::string& path, const FileIdentity& read)
{
    struct stat info {
    };
    return stat(path.c_str(), &info) == 0 && info.st_dev == read.device &&
           info.st_ino == read.inode && !is_same_unchanged(info, read);
}

// The verdict of the operand as it is now: the first read's, or, when the file was changed in
// place since, that of one more read, which prints nothing.
Reading latest_reading(const std::string& operand, std::uint32_t listed_crc, const Reading& first)
{
    if (!first.good)
        wait_while_arriving(first.file);
    if (!is_changed_in_place(operand, first.file))
        return first;
    Reading again;
    const std::optional<std::uint32_t> local = crc32_of_file_quietly(operand, &again.file);
    again.readable = local.has_value();
    again.good = local == listed_crc;
    if (again.readable && !again.good)
        wait_while_arriving(again.file);
    return again;
}

// The glftpd bookkeeping of a listed operand, under the release's lock. Its ".missing" marker
// goes only when every read found the file good and it is, at this moment, the file last read.
// A file that every read found bad is renamed to its ".bad" name when it has not changed since
// the last; any file that a read found bad is marked, renamed or not. Any other is left as it
// is, for the hook of whatever changed it.
void keep_books(const std::string& operand, const SplitEntry& listed, const Reading& first)
{
    const Reading last = latest_reading(operand, listed.listed_crc, first);
    const ReleaseLock lock = lock_release();
    const bool settled = last.readable && is_unchanged(operand, last.file);
    if (first.good && last.good && settled) {
        remove_marker(listed.name, MISSING_SUFFIX);
        remove_stale_bad_marker(listed.name, last.file);
        return;
    }
    if (!first.good && !last.good && settled)
        mark_bad(operand, listed.name, last.file);
    if (!first.good || (last.readable && !last.good))
        touch_marker(listed.name, MISSING_SUFFIX);
}

// Completes the progress line of a file found in the list, and in glftpd mode keeps its books.
void judge_listed(const std::string& operand, std::uint32_t local, const FileIdentity& tested,
                  const SplitEntry& listed, bool glftpd_mode, Tally& tally)
{
    std::printf("0x%08" PRIX32 " - ", listed.listed_crc);
    const bool good = local == listed.listed_crc;
    std::printf(good ? "OK\n" : "BAD\n");
    if (!good)
        ++tally.bad;
    if (!glftpd_mode)
        return;
    std::fflush(stdout);
    keep_books(operand, listed, Reading{true, good, tested});
}

// Tests one operand; false when the list cannot be opened or read.
bool test_one_file(const RunOptions& options, const std::string& operand, Tally& tally)
{
    std::printf("Testing %s ... ", shown(operand).c_str());
    std::fflush(stdout);
    FileIdentity tested;
    const std::optional<std::uint32_t> local = crc32_of_file(operand, &tested);
    std::printf("local = 0x%08" PRIX32 ", listed = ", local.value_or(CRC_UNREADABLE));
    std::fflush(stdout);

    const FileHandle list = open_list(options.list_path);
    if (!list)
        return false;
    std::optional<SplitEntry> match;
    if (local) {
        // The first entry whose name is the operand, letters folded; failing that, the first
        // whose name begins with it. So "movie.rar" listed after "movie.rar.part2" is found.
        std::optional<SplitEntry> first_beginning;
        const ListRead read = read_entry_lines(
            list.get(),
            [&](std::string_view line) {
                std::optional<SplitEntry> entry = split_entry_line(line);
                if (!entry || !starts_with_folded(entry->name, operand))
                    return true;
                if (entry->name.size() == operand.size()) {
                    match = std::move(entry);
                    return false;
                }
                if (!first_beginning)
                    first_beginning = std::move(entry);
                return true;
            },
            last_line_of(options));
        if (read == ListRead::cannot_open)
            return false;
        if (!match)
            match = std::move(first_beginning);
    }
    if (match) {
        judge_listed(operand, *local, tested, *match, options.glftpd_mode, tally);
    } else {
        std::printf("MISSING\n");
        ++tally.missing;
    }
    ++tally.tested;
    return true;
}

} // namespace

int run_test_files(const RunOptions& options)
{
    Tally tally;
    for (const std::string& operand : options.files) {
        if (!test_one_file(options, operand, tally)) {
            print_cannot_open_list(options.list_path);
            return 1;
        }
    }
    std::printf("\n%d file(s) tested - %d OK - %d bad - %d missing...\n", tally.tested,
                tally.tested - tally.bad - tally.missing, tally.bad, tally.missing);
    std::fflush(stdout);
    return tally.bad != 0 || tally.missing != 0 ? 1 : 0;
}

} // namespace zantra
