// What one run is asked to do: the operation and everything the command line gave it.
#pragma once

#include <string>
#include <vector>

namespace zantra
{

// The operation a run performs; the numbers are the program's own.
enum Mode : int {
    MODE_NONE = 0,
    MODE_CREATE = 1,
    MODE_TEST_FILES = 2,
    MODE_TEST_LIST = 3,
    MODE_COUNT_MISSING = 4,
};

// Everything the command line selects; read-only once parsed.
struct RunOptions {
    Mode mode = MODE_NONE;          // the last of -c, -t, -T, -m
    int mode_count = 0;             // every -c, -t, -T, -m, repeats included
    bool add_all_files = false;     // -a
    bool add_dates = false;         // -d
    bool glftpd_mode = false;       // -g
    bool win_sfv_mode = false;      // -w
    bool use_banner = false;        // -l
    std::string banner_path;        // argument of the last -l
    int jobs = 1;                   // -j: files read at once, 1 to 256 (-j 0: one per processor)
    std::string list_path;          // the first operand, exactly as given
    std::vector<std::string> files; // the operands after the first
};

} // namespace zantra
