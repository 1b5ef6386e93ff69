// -t: test the file operands against the list.

#include "checksum/crc32.h"
#include "checksum/file_checksum.h"
#include "console/console.h"
#include "list/list_file_reader.h"
#include "list/list_line_rules.h"
#include "list/list_table.h"
#include "ops/operations.h"
#include "site/markers.h"
#include "site/release_lock.h"

#include <cinttypes>
#include <cstdio>
#include <optional>
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

// Completes the progress line of a file found in the list, and in glftpd mode clears its
// stale markers or moves a bad file aside. That bookkeeping is done under the release's lock,
// and only for the file as it was read.
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
    if (!good)
        wait_while_arriving(tested);
    const ReleaseLock lock = lock_release();
    remove_marker(listed.name, MISSING_SUFFIX);
    if (good)
        remove_stale_bad_marker(listed.name, tested);
    else
        mark_bad(operand, listed.name, tested);
}

// The entry every operand is tested against, from one reading of the list (a pipe can be read
// only once). Nothing when the list cannot be opened or read.
std::optional<std::vector<OperandEntry>> read_operand_entries(const RunOptions& options)
{
    const FileHandle list = open_list(options.list_path);
    if (!list)
        return std::nullopt;
    std::vector<OperandEntry> chosen(options.files.size());
    const ListRead read = read_entry_lines(
        list.get(),
        [&](std::string_view line) {
            if (const std::optional<SplitEntry> entry = split_entry_line(line))
                offer_to_operands(*entry, options.files, chosen);
            return true;
        },
        last_line_of(options));
    if (read != ListRead::complete)
        return std::nullopt;
    return chosen;
}

// Tests operand `i`, reading the list when it is the first to need it (`chosen` is empty
// until then); false when the list cannot be opened or read.
bool test_one_file(const RunOptions& options, std::size_t i,
                   std::optional<std::vector<OperandEntry>>& chosen, Tally& tally)
{
    const std::string& operand = options.files[i];
    std::printf("Testing %s ... ", shown(operand).c_str());
    std::fflush(stdout);
    FileIdentity tested;
    const std::optional<std::uint32_t> local = crc32_of_file(operand, &tested);
    std::printf("local = 0x%08" PRIX32 ", listed = ", local.value_or(CRC_UNREADABLE));
    std::fflush(stdout);

    if (!chosen)
        chosen = read_operand_entries(options);
    if (!chosen)
        return false;
    const OperandEntry& match = (*chosen)[i];
    if (local && match.how != NameMatch::none) {
        // In glftpd mode a name the operand only begins is not the operand's to mark or move.
        const bool keep_books = options.glftpd_mode && match.how != NameMatch::prefix;
        judge_listed(operand, *local, tested, match.entry, keep_books, tally);
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
    for (std::size_t i = 0; i < options.files.size(); ++i) {
        if (!test_one_file(options, i, chosen, tally)) {
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
