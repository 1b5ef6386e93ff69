// The command line: what is accepted, what prints the usage text, and -v.

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
#else
const std::string UNKNOWN_X = "zantra: illegal option -- x\n";
const std::string L_NEEDS_ARGUMENT = "zantra: option requires an argument -- l\n";
#endif

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
        {"VersionAlone", release, {"-v"}, 0, BANNER, ""},
        {"VersionAfterAMode", release, {"-c", "-v", "list.sfv"}, 0, BANNER, ""},
        {"VersionStopsBeforeLaterOptions", release, {"-v", "-x"}, 0, BANNER, ""},
        {"UnknownOptionBeforeVersion", release, {"-x", "-v"}, 1, usage, UNKNOWN_X},
    };
}

} // namespace

ZANTRA_CLI_CASES(CommandLine, command_line_cases);

} // namespace zantra_cli
