// -m: count the listed files present in the current directory, reading none of them.

#include "list/list_table.h"
#include "ops/operations.h"
#include "site/markers.h"
#include "site/release_lock.h"

#include <cstdio>

namespace zantra
{

int run_count_missing(const RunOptions& options)
{
    std::printf("\nPerforming completion check...\n");
    if (options.glftpd_mode)
        std::printf("Using glftpd mode\n");
    // It reads no file, so the whole run is bookkeeping, under the release's lock.
    const ReleaseLock lock = options.glftpd_mode ? lock_release() : ReleaseLock();
    ListTable table;
    if (load_list_table(options.list_path, SplitRule::first_word, table, last_line_of(options)) !=
        LoadResult::loaded)
        return 1;

    const DirectoryScan scan = scan_directory(table, options.glftpd_mode, nullptr);
    if (!scan.complete)
        return 1;
    // In glftpd mode a present file counts only when no ".missing" marker stands beside it:
    // only a run that read it and found it good takes the marker away, and this one reads
    // nothing, so it leaves the markers of present files as they are.
    int local = 0;
    for (const ListEntry& entry : table.entries) {
        if (!options.glftpd_mode) {
            local += entry.found ? 1 : 0;
        } else if (!entry.found) {
            touch_marker(entry.name, MISSING_SUFFIX);
        } else if (can_carry_marker(entry.name) && !has_marker(entry.name, MISSING_SUFFIX)) {
            ++local;
        }
    }

    const int count = static_cast<int>(table.entries.size());
    if (options.glftpd_mode)
        update_completion_dir(scan.completion_dirs, completion_percent(local, count));
    else
        std::printf("[total files listed] [local files] [missing files]\n"
                    "%-4d                 %-4d          %-4d\n",
                    count, local, count - local);
    std::fflush(stdout);
    return 0;
}

} // namespace zantra
