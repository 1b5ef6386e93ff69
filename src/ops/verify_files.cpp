// -t: test the file operands against the list.

#include "checksum/crc32.h"
#include "checksum/file_checksum.h"
#include "checksum/parallel_reader.h"
#include "console/console.h"
#include "list/list_file_reader.h"
#include "list/list_line_rules.h"
#include "list/list_table.h"
#include "ops/operations.h"
#include "site/books.h"

#include <cinttypes>
#include <cstdio>
#include <optional>
#include <utility>
#include <vector>

namespace zantra
{
namespace
{

struct Tally {
    int tested = 0;
    int bad = 0;
    int missing = 0;
};

// What one read of `operand` found, quietly.
FileRead read_quietly(const std::string& operand, std::uint32_t listed_crc)
{
    FileRead read{operand, {}, Verdict::unreadable, 0, 0};
    const std::optional<std::uint32_t> local = crc32_of_file_quietly(operand, &read.file);
    if (local)
        read = FileRead{operand, read.file, *local == listed_crc ? Verdict::good : Verdict::bad, 0,
                        *local};
    return read;
}

// The verdict of the operand as it is now: the first read's, or, when the file was changed in
// place since (more was written to it, or its time was set after its upload, as clients that
// keep the source's times do), that of one more read, which prints nothing.
FileRead latest_reading(std::uint32_t listed_crc, const FileRead& first)
{
    if (first.verdict != Verdict::good)
        wait_while_arriving(first.file);
    if (!is_changed_in_place(first))
        return first;
    FileRead again = read_quietly(first.path, listed_crc);
    if (again.verdict == Verdict::bad)
        wait_while_arriving(again.file);
    return again;
}

// Completes the progress line of a file found in the list, and in glftpd mode keeps its books.
void judge_listed(const std::string& operand, std::uint32_t local, const FileIdentity& tested,
                  const SplitEntry& listed, Ledger* books, Tally& tally)
{
    std::printf("0x%08" PRIX32 " - ", listed.listed_crc);
    const bool good = local == listed.listed_crc;
    std::printf(good ? "OK\n" : "BAD\n");
    if (!good)
        ++tally.bad;
    if (books == nullptr)
        return;
    std::fflush(stdout);
    const FileRead first{operand, tested, good ? Verdict::good : Verdict::bad, 0, local};
    settle_tested_file(*books, listed.name, latest_reading(listed.listed_crc, first));
}

// The entry every operand is tested against, from one reading of the list (a pipe can be read
// only once), and in glftpd mode every listed name into `names`. Nothing, with its message
// printed, when the list cannot be opened or read whole.
std::optional<std::vector<OperandEntry>> read_operand_entries(const RunOptions& options,
                                                              ListTable& names)
{
    const FileHandle list = open_list(options.list_path);
    if (!list) {
        print_cannot_open_list(options.list_path);
        return std::nullopt;
    }
    std::vector<OperandEntry> chosen(options.files.size());
    const ListRead read = read_entry_lines(
        list.get(),
        [&](std::string_view line) {
            if (const std::optional<SplitEntry> entry = split_entry_line(line)) {
                offer_to_operands(*entry, options.files, chosen);
                if (options.glftpd_mode)
                    add_list_entry(names, ListEntry{entry->name, entry->listed_crc, false});
            }
            return true;
        },
        last_line_of(options));
    if (read != ListRead::complete) {
        print_list_not_read(options.list_path, read);
        return std::nullopt;
    }
    return chosen;
}

// Tests operand `i`, the reader's file `i`, reading the list (and every listed name, into
// `names`) when it is the first to need it (`chosen` is empty until then); false when the list
// cannot be read whole.
bool test_one_file(const RunOptions& options, std::size_t i, ParallelReader& reader,
                   std::optional<std::vector<OperandEntry>>& chosen, ListTable& names,
                   Ledger& books, Tally& tally)
{
    const std::string& operand = options.files[i];
    std::printf("Testing %s ... ", shown(operand).c_str());
    std::fflush(stdout);
    const FileChecksum checksum = reader.take(i);
    const std::optional<std::uint32_t> local = checksum.crc;
    const FileIdentity& tested = checksum.identity;
    if (!local)
        print_cannot_read(operand);
    std::printf("local = 0x%08" PRIX32 ", listed = ", local.value_or(CRC_UNREADABLE));
    std::fflush(stdout);

    if (!chosen) {
        note_list_unread(books);
        chosen = read_operand_entries(options, names);
        note_list_read(books);
    }
    if (!chosen)
        return false;
    const OperandEntry& match = (*chosen)[i];
    if (local && match.how != NameMatch::none) {
        // In glftpd mode a name the operand only begins is not the operand's to mark or move.
        const bool bookkeeping = options.glftpd_mode && match.how != NameMatch::prefix;
        judge_listed(operand, *local, tested, match.entry, bookkeeping ? &books : nullptr, tally);
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
    std::optional<std::vector<OperandEntry>> chosen;
    ListTable names;
    Ledger books{.names = &names, .list_path = options.list_path};
    std::vector<ReadRequest> reads;
    reads.reserve(options.files.size());
    for (const std::string& operand : options.files)
        reads.push_back(ReadRequest{operand, Links::follow});
    ParallelReader reader(std::move(reads), options.jobs);
    for (std::size_t i = 0; i < options.files.size(); ++i) {
        if (!test_one_file(options, i, reader, chosen, names, books, tally))
            return 1;
    }
    std::printf("\n%d file(s) tested - %d OK - %d bad - %d missing...\n", tally.tested,
                tally.tested - tally.bad - tally.missing, tally.bad, tally.missing);
    std::fflush(stdout);
    return close_books(books, tally.bad != 0 || tally.missing != 0 ? 1 : 0);
}

} // namespace zantra
