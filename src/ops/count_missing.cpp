// -m: count the listed files present in the current directory, reading none of them.

#include "list/list_table.h"
#include "ops/operations.h"
#include "site/books.h"

#include <algorithm>
#include <cstdio>

namespace zantra
{

int run_count_missing(const RunOptions& options)
{
    std::printf("\nPerforming completion check...\n");
    if (options.glftpd_mode)
        std::printf("Using glftpd mode\n");
    // It reads no file, so the whole run is bookkeeping, under the release's lock.
    const ReleaseLock lock = options.glftpd_mode ? hold_books() : ReleaseLock();
    ListTable table;
    Ledger books{.names = &table, .list_path = options.list_path};
    note_list_unread(books);
    if (load_list_table(options.list_path, SplitRule::first_word, table, last_line_of(options)) !=
        LoadResult::loaded)
        return 1;
    note_list_read(books);

    if (!scan_directory(table, nullptr).complete)
        return 1;
    const int count = static_cast<int>(table.entries.size());
    if (options.glftpd_mode) {
        settle_count(books, table);
    } else {
        const auto local =
            static_cast<int>(std::count_if(table.entries.begin(), table.entries.end(),
                                           [](const ListEntry& e) { return e.found; }));
        std::printf("[total files listed] [local files] [missing files]\n"
                    "%-4d                 %-4d          %-4d\n",
                    count, local, count - local);
    }
    std::fflush(stdout);
    return close_books(books, 0);
}

} // namespace zantra
