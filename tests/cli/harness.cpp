#include "harness.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#ifndef ZANTRA_BINARY
#error "ZANTRA_BINARY must name the binary under test"
#endif

namespace zantra_cli
{
namespace
{

constexpr int TIMEOUT_SECONDS = 60;
constexpr off_t LARGEST_COMPARED_FILE = 16 << 20;

std::string replace_all(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// Shows control bytes and bytes above 0x7E so that CR, LF and trailing blanks are visible.
std::string visible(const std::string& text)
{
    std::string shown;
    for (const char byte : text) {
        const auto c = static_cast<unsigned char>(byte);
        if (c == '\n')
            shown += "\\n\n";
        else if (c == '\r')
            shown += "\\r";
        else if (c == '\t')
            shown += "\\t";
        else if (c < 0x20 || c > 0x7E) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            shown += hex;
        } else
            shown += static_cast<char>(c);
    }
    return shown;
}

mode_t default_mode(Kind kind)
{
    return kind == Kind::directory ? 0755 : 0644;
}

void create_entry(const std::string& work, const Entry& entry, const std::string& root)
{
    const std::string path = work + "/" + entry.path;
    const mode_t mode = entry.mode != 0 ? entry.mode : default_mode(entry.kind);
    switch (entry.kind) {
    case Kind::file:
        if (entry.sparse_size) {
            write_file(path, "");
            const auto size = static_cast<off_t>(*entry.sparse_size);
            ASSERT_EQ(size, *entry.sparse_size) << path << ": off_t is too narrow for the size";
            ASSERT_EQ(truncate(path.c_str(), size), 0) << path;
        } else
            write_file(path, replace_all(entry.content, "@ROOT@", root));
        break;
    case Kind::directory:
        ASSERT_EQ(mkdir(path.c_str(), 0700), 0) << path << ": " << std::strerror(errno);
        break;
    case Kind::symlink:
        ASSERT_EQ(symlink(replace_all(entry.content, "@ROOT@", root).c_str(), path.c_str()), 0)
            << path;
        return;
    case Kind::fifo: ASSERT_EQ(mkfifo(path.c_str(), 0600), 0) << path; break;
    case Kind::hard_link:
        ASSERT_EQ(::link((work + "/" + entry.content).c_str(), path.c_str()), 0)
            << path << ": " << std::strerror(errno);
        return;
    case Kind::socket: {
        struct sockaddr_un address {
        };
        address.sun_family = AF_UNIX;
        ASSERT_LT(path.size(), sizeof address.sun_path) << path;
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_GE(fd, 0) << std::strerror(errno);
        const int bound =
            bind(fd, reinterpret_cast<const struct sockaddr*>(&address), sizeof address);
        close(fd);
        ASSERT_EQ(bound, 0) << path << ": " << std::strerror(errno);
        break;
    }
    }
    ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
}

void set_mtime(const std::string& work, const Entry& entry)
{
    if (entry.kind != Kind::file)
        return;
    const struct timespec times[2] = {{entry.mtime, 0}, {entry.mtime, 0}};
    EXPECT_EQ(utimensat(AT_FDCWD, (work + "/" + entry.path).c_str(), times, 0), 0) << entry.path;
}

void snapshot(const std::string& directory, const std::string& prefix, std::vector<Entry>& tree)
{
    for (const std::string& name : names_in(directory)) {
        const std::string path = directory + "/" + name;
        struct stat info {
        };
        if (lstat(path.c_str(), &info) != 0)
            continue;
        Entry entry;
        entry.path = prefix + name;
        entry.mode = info.st_mode & 07777;
        if (S_ISDIR(info.st_mode)) {
            entry.kind = Kind::directory;
            tree.push_back(entry);
            snapshot(path, entry.path + "/", tree);
            continue;
        }
        if (S_ISLNK(info.st_mode)) {
            entry.kind = Kind::symlink;
            char target[4096];
            const ssize_t length = readlink(path.c_str(), target, sizeof target);
            entry.content.assign(target, length > 0 ? static_cast<std::size_t>(length) : 0);
        } else if (S_ISFIFO(info.st_mode)) {
            entry.kind = Kind::fifo;
        } else if (S_ISSOCK(info.st_mode)) {
            entry.kind = Kind::socket;
        } else if (info.st_size > LARGEST_COMPARED_FILE) {
            entry.sparse_size = info.st_size;
        } else {
            entry.content = read_file(path);
        }
        tree.push_back(entry);
    }
}

// Puts NAME=value into `env`, replacing an earlier setting of the same name, so that the
// child sees one value per name whatever order its C library searches in.
void put_setting(std::vector<std::string>& env, const std::string& setting)
{
    const std::size_t equals = setting.find('=');
    if (equals == 0 || equals == std::string::npos) {
        ADD_FAILURE() << "not a NAME=value setting: \"" << setting << "\"";
        return;
    }
    const std::string prefix = setting.substr(0, equals + 1);
    const auto same_name = [&](const std::string& have) { return have.rfind(prefix, 0) == 0; };
    env.erase(std::remove_if(env.begin(), env.end(), same_name), env.end());
    env.push_back(setting);
}

// The blank-separated words of the environment variable `name`; none when it is unset.
std::vector<std::string> words_of(const char* name)
{
    std::vector<std::string> words;
    const char* text = std::getenv(name);
    std::istringstream stream(text != nullptr ? text : "");
    for (std::string word; stream >> word;)
        words.push_back(word);
    return words;
}

// True when some name that starts with `prefix` may match the GoogleTest pattern `pattern`.
bool may_match(const std::string& pattern, const std::string& prefix)
{
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (i < pattern.size() && pattern[i] == '*')
            return true;
        if (i >= pattern.size() || (pattern[i] != '?' && pattern[i] != prefix[i]))
            return false;
    }
    return true;
}

// The program to exec for `name`: itself when it holds a "/", else the first hit in PATH.
std::string find_program(const std::string& name)
{
    if (name.find('/') != std::string::npos)
        return name;
    const char* path = std::getenv("PATH");
    std::istringstream directories(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string directory; std::getline(directories, directory, ':');)
        if (access((directory + "/" + name).c_str(), X_OK) == 0)
            return directory + "/" + name;
    return name;
}

// Starts a helper that writes `content` into the pipe `fds` and ends; returns its id.
pid_t start_pipe_writer(const int fds[2], const std::string& content)
{
    const pid_t writer = fork();
    if (writer == 0) {
        signal(SIGPIPE, SIG_IGN);
        close(fds[0]);
        for (std::size_t done = 0; done < content.size();) {
            const ssize_t put = write(fds[1], content.data() + done, content.size() - done);
            if (put <= 0)
                _exit(1);
            done += static_cast<std::size_t>(put);
        }
        _exit(0);
    }
    return writer;
}

// Starts a helper that copies what can be read from `from` to the file `path` until the
// other end is gone: the last writer of a pipe, or every user of a terminal's other side.
// The helper closes `others` first, so that it keeps no other end open itself.
pid_t start_collector(int from, const std::string& path, const std::vector<int>& others)
{
    std::fflush(nullptr);
    const pid_t collector = fork();
    if (collector == 0) {
        for (const int fd : others)
            close(fd);
        const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        char buffer[65536];
        for (ssize_t got; (got = read(from, buffer, sizeof buffer)) > 0;)
            if (out < 0 || write(out, buffer, static_cast<std::size_t>(got)) != got)
                _exit(1);
        _exit(0);
    }
    close(from);
    return collector;
}

// The run's standard output and error as the case connects them, and the helpers that
// collect what arrives through pipes or a terminal into the files "stdout" and "stderr".
struct Streams {
    int out = -1; // -1: the run starts with the descriptor closed
    int err = -1;
    std::vector<int> parent_ends; // closed by the test once the run has started
    std::vector<pid_t> collectors;
};

// A pipe whose reading end a collector copies to `path`; its writing end, or -1.
int collected_pipe(const std::string& path, Streams& streams)
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    std::vector<int> others = streams.parent_ends;
    others.push_back(fds[1]);
    streams.collectors.push_back(start_collector(fds[0], path, others));
    streams.parent_ends.push_back(fds[1]);
    return fds[1];
}

// The other side of a new pseudo-terminal that passes output on unchanged (no CR added before
// each line feed); a collector copies what arrives to `path`. -1 on failure.
int collected_terminal(const std::string& path, Streams& streams)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return -1;
    const int side = open(ptsname(master), O_RDWR | O_NOCTTY);
    struct termios settings {
    };
    if (side < 0 || tcgetattr(side, &settings) != 0)
        return -1;
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    if (tcsetattr(side, TCSANOW, &settings) != 0)
        return -1;
    std::vector<int> others = streams.parent_ends;
    others.push_back(side);
    streams.collectors.push_back(start_collector(master, path, others));
    streams.parent_ends.push_back(side);
    return side;
}

int output_file(const std::string& path, Streams& streams)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    streams.parent_ends.push_back(fd);
    return fd;
}

Streams connect_streams(const std::string& root, const Case& c)
{
    Streams streams;
    const std::string out = root + "/stdout", err = root + "/stderr";
    switch (c.console) {
    case Console::files:
        // Through pipes when a file-size limit applies, which pipes escape.
        streams.out = c.file_size_limit ? collected_pipe(out, streams) : output_file(out, streams);
        streams.err = c.file_size_limit ? collected_pipe(err, streams) : output_file(err, streams);
        break;
    case Console::one_pipe: streams.out = streams.err = collected_pipe(out, streams); break;
    case Console::terminal: streams.out = streams.err = collected_terminal(out, streams); break;
    case Console::stdout_closed: streams.err = output_file(err, streams); break;
    case Console::stderr_closed: streams.out = output_file(out, streams); break;
    case Console::stdout_full:
        streams.out = output_file("/dev/full", streams);
        streams.err = output_file(err, streams);
        break;
    case Console::stdout_unread: {
        int fds[2] = {-1, -1};
        if (pipe(fds) == 0)
            close(fds[0]);
        streams.out = fds[1];
        streams.parent_ends.push_back(fds[1]);
        streams.err = output_file(err, streams);
        break;
    }
    }
    return streams;
}

// Makes `fd` the standard descriptor `target` of the run, or closes `target` when `fd` is -1.
bool put_stream(int fd, int target)
{
    return fd < 0 ? close(target) == 0 || errno == EBADF : dup2(fd, target) == target;
}

// Runs the binary in `work` and returns its wait status, or -1 when it had to be killed.
int spawn(const std::string& root, const Case& c)
{
    std::vector<std::string> args;
    for (const std::string& arg : c.args)
        args.push_back(replace_all(arg, "@ROOT@", root));
    // Both ends close on exec: the run must see the end of its input once the writer is done.
    int input[2] = {-1, -1};
    if (c.stdin_content && pipe2(input, O_CLOEXEC) != 0)
        return -1;
    std::fflush(nullptr);
    const pid_t writer = c.stdin_content ? start_pipe_writer(input, *c.stdin_content) : -1;
    Streams streams = connect_streams(root, c);
    const int in = c.stdin_content ? input[0] : open("/dev/null", O_RDONLY);
    const bool wanted = (streams.out >= 0 || c.console == Console::stdout_closed) &&
                        (streams.err >= 0 || c.console == Console::stderr_closed);
    const ChildSetup setup{root + "/work", wanted ? in : -1, streams.out, streams.err,
                           c.file_size_limit};
    const Started run = start_run(command_for(args, c.env), setup, TIMEOUT_SECONDS);
    streams.parent_ends.insert(streams.parent_ends.end(), {in, input[1]});
    for (const int fd : streams.parent_ends)
        if (fd >= 0)
            close(fd);
    const int status = finish_run(run);
    for (const pid_t collector : streams.collectors)
        if (collector > 0)
            waitpid(collector, nullptr, 0);
    if (writer > 0) {
        kill(writer, SIGKILL);
        waitpid(writer, nullptr, 0);
    }
    return status;
}

// True when `got` equals `expected`, where "@NOW@" in `expected` matches a creation time.
bool matches_with_times(const std::string& expected, const std::string& got)
{
    static const std::string TOKEN = "@NOW@";
    static const std::string SHAPE = "dddd-dd-dd at dd:dd.dd";
    std::size_t e = 0, g = 0;
    while (e < expected.size()) {
        if (expected.compare(e, TOKEN.size(), TOKEN) == 0) {
            if (got.size() - g < SHAPE.size())
                return false;
            for (std::size_t i = 0; i < SHAPE.size(); ++i) {
                const char c = got[g + i];
                if (SHAPE[i] == 'd' ? (c < '0' || c > '9') : c != SHAPE[i])
                    return false;
            }
            e += TOKEN.size();
            g += SHAPE.size();
        } else {
            if (g >= got.size() || got[g] != expected[e])
                return false;
            ++e;
            ++g;
        }
    }
    return g == got.size();
}

// The lines of `text`, each with its line feed where it has one.
std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size() - 1) + 1;
        lines.push_back(text.substr(at, end - at));
        at = end;
    }
    return lines;
}

// Line `index` of `lines` and the few around it, numbered from 1 and made visible, the line
// itself marked with ">"; past the last line, "(end)" is shown there.
std::string excerpt(const std::vector<std::string>& lines, std::size_t index)
{
    constexpr std::size_t AROUND = 2;
    std::string shown;
    for (std::size_t i = index > AROUND ? index - AROUND : 0; i <= index + AROUND; ++i) {
        if (i > lines.size() || (i == lines.size() && i != index))
            break;
        shown += (i == index ? "  > " : "    ") + std::to_string(i + 1) + ": ";
        shown += i < lines.size() ? visible(lines[i]) : "(end)";
        if (shown.back() != '\n')
            shown += '\n';
    }
    return shown;
}

// Where `got` first departs from `expected`, line by line ("@NOW@" matching a creation time):
// that line's number and the lines around it on both sides.
std::string line_difference(const std::string& expected, const std::string& got)
{
    const std::vector<std::string> want = lines_of(expected), have = lines_of(got);
    std::size_t first = 0;
    while (first < want.size() && first < have.size() &&
           matches_with_times(want[first], have[first]))
        ++first;
    return "differs at line " + std::to_string(first + 1) + "\nexpected:\n" + excerpt(want, first) +
           "got:\n" + excerpt(have, first);
}

const char* kind_name(Kind kind)
{
    switch (kind) {
    case Kind::file: return "file";
    case Kind::directory: return "directory";
    case Kind::symlink: return "symlink";
    case Kind::fifo: return "fifo";
    case Kind::socket: return "socket";
    case Kind::hard_link: return "hard link";
    }
    return "?";
}

// The tree `c` expects after its run.
std::vector<Entry> expected_tree(const Case& c)
{
    if (!c.after)
        return c.before;
    if (!c.after->relative)
        return c.after->entries;
    std::vector<Entry> tree = c.before;
    for (const Entry& change : c.after->entries) {
        const auto same = std::find_if(tree.begin(), tree.end(),
                                       [&](const Entry& have) { return have.path == change.path; });
        if (same != tree.end())
            *same = change;
        else
            tree.push_back(change);
    }
    return tree;
}

void expect_tree(const std::vector<Entry>& expected_entries, std::vector<Entry> got,
                 const std::string& root)
{
    std::vector<Entry> expected = expected_entries;
    auto by_path = [](const Entry& a, const Entry& b) { return a.path < b.path; };
    std::sort(expected.begin(), expected.end(), by_path);
    std::sort(got.begin(), got.end(), by_path);
    std::string expected_names, got_names;
    for (const Entry& entry : expected)
        expected_names += entry.path + "\n";
    for (const Entry& entry : got)
        got_names += entry.path + "\n";
    ASSERT_EQ(expected_names, got_names) << "the names in the directory differ";
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Entry& want = expected[i];
        const Entry& have = got[i];
        EXPECT_EQ(kind_name(want.kind), std::string(kind_name(have.kind))) << want.path;
        if (want.kind != Kind::symlink) {
            const mode_t mode = want.mode != 0 ? want.mode : default_mode(want.kind);
            EXPECT_EQ(mode, have.mode)
                << want.path << std::oct << ": mode " << mode << " expected, got " << have.mode;
        }
        if (want.sparse_size) {
            EXPECT_EQ(want.sparse_size, have.sparse_size) << want.path << ": size";
        } else if (want.kind == Kind::file || want.kind == Kind::symlink) {
            const std::string content = replace_all(want.content, "@ROOT@", root);
            if (!matches_with_times(content, have.content))
                ADD_FAILURE() << want.path << ": contents "
                              << line_difference(content, have.content);
        }
    }
}

} // namespace

Command command_for(const std::vector<std::string>& args, const std::vector<std::string>& env)
{
    const std::string binary = binary_path();
    Command command{binary, words_of("ZANTRA_TEST_WRAPPER"),
                    child_environment(suite_child_env(), env)};
    if (command.argv.empty()) {
        command.argv.emplace_back("zantra");
    } else {
        command.program = find_program(command.argv.front());
        const auto named = std::find(command.argv.begin(), command.argv.end(), "@BINARY@");
        if (named != command.argv.end())
            *named = binary;
        else // the wrapper finds the binary through PATH, under its own name
            command.argv.emplace_back("zantra");
        put_setting(command.env,
                    "PATH=" + binary.substr(0, binary.rfind('/') + 1) + ":/usr/bin:/bin");
    }
    command.argv.insert(command.argv.end(), args.begin(), args.end());
    return command;
}

Started start_run(Command command, const ChildSetup& setup, int seconds)
{
    std::vector<char*> argv, envp;
    for (std::string& word : command.argv)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    for (std::string& setting : command.env)
        envp.push_back(setting.data());
    envp.push_back(nullptr);
    std::fflush(nullptr);
    const Started run{fork(), std::chrono::steady_clock::now() + std::chrono::seconds(seconds)};
    if (run.pid == 0) {
        if (setup.in < 0 || dup2(setup.in, 0) < 0 || !put_stream(setup.out, 1) ||
            !put_stream(setup.err, 2) || chdir(setup.directory.c_str()) != 0)
            _exit(126);
        signal(SIGPIPE, SIG_DFL);
        if (setup.file_size_limit) {
            signal(SIGXFSZ, SIG_DFL); // as after "ulimit -f" in a shell: the signal ends a writer
            const auto limit = static_cast<rlim_t>(*setup.file_size_limit);
            const struct rlimit size_limit = {limit, limit};
            if (setrlimit(RLIMIT_FSIZE, &size_limit) != 0)
                _exit(126);
        }
        umask(022);
        execve(command.program.c_str(), argv.data(), envp.data());
        _exit(127);
    }
    return run;
}

int finish_run(const Started& run)
{
    int status = -1;
    while (run.pid > 0 && waitpid(run.pid, &status, WNOHANG) != run.pid) {
        if (std::chrono::steady_clock::now() > run.deadline) {
            kill(run.pid, SIGKILL);
            waitpid(run.pid, &status, 0);
            return -1;
        }
        usleep(2000);
    }
    return run.pid > 0 ? status : -1;
}

std::vector<std::string> names_in(const std::string& directory)
{
    std::vector<std::string> names;
    if (DIR* stream = opendir(directory.c_str())) {
        while (const struct dirent* item = readdir(stream))
            if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0)
                names.emplace_back(item->d_name);
        closedir(stream);
    }
    return names;
}

std::string binary_path()
{
    const char* other = std::getenv("ZANTRA_TEST_BINARY");
    return other != nullptr && *other != '\0' ? other : ZANTRA_BINARY;
}

std::string read_file(const std::string& path)
{
    std::string content;
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return content;
    char buffer[65536];
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;)
        content.append(buffer, static_cast<std::size_t>(got));
    close(fd);
    return content;
}

void write_file(const std::string& path, const std::string& content)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path << ": " << std::strerror(errno);
    ASSERT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    close(fd);
}

void remove_tree(const std::string& path)
{
    struct stat info {
    };
    if (lstat(path.c_str(), &info) != 0)
        return;
    if (S_ISDIR(info.st_mode)) {
        chmod(path.c_str(), 0700);
        for (const std::string& name : names_in(path))
            remove_tree(path + "/" + name);
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

std::vector<std::string> suite_child_env()
{
    return words_of("ZANTRA_TEST_CHILD_ENV");
}

std::vector<std::string> child_environment(const std::vector<std::string>& suite_env,
                                           const std::vector<std::string>& case_env)
{
    std::vector<std::string> env{"TZ=UTC", "LC_ALL=C", "PATH=/usr/bin:/bin"};
    for (const std::string& setting : suite_env)
        put_setting(env, setting);
    for (const std::string& setting : case_env)
        put_setting(env, setting);
    return env;
}

Entry file(std::string path, std::string content, mode_t mode)
{
    return {std::move(path), Kind::file, std::move(content), mode};
}

Entry dir(std::string path, mode_t mode)
{
    return {std::move(path), Kind::directory, "", mode};
}

Entry link(std::string path, std::string target)
{
    return {std::move(path), Kind::symlink, std::move(target)};
}

Entry fifo(std::string path)
{
    return {std::move(path), Kind::fifo};
}

Entry unix_socket(std::string path)
{
    return {std::move(path), Kind::socket};
}

Entry hard_link(std::string path, std::string existing)
{
    return {std::move(path), Kind::hard_link, std::move(existing)};
}

Case on_console(Case c, Console console)
{
    c.console = console;
    return c;
}

After changes(std::vector<Entry> changed)
{
    After after(std::move(changed));
    after.relative = true;
    return after;
}

Outcome run_case(const Case& c)
{
    SCOPED_TRACE("row " + c.name);
    Outcome outcome;
    char root_template[] = "/tmp/zantra-cli-XXXXXX";
    const char* made = mkdtemp(root_template);
    if (made == nullptr) {
        ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
        return outcome;
    }
    const std::string root = made;
    outcome.root = root;
    const std::string work = root + "/work";
    mkdir(work.c_str(), 0755);
    mkdir((root + "/outside").c_str(), 0755);
    for (const Entry& entry : c.before)
        create_entry(work, entry, root);
    for (const Entry& entry : c.before)
        set_mtime(work, entry);

    outcome.directory_order = names_in(work);
    const int status = spawn(root, c);
    if (status == -1)
        ADD_FAILURE() << "zantra did not end within " << TIMEOUT_SECONDS << " s and was killed";
    else if (WIFSIGNALED(status))
        ADD_FAILURE() << "zantra died of signal " << WTERMSIG(status);
    else
        outcome.status = WEXITSTATUS(status);
    outcome.out = read_file(root + "/stdout");
    outcome.err = read_file(root + "/stderr");
    snapshot(work, "", outcome.tree);
    snapshot(root + "/outside", "../outside/", outcome.tree);
    remove_tree(root);
    return outcome;
}

void expect_outcome(const Case& c, const Outcome& outcome)
{
    SCOPED_TRACE("row " + c.name);
    EXPECT_EQ(c.status, outcome.status) << "exit status";
    const std::string out = replace_all(
        c.out_by_order ? c.out_by_order(outcome.directory_order) : c.out, "@ROOT@", outcome.root);
    const std::string err = replace_all(c.err, "@ROOT@", outcome.root);
    if (out != outcome.out)
        ADD_FAILURE() << "stdout " << line_difference(out, outcome.out);
    if (err != outcome.err)
        ADD_FAILURE() << "stderr " << line_difference(err, outcome.err);
    expect_tree(expected_tree(c), outcome.tree, outcome.root);
}

ScratchFile::ScratchFile(const std::string& content)
{
    char name[] = "/tmp/zantra-scratch-XXXXXX";
    const int fd = mkstemp(name);
    EXPECT_GE(fd, 0) << "mkstemp: " << std::strerror(errno);
    if (fd >= 0)
        close(fd);
    path = name;
    write_file(path, content);
}

ScratchFile::~ScratchFile()
{
    unlink(path.c_str());
}

std::string crc_of(const std::string& content)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, reinterpret_cast<const Bytef*>(content.data()),
                static_cast<uInt>(content.size()));
    return crc_hex(crc);
}

std::string crc_hex(unsigned long crc)
{
    char hex[16];
    std::snprintf(hex, sizeof hex, "%08lX", crc);
    return hex;
}

std::string usage_text()
{
    return "\nUsage: zantra mode [option] sfv-filename [filename...]\n\n"
           "Possible modes: -c : create SFV file (only read .rar file as default, see -a)\n"
           "                -t : test single file(s) (multiple filenames possible)\n"
           "                -T : test whole SFV file\n"
           "                -m : count missing files\n"
           "Options:        -l <filename> : use <filename> as banner file (create mode)\n"
           "                -w : Win-SFV emulation mode                   (create mode)\n"
           "                -a : add all files to .sfv (even .nfo etc.)   (create mode)\n"
           "                -d : add files' dates & times to SFV file     (create mode)\n"
           "                -g : glftpd mode     (counting and test whole mode)\n\n"
           "Examples:\n"
           "(1) Create test.sfv and add test.* to it       : zantra -c test.sfv test.*\n"
           "(2) Check file test.r02 against CRC in test.sfv: zantra -t test.sfv test.r02\n"
           "(3) Check all files listed in test.sfv         : zantra -T test.sfv\n"
           "(4) Count number of files missing of test.sfv  : zantra -m test.sfv\n"
           "(5) Create myrls.sfv with myrls.* in it, use Win-SFV compatibility mode and file\n"
           "/tmp/mylogo.nfo as banner: zantra -c -w -l /tmp/mylogo.nfo myrls.sfv myrls.*\n"
           "\n"
           "Read documentation files for more help and check for updates regularily!\n\n";
}

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

bool selected(const std::string& suite)
{
    const std::string filter = GTEST_FLAG_GET(filter);
    const std::string positive = filter.substr(0, filter.find('-'));
    std::istringstream patterns(positive.empty() ? "*" : positive);
    for (std::string pattern; std::getline(patterns, pattern, ':');)
        if (may_match(pattern, suite + "."))
            return true;
    return false;
}

} // namespace zantra_cli
