// The command line: options, operands and what they select.
#pragma once

#include "ops/run_options.h"

namespace zantra
{

enum class ParseOutcome {
    run,     // options are valid: run options.mode
    usage,   // print the usage text and end with status 1
    version, // -v or --version: end at once with status 0
    help,    // --help: print the usage text and end with status 0
};

struct ParsedCommandLine {
    ParseOutcome outcome = ParseOutcome::usage;
    RunOptions options;
};

// Parses argv with POSIX getopt rules and the option string "acdgmtTvwj:l:": options stop at
// the first operand or at "--", and words after the first operand are operands even when they
// begin with "-". A first word "--help" or "--version" is read alone, as the request it names.
// getopt's own diagnostics go to standard error, and so does one line for a -j value that is
// no whole number from 0 to 256 (then the outcome is usage). Can be called more than once in
// one process.
[[nodiscard]] ParsedCommandLine parse_command_line(int argc, char* argv[]);

} // namespace zantra
