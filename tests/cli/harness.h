// Runs the built zantra binary in a fresh temporary directory and compares everything it
// leaves behind: exit status, exact standard output and error, and the directory tree.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <sys/types.h>
#include <vector>

namespace zantra_cli
{

// 2004-05-06 14:01:07 UTC: the modification time given to every file a case sets up.
inline constexpr std::time_t FIXED_MTIME = 1083852067;

// A hard link is made before a run only; afterwards it is seen as the file it names.
enum class Kind { file, directory, symlink, fifo, socket, hard_link };

// One thing in the work directory, before or after a run. Paths are relative to the work
// directory; "../outside/..." names the sibling directory that no run should ever touch.
struct Entry {
    std::string path;
    Kind kind = Kind::file;
    std::string content;                     // file contents; symbolic link target
    mode_t mode = 0;                         // 0: 0644 for files, 0755 for directories
    std::optional<std::int64_t> sparse_size; // a file of this size made with truncate, no content
    std::time_t mtime = FIXED_MTIME;
};

Entry file(std::string path, std::string content, mode_t mode = 0);
Entry dir(std::string path, mode_t mode = 0);
Entry link(std::string path, std::string target);
Entry fifo(std::string path);
Entry unix_socket(std::string path); // a bound Unix-domain socket nobody listens on
Entry hard_link(std::string path, std::string existing); // `existing` as relative to work

// How a run's standard output and error are connected.
enum class Console {
    files,         // each to a file of its own
    one_pipe,      // both into one pipe, as with 2>&1 | cat; `out` expects both
    terminal,      // both on one pseudo-terminal; `out` expects both
    stdout_closed, // as with >&-; `out` expects nothing
    stderr_closed, // as with 2>&-; `err` expects nothing
    stdout_full,   // standard output is /dev/full
    stdout_unread, // a pipe whose reader has gone, as behind | head -1; `out` expects nothing
};

// The tree a case expects after its run: the whole of it, or, made by changes(), what differs
// from the tree before.
struct After {
    After(std::vector<Entry> tree) : entries(std::move(tree)) {} // NOLINT: a tree is an After
    std::vector<Entry> entries;
    bool relative = false;
};

// The tree before the run with `changed` made: an entry replaces the one of the same path, or is
// added after the others.
After changes(std::vector<Entry> changed);

struct Case {
    std::string name; // a test name: letters, digits and underscores
    std::vector<Entry> before;
    std::vector<std::string> args; // after argv[0], which is "zantra"
    int status = 0;
    std::string out;
    std::string err;
    // The tree after the run; when absent the tree must be exactly as before.
    std::optional<After> after;
    std::vector<std::string> env; // extra NAME=value settings
    // When set, gives the expected stdout from the names of the work directory in the order
    // readdir delivers them (taken before the run), for output in directory order.
    std::function<std::string(const std::vector<std::string>&)> out_by_order;
    // When set, standard input is a pipe that a helper process fills with this text and then
    // closes, so that "/dev/stdin" names a pipe; otherwise it is /dev/null.
    std::optional<std::string> stdin_content;
    // When set, the largest file the run may write (RLIMIT_FSIZE), with SIGXFSZ left at its
    // default as after "ulimit -f" in a shell: a write past it kills a program that does not
    // ignore the signal, and fails with EFBIG in one that does.
    std::optional<off_t> file_size_limit;
    Console console = Console::files;
};

// The case `c` with its standard streams connected as `console` says.
Case on_console(Case c, Console console);

// In args, out, err and expected contents, "@ROOT@" stands for the absolute path of the
// temporary directory that holds "work" and "outside". In expected file contents "@NOW@"
// matches a creation time such as "2004-05-06 at 14:03.22".
struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
    std::vector<Entry> tree;
    std::string root;                         // the temporary directory, removed by then
    std::vector<std::string> directory_order; // the work directory as readdir gave it
};

// The settings of ZANTRA_TEST_CHILD_ENV, a blank-separated list of NAME=value words (for
// example "POSIXLY_CORRECT=1 LC_ALL=C.UTF-8"), in order; none when it is unset or empty. Every
// case's child gets them, so that the whole suite can run again under another environment with
// the same expectations.
std::vector<std::string> suite_child_env();

// The child's environment: TZ=UTC, LC_ALL=C and PATH, then `suite_env`, then `case_env`, a
// later setting replacing an earlier one of the same name. A word without "=" fails the test.
std::vector<std::string> child_environment(const std::vector<std::string>& suite_env,
                                           const std::vector<std::string>& case_env);

// Sets up a fresh directory, runs the binary there (TZ=UTC, LC_ALL=C, umask 022, stdin
// /dev/null, killed after a minute) and returns what it produced; removes the directory. The
// child's environment is child_environment(suite_child_env(), c.env).
// When the environment variable ZANTRA_TEST_WRAPPER holds a command (words separated by
// blanks, such as "valgrind -q --error-exitcode=99"), the binary is run under it, found
// through PATH under its own name so that argv[0] stays "zantra". A wrapper that cannot search
// PATH (an emulator) names the binary's path with the word "@BINARY@" and sets argv[0] itself:
// "qemu-s390x-static -L /usr/s390x-linux-gnu -0 zantra @BINARY@".
Outcome run_case(const Case& c);

// What to execute for one run of the binary under test with `args` after argv[0], as run_case
// does it (ZANTRA_TEST_WRAPPER included): the program, its argv, and its environment, which is
// child_environment(suite_child_env(), env) with PATH set for the wrapper.
struct Command {
    std::string program;
    std::vector<std::string> argv;
    std::vector<std::string> env;
};
Command command_for(const std::vector<std::string>& args, const std::vector<std::string>& env);

// How start_run sets up a child: its working directory, standard input (-1: something the run
// needed could not be made, and the child ends with status 126 at once), standard output and
// error (-1: closed), and the largest file it may write, when limited.
struct ChildSetup {
    std::string directory;
    int in = -1;
    int out = -1;
    int err = -1;
    std::optional<off_t> file_size_limit;
};

// A run started in the background, and the time after which it counts as hung.
struct Started {
    pid_t pid = -1;
    std::chrono::steady_clock::time_point deadline;
};

// Starts `command` with the descriptors of `setup`, SIGPIPE at its default and umask 022, to be
// killed as hung after `seconds`; a child that cannot be set up ends with status 126, one whose
// program cannot be run with 127. The pid is -1 when fork fails.
Started start_run(Command command, const ChildSetup& setup, int seconds);

// Waits for a run and returns its wait status; -1 when it never started, or was still going at
// its deadline and has been killed.
int finish_run(const Started& run);

// Adds a GoogleTest failure, traced to the row's name, for every difference between the case's
// expectations and the outcome; a text that differs is shown from its first differing line.
void expect_outcome(const Case& c, const Outcome& outcome);

// The binary under test: the environment's ZANTRA_TEST_BINARY when set, else the one built.
std::string binary_path();

// The whole contents of a file; empty when it cannot be opened. Never waits on a FIFO.
std::string read_file(const std::string& path);

// The names in a directory but "." and "..", in the order readdir gives them; none when it
// cannot be opened.
std::vector<std::string> names_in(const std::string& directory);

// Creates or replaces a file (mode 0644 less the umask) holding `content`; a failure fails the
// test.
void write_file(const std::string& path, const std::string& content);

// Removes a file, or a directory with everything in it; failures are ignored.
void remove_tree(const std::string& path);

// A file under /tmp holding `content`, removed when this goes; a failure to make it fails the
// test.
struct ScratchFile {
    std::string path;
    explicit ScratchFile(const std::string& content);
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    ~ScratchFile();
};

// The CRC-32 of `content` as eight upper-case hex digits, computed with zlib.
std::string crc_of(const std::string& content);

// A CRC-32 as eight upper-case hex digits.
std::string crc_hex(unsigned long crc);

// The usage text as printed for argv[0] "zantra".
std::string usage_text();

// The line every run prints first.
inline const std::string BANNER = "ZANTRA for UNiX, $Revision: 1.18 $\n";

void PrintTo(const Case& c, std::ostream* os);

// True when GoogleTest's filter may select a test of the suite named `suite` ("Cases/Create"),
// so that a process builds only the case tables whose rows it may run.
bool selected(const std::string& suite);

} // namespace zantra_cli

// Registers every case of `cases_function()` as one GoogleTest test named Suite.<case name>,
// calling it only when the filter may select one of them.
#define ZANTRA_CLI_CASES(Suite, cases_function)                                                    \
    class Suite : public testing::TestWithParam<::zantra_cli::Case>                                \
    {                                                                                              \
    };                                                                                             \
    TEST_P(Suite, Run)                                                                             \
    {                                                                                              \
        ::zantra_cli::expect_outcome(GetParam(), ::zantra_cli::run_case(GetParam()));              \
    }                                                                                              \
    INSTANTIATE_TEST_SUITE_P(                                                                      \
        Cases, Suite,                                                                              \
        testing::ValuesIn(::zantra_cli::selected("Cases/" #Suite)                                  \
                              ? cases_function()                                                   \
                              : std::vector<::zantra_cli::Case>{}),                                \
        [](const testing::TestParamInfo<::zantra_cli::Case>& param) { return param.param.name; })
