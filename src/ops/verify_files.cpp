// -t: test the file operands against the list.

#include "checksum/crc32.h"
#include "checksum/file_checksum.h"
#include "console/console.h"
#include "list/list_file_reader.h"
#include "list/list_line_rules.h"
#include "list/names.h"
#include "ops/operations.h"
#include "site/markers.h"
#include "site/release_lock.h"

#include <cinttypes>
#include <cstdio>

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
