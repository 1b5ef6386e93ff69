// -T: test every listed file against the current directory.

#include "checksum/crc32.h"
#include "checksum/file_checksum.h"
#include "checksum/parallel_reader.h"
#include "console/console.h"
#include "list/list_table.h"
#include "ops/operations.h"
#include "site/books.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
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

struct Tally {
    int bad = 0;
    int missing = 0;
};

// Walks the directory and returns its matches in directory order; `complete` tells whether the
// walk reached the end. In glftpd mode every listed entry is then marked, within the same hold
// of the release's lock: a file that arrives or is rewritten while this run reads carries a
// marker until a run has read it good, and the bookkeeping of another run cannot fall between
// this walk and the marking.
std::vector<Match> scan_and_mark(ListTable& table, Ledger* books, bool& complete)
{
    const ReleaseLock lock = books != nullptr ? hold_books() : ReleaseLock();
    std::vector<Match> matches;
    const DirectoryScan scan =
        scan_directory(table, [&](std::size_t index, const std::string& name) {
            matches.push_back(Match{index, name});
        });
    complete = scan.complete;
    if (books != nullptr && complete)
        mark_every_entry(*books, table);
    return matches;
}

// The files the run reads, in the order of the matches. A symbolic link put in a file's place
// since the scan is not followed.
std::vector<ReadRequest> reads_of(const std::vector<Match>& matches)
{
    std::vector<ReadRequest> reads;
    reads.reserve(matches.size());
    for (const Match& match : matches)
        reads.push_back(ReadRequest{match.name, Links::refuse});
    return reads;
}

// Tests one directory entry that matched the list, its file the reader's `turn`, completing
// its progress line.
FileRead test_match(const ListEntry& entry, const Match& match, ParallelReader& reader,
                    std::size_t turn, Tally& tally)
{
    std::printf("Testing %s ... listed = 0x%08" PRIX32 " ... ", shown(match.name).c_str(),
                entry.listed_crc);
    std::fflush(stdout);
    FileRead read{match.name, {}, Verdict::unreadable, match.index, 0};
    const FileChecksum checksum = reader.take(turn);
    read.file = checksum.identity;
    const std::optional<std::uint32_t> local = checksum.crc;
    if (!local)
        print_cannot_read(match.name);
    else
        read = FileRead{match.name, read.file,
                        *local == entry.listed_crc ? Verdict::good : Verdict::bad, match.index,
                        *local};
    std::printf("local = 0x%08" PRIX32 " ... ", local.value_or(CRC_UNREADABLE));
    if (!local) {
        std::printf("MISSING\n");
        ++tally.missing;
    } else if (read.verdict == Verdict::good) {
        std::printf("OK\n");
    } else {
        std::printf("BAD\n");
        ++tally.bad;
    }
    std::fflush(stdout);
    return read;
}

// Judges every other entry that names the file of `read` byte for byte as `tested` does, each
// by its own CRC; one whose CRC differs from the tested entry's gets a progress line of its own
// (any other would repeat that line word for word).
void judge_equal_entries(const ListTable& table, std::size_t tested, const FileRead& read,
                         Tally& tally)
{
    const ListEntry& first = table.entries[tested];
    for (const std::size_t index : entries_named(table, first.name)) {
        const ListEntry& entry = table.entries[index];
        if (index == tested || entry.name != first.name)
            continue;
        const char* verdict = read.verdict == Verdict::unreadable ? "MISSING"
                              : read.crc == entry.listed_crc      ? "OK"
                                                                  : "BAD";
        tally.missing += read.verdict == Verdict::unreadable ? 1 : 0;
        tally.bad += verdict[0] == 'B' ? 1 : 0;
        if (entry.listed_crc != first.listed_crc)
            std::printf("Testing %s ... listed = 0x%08" PRIX32 " ... local = 0x%08" PRIX32
                        " ... %s\n",
                        shown(read.path).c_str(), entry.listed_crc,
                        read.verdict == Verdict::unreadable ? CRC_UNREADABLE : read.crc, verdict);
    }
}

} // namespace

int run_test_list(const RunOptions& options)
{
    std::printf("\nProcessing complete check of %s ...\n", shown(options.list_path).c_str());
    if (options.glftpd_mode)
        std::printf("Using glftpd mode\n");
    ListTable table;
    Ledger books{.names = &table, .list_path = options.list_path};
    note_list_unread(books);
    if (load_list_table(options.list_path, SplitRule::last_blank, table, last_line_of(options)) !=
        LoadResult::loaded)
        return 1;
    note_list_read(books);

    // Files are tested in the order the directory delivers them, outside any lock.
    bool complete = true;
    const std::vector<Match> matches =
        scan_and_mark(table, options.glftpd_mode ? &books : nullptr, complete);
    Tally tally;
    std::vector<FileRead> reads;
    reads.reserve(matches.size());
    ParallelReader reader(reads_of(matches), options.jobs);
    for (std::size_t turn = 0; turn < matches.size(); ++turn) {
        const Match& match = matches[turn];
        reads.push_back(test_match(table.entries[match.index], match, reader, turn, tally));
        judge_equal_entries(table, match.index, reads.back(), tally);
    }
    if (!complete)
        return 1; // nothing may be judged missing from a scan that did not finish

    for (const ListEntry& entry : table.entries) {
        if (entry.found)
            continue;
        std::printf("Testing %s ... listed = 0x%08" PRIX32 " ... Local = MISSING\n",
                    shown(entry.name).c_str(), entry.listed_crc);
        ++tally.missing;
    }
    if (options.glftpd_mode && !settle_whole_list(books, table, reads))
        return 1;

    const int count = static_cast<int>(table.entries.size());
    std::printf("\n%d file(s) tested - %d OK - %d bad - %d missing ...\n\n", count,
                std::max(0, count - tally.bad - tally.missing), tally.bad, tally.missing);
    std::fflush(stdout);
    return close_books(books, tally.missing != 0 ? 2 : tally.bad != 0 ? 1 : 0);
}

} // namespace zantra
