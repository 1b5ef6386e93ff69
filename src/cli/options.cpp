#include "cli/options.h"

#include "checksum/parallel_reader.h"
#include "console/console.h"
#include "platform/platform.h"

#include <optional>
#include <string_view>
#include <unistd.h>

namespace zantra
{
namespace
{

constexpr const char* OPTION_STRING = ZANTRA_GETOPT_STOP_AT_OPERAND "acdgmtTvwj:l:";

void select_mode(RunOptions& options, Mode mode)
{
    options.mode = mode;
    ++options.mode_count;
}

// The number of workers that the argument of -j asks for: decimal digits alone, 0 for one per
// processor online. Nothing for any other text, or a number above JOBS_MAX.
std::optional<int> jobs_from(std::string_view text)
{
    if (text.empty() || text.size() > 3)
        return std::nullopt;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value > JOBS_MAX)
        return std::nullopt;
    return value == 0 ? processors_online() : value;
}

} // namespace

ParsedCommandLine parse_command_line(int argc, char* argv[])
{
    ParsedCommandLine parsed;
    RunOptions& options = parsed.options;
    // The two long options every command line tool is tried with, as the first word only.
    const std::string_view first = argc > 1 ? argv[1] : "";
    if (first == "--help" || first == "--version") {
        parsed.outcome = first == "--help" ? ParseOutcome::help : ParseOutcome::version;
        return parsed;
    }
    restart_getopt();
    opterr = 1;

    bool first_step = true;
    for (;;) {
        const int option = getopt(argc, argv, OPTION_STRING);
        if (option == -1) {
            if (first_step)
                return parsed; // no option at all
            break;
        }
        first_step = false;
        switch (option) {
        case 'c': select_mode(options, MODE_CREATE); break;
        case 't': select_mode(options, MODE_TEST_FILES); break;
        case 'T': select_mode(options, MODE_TEST_LIST); break;
        case 'm': select_mode(options, MODE_COUNT_MISSING); break;
        case 'a': options.add_all_files = true; break;
        case 'd': options.add_dates = true; break;
        case 'g': options.glftpd_mode = true; break;
        case 'w': options.win_sfv_mode = true; break;
        case 'l':
            options.use_banner = true;
            options.banner_path = optarg;
            break;
        case 'j':
            if (const std::optional<int> jobs = jobs_from(optarg)) {
                options.jobs = *jobs;
                break;
            }
            print_message("Oh mama! -j '%s': the number of workers must be 1 to %d, or 0 for "
                          "one per processor ... :-(\n",
                          shown_in_message(optarg).c_str(), JOBS_MAX);
            return parsed;
        case 'v': parsed.outcome = ParseOutcome::version; return parsed;
        default: return parsed; // unknown letter or -l without its argument
        }
    }

    // The operand test comes before the mode test.
    if (optind >= argc || options.mode_count != 1)
        return parsed;
    options.list_path = argv[optind];
    for (int i = optind + 1; i < argc; ++i)
        options.files.emplace_back(argv[i]);
    parsed.outcome = ParseOutcome::run;
    return parsed;
}

} // namespace zantra
