// The four operations. Each prints its own report and returns the process exit status.
#pragma once

#include "list/list_file_reader.h"
#include "ops/run_options.h"

namespace zantra
{

// How the operations take a list's unended last line: in glftpd mode the list may be an
// upload still arriving, so a line cut inside a name or a CRC must not count.
[[nodiscard]] inline LastLine last_line_of(const RunOptions& options)
{
    return options.glftpd_mode ? LastLine::needs_full_crc : LastLine::entry;
}

// -c: writes a new list of the chosen file operands. 0 when every chosen operand was listed
// and the list was written; 1 when the list cannot be written, or an operand was unreadable,
// too long for an SFV line, or would not read back from one.
[[nodiscard]] int run_create(const RunOptions& options);

// -t: tests the file operands against the list. 1 when any file is bad or missing, or the
// list cannot be opened; otherwise 0.
[[nodiscard]] int run_test_files(const RunOptions& options);

// -T: tests every listed file found in the current directory. 2 when any is missing, else 1
// when any is bad; 1 also when the list cannot be opened or is too long; otherwise 0.
[[nodiscard]] int run_test_list(const RunOptions& options);

// -m: counts the listed files present in the current directory without reading them. 0 once
// counted; 1 when the list cannot be opened or is too long.
[[nodiscard]] int run_count_missing(const RunOptions& options);

} // namespace zantra
