#include "cli/zantra.h"

#include "cli/options.h"
#include "cli/usage.h"
#include "console/console.h"
#include "list/list_format.h"
#include "ops/operations.h"

#include <cstdio>

namespace zantra
{
namespace
{

int run_operation(const RunOptions& options)
{
    switch (options.mode) {
    case MODE_CREATE: return run_create(options);
    case MODE_TEST_FILES: return run_test_files(options);
    case MODE_TEST_LIST: return run_test_list(options);
    case MODE_COUNT_MISSING: return run_count_missing(options);
    case MODE_NONE: break;
    }
    return 1;
}

} // namespace

int zantra_main(int argc, char* argv[])
{
    start_console();
    std::printf("%s\n", BANNER_TEXT);
    std::fflush(stdout); // before getopt's diagnostics, if any
    const ParsedCommandLine parsed = parse_command_line(argc, argv);
    int status = 0;
    switch (parsed.outcome) {
    case ParseOutcome::version: status = 0; break;
    case ParseOutcome::usage:
        // getopt's diagnostic, if any, is already on standard error.
        print_help(argc > 0 ? argv[0] : nullptr);
        status = 1;
        break;
    case ParseOutcome::help:
        print_help(argv[0]);
        status = 0;
        break;
    case ParseOutcome::run: status = run_operation(parsed.options); break;
    }
    // What reaches the console never decides what is done on disk, but a run whose report
    // was lost is not a success.
    if (!finish_console()) {
        print_message("Oh mama! I can't write to standard output ... :-(\n");
        if (status == 0)
            status = 1;
    }
    return status;
}

} // namespace zantra
