// -T: test every listed file against the current directory.

#include "checksum/crc32.h"
#include "checksum/file_checksum.h"
#include "cli/console.h"
#include "list/list_table.h"
#include "ops/operations.h"
#include "site/markers.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

namespace zantra
{

int run_test_list(const RunOptions& options)
{
    std::printf("\nProcessing complete check of %s ...\n", shown(options.list_path).c_str());
    if (options.glftpd_mode)
        std::printf("Using glftpd mode\n");
    ListTable table;
    if (load_list_table(options.list_path, SplitRule::last_blank, table) != LoadResult::loaded)
        return 1;

    // Files are tested in the order the directory delivers them.
    int bad = 0;
    int missing = 0;
    const DirectoryScan scan =
        scan_directory(table, options.glftpd_mode, [&](std::size_t index, const std::string& name) {
            const ListEntry& entry = table.entries[index];
            std::printf("Testing %s ... listed = 0x%08" PRIX32 " ... ", shown(name).c_str(),
                        entry.listed_crc);
            std::fflush(stdout);
            const std::optional<std::uint32_t> local = crc32_of_file(name);
            std::printf("local = 0x%08" PRIX32 " ... ", local.value_or(CRC_UNREADABLE));
            if (!local) {
                std::printf("MISSING\n");
                ++missing;
            } else if (*local == entry.listed_crc) {
                std::printf("OK\n");
            } else {
                std::printf("BAD\n");
                ++bad;
            }
            std::fflush(stdout);
        });
    if (!scan.complete)
        return 1; // nothing may be judged missing from a scan that did not finish

    for (const ListEntry& entry : table.entries) {
        if (entry.found) {
            if (options.glftpd_mode)
                remove_marker(entry.name, MISSING_SUFFIX);
            continue;
        }
        std::printf("Testing %s ... listed = 0x%08" PRIX32 " ... Local = MISSING\n",
                    shown(entry.name).c_str(), entry.listed_crc);
        ++missing;
        if (options.glftpd_mode)
            touch_marker(entry.name, MISSING_SUFFIX);
    }

    const int count = static_cast<int>(table.entries.size());
    if (options.glftpd_mode)
        update_completion_dir(scan.completion_dirs, completion_percent(count - missing, count));
    std::printf("\n%d file(s) tested - %d OK - %d bad - %d missing ...\n\n", count,
                std::max(0, count - bad - missing), bad, missing);
    std::fflush(stdout);
    return missing != 0 ? 2 : bad != 0 ? 1 : 0;
}

} // namespace zantra
