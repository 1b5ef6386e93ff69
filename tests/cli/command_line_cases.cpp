// The command line: what is accepted, what prints the usage text, and -v; and the console:
// standard streams that are closed, full, unread or shared, and what the status then says.

#include "expected_output.h"
#include "harness.h"

#include <gtest/gtest.h>

namespace zantra_cli
{
namespace
{

// getopt's own diagnostics are worded by the C library.
#if defined(__GLIBC__)
const std::string UNKNOWN_X = "zantra: invalid option -- 'x'\n";
const std::string L_NEEDS_ARGUMENT = "zantra: option requires an argument -- 'l'\n";
const std::string J_NEEDS_ARGUMENT = "zantra: option requires an argument -- 'j'\n";
#else
const std::string UNKNOWN_X = "zantra: illegal option -- x\n";
const std::string L_NEEDS_ARGUMENT = "zantra: option requires an argument -- l\n";
const std::string J_NEEDS_ARGUMENT = "zantra: option requires an argument -- j\n";
#endif

// The one line a -j value that is no number of workers gets before the usage text.
std::string bad_jobs(const std::string& value)
{
    return "Oh mama! -j '" + value +
           "': the number of workers must be 1 to 256, or 0 for one per processor ... :-(\n";
}

std::vector<Case> command_line_cases()
{
    const std::string usage = BANNER + usage_text();
    const std::vector<Entry> release = {file("list.sfv", "a.r00 352441C2\r\n"),
                                        file("a.r00", "abc")};
    return {
        {"NoArguments", {}, {}, 1, usage, ""},
        {"ListNameWithoutOption", release, {"list.sfv"}, 1, usage, ""},
        {"OptionAfterTheListNameIsAnOperand", release, {"list.sfv", "-c"}, 1, usage, ""},
        {"OptionAfterTheListNameWithPosixlyCorrect",
         release,
         {"list.sfv", "-T"},
         1,
         usage,
         "",
         {},
         {"POSIXLY_CORRECT=1"}},
        {"DoubleHyphenFirstEndsTheOptionsAtOnce", release, {"--", "-c", "list.sfv"}, 1, usage, ""},
        {"TwoModes", release, {"-c", "-t", "list.sfv"}, 1, usage, ""},
        {"SameModeTwice", release, {"-c", "-c", "list.sfv"}, 1, usage, ""},
        {"ModesSharingOneWord", release, {"-mT", "list.sfv"}, 1, usage, ""},
        {"ModeWithoutListName", release, {"-c"}, 1, usage, ""},
        {"TwoModesWithoutListNameFailsOnTheOperand", release, {"-c", "-t"}, 1, usage, ""},
        {"FlagWithoutMode", release, {"-a", "list.sfv"}, 1, usage, ""},
        {"UnknownOption", release, {"-x", "-c", "list.sfv"}, 1, usage, UNKNOWN_X},
        {"BannerOptionWithoutArgument", release, {"-c", "-l"}, 1, usage, L_NEEDS_ARGUMENT},
        {"JobsWithoutArgument", release, {"-c", "-j"}, 1, usage, J_NEEDS_ARGUMENT},
        // Nothing is read or created: the list named after a bad value is never opened.
        {"JobsNotANumber", release, {"-c", "-j", "x", "new.sfv", "a.r00"}, 1, usage, bad_jobs("x")},
        {"JobsNegative", release, {"-T", "-j", "-1", "list.sfv"}, 1, usage, bad_jobs("-1")},
        {"JobsEmpty", release, {"-j", "", "-T", "list.sfv"}, 1, usage, bad_jobs("")},
        {"JobsFraction", release, {"-j2.5", "-T", "list.sfv"}, 1, usage, bad_jobs("2.5")},
        {"JobsWithSuffix", release, {"-j", "1k", "-T", "list.sfv"}, 1, usage, bad_jobs("1k")},
        {"JobsAboveTheRange", release, {"-j", "257", "-T", "list.sfv"}, 1, usage, bad_jobs("257")},
        {"JobsHuge",
         release,
         {"-j", "99999999999", "-T", "list.sfv"},
         1,
         usage,
         bad_jobs("99999999999")},
        {"VersionAlone", release, {"-v"}, 0, BANNER, ""},
        {"VersionAfterAMode", release, {"-c", "-v", "list.sfv"}, 0, BANNER, ""},
        {"VersionStopsBeforeLaterOptions", release, {"-v", "-x"}, 0, BANNER, ""},
        {"UnknownOptionBeforeVersion", release, {"-x", "-v"}, 1, usage, UNKNOWN_X},
        {"HelpAsTheFirstWord", release, {"--help", "-c", "list.sfv"}, 0, usage, ""},
        {"LongVersionAsTheFirstWord", release, {"--version"}, 0, BANNER, ""},
    };
}

// Console output never decides what is done on disk; a report that was lost fails the run.
std::vector<Case> console_cases()
{
    const std::string lost = "Oh mama! I can't write to standard output ... :-(\n";
    const std::vector<Entry> volumes = {file("a.r00", "abc"), file("b.r00", "bee")};
    const std::string sfv = entry_line("a.r00", "abc") + entry_line("b.r00", "bee");
    const std::vector<Entry> written = with(volumes, {file("l.sfv", GENERATED + sfv)});
    const std::vector<Entry> half = {file("l.sfv", sfv), file("a.r00", "abc")};
    const std::vector<std::string> create = {"-c", "l.sfv", "a.r00", "b.r00"};
    return {
        on_console({"ClosedStdoutIsNeverTheList", volumes, create, 1, "", lost, written},
                   Console::stdout_closed),
        on_console({"ClosedStderrIsNeverTheList",
                    volumes,
                    {"-c", "l.sfv", "gone.r01", "a.r00", "b.r00"},
                    1,
                    create_heading("l.sfv") + adding_missing("gone.r01") + adding("a.r00", "abc") +
                        adding("b.r00", "bee") + created(2),
                    "",
                    written},
                   Console::stderr_closed),
        on_console({"ReaderGoneListIsWrittenWhole", volumes, create, 1, "", lost, written},
                   Console::stdout_unread),
        on_console({"GlftpdReaderGoneMarkersAreStillKept",
                    half,
                    {"-g", "-T", "l.sfv"},
                    2,
                    "",
                    lost,
                    with(half, {file("b.r00.missing", ""), dir(completion("050"), 0777)})},
                   Console::stdout_unread),
        on_console({"FullStdoutFailsACountThatWouldSucceed", half, {"-m", "l.sfv"}, 1, "", lost},
                   Console::stdout_full),
        on_console({"FullStdoutFailsTheVersion", {}, {"-v"}, 1, "", lost}, Console::stdout_full),
        on_console({"OnePipeRefusalComesAfterTheLineBeforeIt",
                    with(volumes, {file("#c.r00", "c")}),
                    {"-c", "l.sfv", "a.r00", "#c.r00", "b.r00"},
                    1,
                    create_heading("l.sfv") + adding("a.r00", "abc") +
                        "Oh mama! #c.r00 cannot be read back from an SFV line ... omitting!\n" +
                        adding("b.r00", "bee") + created(2),
                    "",
                    with(written, {file("#c.r00", "c")})},
                   Console::one_pipe),
        on_console({"OnePipeGetoptDiagnosticComesAfterTheVersionLine",
                    {},
                    {"-x", "-c", "l.sfv"},
                    1,
                    BANNER + UNKNOWN_X + usage_text()},
                   Console::one_pipe),
    };
}

} // namespace

ZANTRA_CLI_CASES(CommandLine, command_line_cases);
ZANTRA_CLI_CASES(ConsoleStreams, console_cases);

} // namespace zantra_cli
