// Load and large inputs, run against the built binary: several glftpd-mode runs in one
// release directory while its files are renamed away and back; a file cut and regrown while
// it is read; a 5 GiB sparse file; a directory of 50 000 entries beside a 1024-entry list.
// Every wait is bounded; a run still going after a minute is killed and counted as a hang.

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
#include <fcntl.h>
#include <set>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

using zantra_cli::crc_hex;
using zantra_cli::crc_of;
using zantra_cli::names_in;
using zantra_cli::read_file;
using zantra_cli::remove_tree;
using zantra_cli::write_file;

constexpr int HANG_SECONDS = 60;

std::string make_temp_dir()
{
    char name[] = "/tmp/zantra-load-XXXXXX";
    const char* made = mkdtemp(name);
    return made != nullptr ? made : "";
}

// Every name in a directory with its kind and, for files, contents: what two runs must agree on.
std::set<std::string> listing(const std::string& directory)
{
    std::set<std::string> names;
    for (const std::string& name : names_in(directory)) {
        struct stat info {
        };
        lstat((directory + "/" + name).c_str(), &info);
        names.insert(name + (S_ISDIR(info.st_mode)
                                 ? " dir " + std::to_string(info.st_mode & 07777)
                                 : " file " + crc_of(read_file(directory + "/" + name))));
    }
    return names;
}

// Starts a run in `directory` with its standard output to `out_path`, its error to /dev/null.
zantra_cli::Started start(const std::string& directory, const std::vector<std::string>& args,
                          const std::string& out_path)
{
    const zantra_cli::ChildSetup setup{directory, open("/dev/null", O_RDONLY),
                                       open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600),
                                       open("/dev/null", O_WRONLY), std::nullopt};
    const zantra_cli::Started run =
        zantra_cli::start_run(zantra_cli::command_for(args, {}), setup, HANG_SECONDS);
    for (const int fd : {setup.in, setup.out, setup.err})
        if (fd >= 0)
            close(fd);
    return run;
}

// Waits for a run; the exit status, or -1 when it died of a signal or was killed as hung.
int finish(const zantra_cli::Started& run)
{
    const int status = zantra_cli::finish_run(run);
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Result {
    int status = -1;
    std::string out;
};

Result run(const std::string& directory, const std::vector<std::string>& args)
{
    const std::string out_path = directory + "/../stdout";
    Result result;
    result.status = finish(start(directory, args, out_path));
    result.out = read_file(out_path);
    unlink(out_path.c_str());
    return result;
}

// A small deterministic generator, so that a failure can be replayed.
struct Random {
    unsigned long long state;
    unsigned next(unsigned bound)
    {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<unsigned>((state >> 33) % bound);
    }
};

constexpr int PRESENT = 24;
constexpr int LISTED = 30;

std::string volume_name(int i)
{
    char name[32];
    std::snprintf(name, sizeof name, "rel.r%02d", i);
    return name;
}

std::string volume_content(int i)
{
    std::string content(256 * 1024, '\0');
    for (std::size_t at = 0; at < content.size(); ++at)
        content[at] = static_cast<char>((at * 7 + static_cast<std::size_t>(i) * 131) & 0xFF);
    return content;
}

// A release of PRESENT volumes and a list of LISTED, some of them absent.
void make_release(const std::string& directory)
{
    std::string list;
    for (int i = 0; i < LISTED; ++i) {
        list += volume_name(i) + " " + crc_of(volume_content(i)) + "\r\n";
        if (i < PRESENT)
            write_file(directory + "/" + volume_name(i), volume_content(i));
    }
    write_file(directory + "/rel.sfv", list);
}

// Renames volumes to ".bad" and back until `stop` exists; on the way out puts every volume
// back. Ends with status 1 when a volume is found under neither name: a file was lost.
[[noreturn]] void rename_away_and_back(const std::string& directory, const std::string& stop)
{
    Random random{12345};
    auto back = [&](int i) {
        const std::string name = directory + "/" + volume_name(i);
        if (rename((name + ".bad").c_str(), name.c_str()) != 0 && access(name.c_str(), F_OK) != 0)
            _exit(1);
    };
    while (access(stop.c_str(), F_OK) != 0) {
        const int i = static_cast<int>(random.next(PRESENT));
        const std::string name = directory + "/" + volume_name(i);
        if (rename(name.c_str(), (name + ".bad").c_str()) != 0)
            _exit(1);
        usleep(random.next(3000));
        back(i);
        usleep(random.next(3000));
    }
    for (int i = 0; i < PRESENT; ++i)
        back(i);
    _exit(0);
}

TEST(Load, ConcurrentGlftpdRunsLeaveWhatAQuietRunLeaves)
{
    const std::string root = make_temp_dir();
    ASSERT_FALSE(root.empty());
    const std::string busy = root + "/busy", quiet = root + "/quiet", stop = root + "/stop";
    ASSERT_EQ(mkdir(busy.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(quiet.c_str(), 0755), 0);
    make_release(busy);
    make_release(quiet);

    const pid_t renamer = fork();
    if (renamer == 0)
        rename_away_and_back(busy, stop);
    ASSERT_GT(renamer, 0);

    // Four runs at a time for 15 seconds, -T, -t and -m in turn, all in glftpd mode.
    Random random{99};
    std::vector<zantra_cli::Started> running;
    int started_runs = 0, bad_statuses = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < end || !running.empty()) {
        if (running.size() < 4 && std::chrono::steady_clock::now() < end) {
            std::vector<std::string> args;
            switch (started_runs % 3) {
            case 0: args = {"-g", "-T", "rel.sfv"}; break;
            case 1:
                args = {"-g", "-t", "rel.sfv"};
                for (int n = 0; n < 6; ++n)
                    args.push_back(volume_name(static_cast<int>(random.next(LISTED))));
                break;
            default: args = {"-g", "-m", "rel.sfv"}; break;
            }
            running.push_back(start(busy, args, "/dev/null"));
            ++started_runs;
            continue;
        }
        const zantra_cli::Started oldest = running.front();
        running.erase(running.begin());
        const int status = finish(oldest);
        if (status < 0 || status > 2)
            ++bad_statuses;
    }
    write_file(stop, "");
    int renamer_status = 0;
    waitpid(renamer, &renamer_status, 0);

    EXPECT_GT(started_runs, 20);
    EXPECT_EQ(bad_statuses, 0) << "runs that crashed, hung or ended with a status other than 0-2";
    EXPECT_TRUE(WIFEXITED(renamer_status) && WEXITSTATUS(renamer_status) == 0)
        << "a volume disappeared while it was renamed away and back";
    for (int i = 0; i < PRESENT; ++i)
        EXPECT_EQ(read_file(busy + "/" + volume_name(i)), volume_content(i)) << volume_name(i);

    const Result settled = run(busy, {"-g", "-T", "rel.sfv"});
    const Result reference = run(quiet, {"-g", "-T", "rel.sfv"});
    EXPECT_EQ(settled.status, 2);
    EXPECT_EQ(reference.status, 2);
    EXPECT_EQ(listing(busy), listing(quiet));
    remove_tree(root);
}

// The two versions of the file: the same first half, different second halves.
std::string version_of(const std::string& content, int version)
{
    std::string text = content;
    if (version == 1)
        for (std::size_t at = text.size() / 2; at < text.size(); ++at)
            text[at] = static_cast<char>(text[at] ^ 0x5A);
    return text;
}

// Cuts the file back to half and writes the second half of the other version, 1 MiB at a
// time, until `stop` exists: at every moment the file is a prefix, of at least half its size,
// of one version. A reader that went on past a cut would see parts of both.
[[noreturn]] void cut_and_regrow(const std::string& path, const std::string& content,
                                 const std::string& stop)
{
    const std::size_t half = content.size() / 2, step = 1 << 20;
    for (int version = 1; access(stop.c_str(), F_OK) != 0; version ^= 1) {
        const std::string text = version_of(content, version);
        if (truncate(path.c_str(), static_cast<off_t>(half)) != 0)
            _exit(1);
        const int fd = open(path.c_str(), O_WRONLY);
        for (std::size_t at = half; fd >= 0 && at < text.size(); at += step)
            if (pwrite(fd, text.data() + at, step, static_cast<off_t>(at)) !=
                static_cast<ssize_t>(step))
                _exit(1);
        close(fd);
        usleep(150000); // whole for a while, so that some runs read it so
    }
    _exit(0);
}

TEST(Load, FileCutAndRegrownWhileReadGetsTheCrcOfOneMomentOrNone)
{
    const std::string root = make_temp_dir();
    ASSERT_FALSE(root.empty());
    const std::string work = root + "/work", stop = root + "/stop";
    ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
    std::string content(32u << 20, '\0');
    for (std::size_t at = 0; at < content.size(); ++at)
        content[at] = static_cast<char>((at * 2654435761u) >> 24);
    write_file(work + "/big.r00", content);
    write_file(work + "/l.sfv", "big.r00 00000000\r\n");

    // The CRC of every prefix the file can show: a page-aligned length from half to all of
    // either version.
    std::set<std::string> moments;
    const std::size_t page = 4096;
    for (int version = 0; version < 2; ++version) {
        const std::string text = version_of(content, version);
        uLong crc = crc32(0L, Z_NULL, 0);
        for (std::size_t at = 0; at < text.size(); at += page) {
            crc = crc32(crc, reinterpret_cast<const Bytef*>(text.data() + at), page);
            if (at + page >= text.size() / 2)
                moments.insert(crc_hex(crc));
        }
    }

    const pid_t changer = fork();
    if (changer == 0)
        cut_and_regrow(work + "/big.r00", content, stop);
    ASSERT_GT(changer, 0);
    int unreadable = 0, read_whole = 0;
    for (int i = 0; i < 30; ++i) {
        const Result result = run(work, {"-t", "l.sfv", "big.r00"});
        ASSERT_EQ(result.status, 1) << result.out;
        const std::size_t at = result.out.find("local = 0x");
        ASSERT_NE(at, std::string::npos) << result.out;
        const std::string local = result.out.substr(at + 10, 8);
        if (local == "FFFFFFFF")
            ++unreadable;
        else {
            EXPECT_TRUE(moments.count(local) == 1) << "CRC " << local << " of no moment";
            ++read_whole;
        }
    }
    write_file(stop, "");
    int changer_status = 0;
    waitpid(changer, &changer_status, 0);
    EXPECT_TRUE(WIFEXITED(changer_status) && WEXITSTATUS(changer_status) == 0);
    std::printf("%d runs read the file whole, %d found it changing\n", read_whole, unreadable);
    remove_tree(root);
}

// A site in miniature: uploads finishing in random order, each followed at once by its hook
// (-g -t, then -g -m) while other hooks and a long -g -T run in the same release. Each
// scenario adds what a live site adds; every round must end with no good upload lost or
// under a .bad name, never two completion directories, and, after the last upload's own hook,
// what a quiet -g -T leaves.
struct SiteScenario {
    std::string name;
    bool list_in_pieces = false;  // the list arrives in three pieces while volumes do
    bool bad_then_good = false;   // half the volumes arrive damaged, then good: uploaded again or
                                  // replaced by a rename while the bad one's hook reads it
    bool paused_uploads = false;  // uploads pause between pieces, and a hook runs on one half-way
    bool outside_renames = false; // someone renames volumes away and back and replaces them
    int extra_runs = 0;           // -g -m and -g -T runs started beside each hook
    bool stalled_upload = false;  // the first volume stalls half-way while the list's hook runs
};

constexpr int SITE_VOLUMES = 6;
constexpr std::size_t SITE_VOLUME_SIZE = 4u << 20;

std::string site_volume(int i)
{
    return "site.r0" + std::to_string(i);
}

std::string site_content(int i, bool damaged = false)
{
    std::string content(SITE_VOLUME_SIZE, '\0');
    for (std::size_t at = 0; at < content.size(); ++at)
        content[at] = static_cast<char>((at * 13 + static_cast<std::size_t>(i) * 71) >> 3);
    if (damaged)
        content[content.size() / 2] ^= 1;
    return content;
}

bool is_completion_name(const std::string& name)
{
    return name.size() == 27 && name[0] == '[' &&
           name.compare(5, 22, "]-[-all.files.CRC.ok-]") == 0;
}

// Runs zantra in `release` and then counts its completion directories: more than one when any
// run has finished is a fault, noted in the file `faults` beside the release.
void run_and_check(const std::string& release, const std::vector<std::string>& args)
{
    finish(start(release, args, "/dev/null"));
    const std::vector<std::string> names = names_in(release);
    const auto completion_dirs = std::count_if(names.begin(), names.end(), is_completion_name);
    if (completion_dirs > 1)
        write_file(release + "/../faults", std::to_string(completion_dirs) + " completion dirs\n");
}

void hook(const std::string& release, const std::string& volume)
{
    run_and_check(release, {"-g", "-t", "rel.sfv", volume});
    run_and_check(release, {"-g", "-m", "rel.sfv"});
}

// Runs `action` in a process of its own; its id.
template <typename Action> pid_t in_background(Action action)
{
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        action();
        _exit(0);
    }
    return pid;
}

// Writes `content` as an FTP server does, into the file under its final name, in pieces; with
// `pauses`, the upload pauses between them and a hook of the file runs half-way through; with
// `stalls`, it stalls half-way for 1.5 s, longer than any wait for an upload that may still be
// arriving, and until the list's hook (-g -T) started as it stalls has ended.
void upload(const std::string& release, const std::string& name, const std::string& content,
            bool pauses, bool stalls = false)
{
    const int fd = open((release + "/" + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const std::size_t piece = content.size() / 8;
    pid_t early_hook = -1;
    for (std::size_t at = 0; fd >= 0 && at < content.size(); at += piece) {
        if (write(fd, content.data() + at, piece) != static_cast<ssize_t>(piece))
            break;
        if (pauses && at == piece)
            early_hook = in_background([&] {
                run_and_check(release, {"-g", "-t", "rel.sfv", name});
            });
        if (pauses)
            usleep(30000);
        if (stalls && at == content.size() / 2) {
            const pid_t list_hook = in_background([&] {
                run_and_check(release, {"-g", "-T", "rel.sfv"});
            });
            usleep(1500000);
            waitpid(list_hook, nullptr, 0);
        }
    }
    close(fd);
    if (early_hook > 0)
        waitpid(early_hook, nullptr, 0);
}

// One volume's arrival and its hook, in a process of its own.
[[noreturn]] void arrive(const SiteScenario& s, const std::string& release, int i, unsigned seed)
{
    Random random{seed};
    const std::string name = site_volume(i);
    if (s.bad_then_good && i % 2 == 1) {
        upload(release, name, site_content(i, true), false);
        const pid_t bad_hook = in_background([&] { hook(release, name); });
        usleep(random.next(3000));
        if (i % 4 == 1) { // deleted and uploaded again
            unlink((release + "/" + name).c_str());
            upload(release, name, site_content(i), false);
        } else { // a good copy renamed into its place
            write_file(release + "/.upload-" + name, site_content(i));
            rename((release + "/.upload-" + name).c_str(), (release + "/" + name).c_str());
        }
        waitpid(bad_hook, nullptr, 0);
    } else {
        upload(release, name, site_content(i), s.paused_uploads && i % 2 == 0,
               s.stalled_upload && i == 0);
    }
    std::vector<pid_t> burst;
    for (int n = 0; n < s.extra_runs; ++n)
        burst.push_back(in_background([&] {
            run_and_check(release, {"-g", n % 2 == 0 ? "-m" : "-T", "rel.sfv"});
        }));
    hook(release, name);
    for (const pid_t pid : burst)
        waitpid(pid, nullptr, 0);
    _exit(0);
}

// Until `stop` exists: a long -g -T in a loop, or someone renaming volumes away and back and
// replacing whole ones with copies of themselves.
[[noreturn]] void meanwhile(const std::string& release, const std::string& stop, bool renamer)
{
    Random random{7};
    while (access(stop.c_str(), F_OK) != 0) {
        if (!renamer) {
            run_and_check(release, {"-g", "-T", "rel.sfv"});
            continue;
        }
        const int i = static_cast<int>(random.next(SITE_VOLUMES));
        const std::string name = release + "/" + site_volume(i);
        const std::string content = read_file(name);
        if (content.empty()) {
            usleep(2000);
        } else if (random.next(2) == 0) {
            rename(name.c_str(), (name + ".away").c_str());
            usleep(random.next(3000));
            rename((name + ".away").c_str(), name.c_str());
        } else if (content == site_content(i)) { // never one still being uploaded
            write_file(name + ".copy", content);
            rename((name + ".copy").c_str(), name.c_str());
        }
        usleep(random.next(5000));
    }
    _exit(0);
}

// Until `stop` exists, looks at the release every 10 ms; a listing that shows [100%] while a
// volume is absent or not yet good is a fault, noted beside the release as it stops.
[[noreturn]] void watch_listings(const std::string& release, const std::string& stop)
{
    int wrong = 0;
    while (access(stop.c_str(), F_OK) != 0) {
        const std::vector<std::string> names = names_in(release);
        if (std::find(names.begin(), names.end(), "[100%]-[-all.files.CRC.ok-]") != names.end())
            for (int i = 0; i < SITE_VOLUMES; ++i)
                if (read_file(release + "/" + site_volume(i)) != site_content(i)) {
                    ++wrong;
                    break;
                }
        usleep(10000);
    }
    if (wrong > 0)
        write_file(release + "/../faults",
                   std::to_string(wrong) +
                       " listings showed [100%] with a volume absent or not yet good\n");
    _exit(0);
}

// Everything of the glftpd bookkeeping in the release: markers and completion directories.
std::set<std::string> bookkeeping(const std::string& release)
{
    std::set<std::string> names;
    for (const std::string& entry : listing(release)) {
        const std::string name = entry.substr(0, entry.find(' '));
        if (is_completion_name(name) || name.find(".missing") != std::string::npos ||
            name.find(".bad") != std::string::npos)
            names.insert(entry);
    }
    return names;
}

// The "[NNN%]" of the completion directory among `names` (which sorts first), or "".
std::string shown_percent(const std::set<std::string>& names)
{
    return names.empty() || names.begin()->front() != '[' ? "" : names.begin()->substr(0, 6);
}

void site_round(const SiteScenario& s, const std::string& root, unsigned seed)
{
    const std::string release = root + "/rel", stop = root + "/stop";
    ASSERT_EQ(mkdir(release.c_str(), 0755), 0);
    std::string list;
    for (int i = 0; i < SITE_VOLUMES; ++i)
        list += site_volume(i) + " " + crc_of(site_content(i)) + "\r\n";
    const pid_t long_test = in_background([&] { meanwhile(release, stop, false); });
    // Volumes renamed away outside any hook are absent under a listing no run can correct.
    const pid_t watcher =
        s.outside_renames ? -1 : in_background([&] { watch_listings(release, stop + "-watch"); });
    const pid_t renamer = s.outside_renames
                              ? in_background([&] { meanwhile(release, stop + "-renames", true); })
                              : -1;
    pid_t list_upload = -1;
    if (s.list_in_pieces) { // the list's own hook runs once it is whole
        list_upload = in_background([&] {
            const int fd = open((release + "/rel.sfv").c_str(), O_WRONLY | O_CREAT, 0644);
            const std::size_t piece = list.size() / 3 + 1;
            for (std::size_t at = 0; fd >= 0 && at < list.size(); at += piece) {
                (void)!write(fd, list.data() + at, std::min(list.size() - at, piece));
                usleep(150000); // long enough for volumes' hooks to read it part-way
            }
            close(fd);
            run_and_check(release, {"-g", "-m", "rel.sfv"});
        });
    } else {
        write_file(release + "/rel.sfv", list);
        run_and_check(release, {"-g", "-m", "rel.sfv"});
    }
    // Every volume but the last, three at a time in a shuffled order; then the last one alone,
    // once nothing but the long -g -T runs any more.
    Random random{seed};
    std::vector<int> order;
    for (int i = 0; i < SITE_VOLUMES; ++i)
        order.insert(order.begin() + static_cast<std::ptrdiff_t>(
                                         random.next(static_cast<unsigned>(order.size() + 1))),
                     i);
    std::vector<pid_t> arrivals;
    for (int n = 0; n + 1 < SITE_VOLUMES; ++n) {
        if (arrivals.size() == 3) {
            waitpid(arrivals.front(), nullptr, 0);
            arrivals.erase(arrivals.begin());
        }
        arrivals.push_back(fork());
        if (arrivals.back() == 0)
            arrive(s, release, order[static_cast<std::size_t>(n)], seed + static_cast<unsigned>(n));
    }
    for (const pid_t pid : arrivals)
        waitpid(pid, nullptr, 0);
    if (list_upload > 0)
        waitpid(list_upload, nullptr, 0);
    write_file(stop + "-renames", ""); // the renamer puts every volume back as it stops
    if (renamer > 0)
        waitpid(renamer, nullptr, 0);
    // The long -g -T marks every listed file before it reads: the listing is looked at once the
    // run under way when the last hook ran has ended too, and no other has started.
    write_file(stop, "");
    waitpid(in_background([&] { arrive(s, release, order.back(), seed); }), nullptr, 0);
    waitpid(long_test, nullptr, 0);
    write_file(stop + "-watch", "");
    if (watcher > 0)
        waitpid(watcher, nullptr, 0);
    const std::set<std::string> after_last_hook = bookkeeping(release);

    EXPECT_EQ(read_file(root + "/faults"), "") << s.name << ", seed " << seed;
    for (int i = 0; i < SITE_VOLUMES; ++i)
        EXPECT_TRUE(read_file(release + "/" + site_volume(i)) == site_content(i))
            << s.name << ", seed " << seed << ": " << site_volume(i) << " lost or damaged";
    for (const std::string& entry : after_last_hook)
        EXPECT_EQ(entry.find(".bad"), std::string::npos)
            << s.name << ", seed " << seed << ": " << entry;
    const Result quiet = run(release, {"-g", "-T", "rel.sfv"});
    EXPECT_EQ(quiet.status, 0) << s.name << ", seed " << seed << "\n" << quiet.out;
    const std::set<std::string> settled = bookkeeping(release);
    if (!s.outside_renames) {
        EXPECT_EQ(settled, after_last_hook) << s.name << ", seed " << seed;
        return;
    }
    // A volume renamed away and back outside any hook keeps its marker until a run reads it
    // again: the listing may claim less than the settled one, never more.
    for (const std::string& entry : settled)
        EXPECT_TRUE(after_last_hook.count(entry) == 1 || is_completion_name(entry.substr(0, 27)))
            << s.name << ", seed " << seed << ": " << entry;
    EXPECT_LE(shown_percent(after_last_hook), shown_percent(settled))
        << s.name << ", seed " << seed;
}

TEST(Site, RacesLoseNoGoodUploadAndLeaveWhatAQuietRunLeaves)
{
    const SiteScenario scenarios[] = {
        {"hooks_in_any_order", false, false, false, false, 0},
        {"list_in_pieces", true, false, false, false, 0},
        {"bad_then_good", false, true, false, false, 0},
        {"paused_uploads", false, false, true, false, 0},
        {"outside_renames", false, false, false, true, 0},
        {"bursts_of_runs", true, true, false, false, 4},
        {"stalled_upload", false, false, false, false, 0, true},
    };
    for (const SiteScenario& s : scenarios)
        for (unsigned round = 0; round < 2; ++round) {
            const std::string root = make_temp_dir();
            ASSERT_FALSE(root.empty());
            site_round(s, root, 1000 * round + 17);
            remove_tree(root);
        }
}

TEST(Site, StuckLockHolderDelaysTheBookkeepingButNeverStopsIt)
{
    const std::string root = make_temp_dir();
    ASSERT_FALSE(root.empty());
    const std::string release = root + "/rel";
    ASSERT_EQ(mkdir(release.c_str(), 0755), 0);
    write_file(release + "/rel.sfv", site_volume(0) + " 00000000\r\n");
    const int held = open(release.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(flock(held, LOCK_EX), 0);
    const Result counted = run(release, {"-g", "-m", "rel.sfv"});
    close(held);
    EXPECT_EQ(counted.status, 0);
    EXPECT_EQ(access((release + "/" + site_volume(0) + ".missing").c_str(), F_OK), 0);
    EXPECT_EQ(access((release + "/[000%]-[-all.files.CRC.ok-]").c_str(), F_OK), 0);
    remove_tree(root);
}

// CRC-32 of `length` zero bytes, from zlib by doubling with crc32_combine64.
uLong crc_of_zeros(std::int64_t length)
{
    constexpr std::int64_t MIB = 1 << 20;
    const std::string zeros(MIB, '\0');
    const uLong mib = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(zeros.data()),
                            static_cast<uInt>(zeros.size()));
    uLong crc = crc32(0L, Z_NULL, 0);
    for (std::int64_t done = 0; done < length; done += MIB)
        crc = crc32_combine64(crc, mib, MIB);
    return crc;
}

TEST(Large, FiveGibSparseFileCrcAndSize)
{
    const std::string root = make_temp_dir();
    ASSERT_FALSE(root.empty());
    const std::string work = root + "/work";
    ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
    const std::int64_t hole = std::int64_t{5} << 30;
    const std::string tail = "the end of a 5 GiB volume";
    const int fd = open((work + "/big.r00").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(static_cast<off_t>(hole), hole) << "off_t is too narrow for 5 GiB";
    ASSERT_EQ(pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(hole)),
              static_cast<ssize_t>(tail.size()));
    close(fd);
    const uLong tail_crc = crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(tail.data()),
                                 static_cast<uInt>(tail.size()));
    const std::string expected =
        crc_hex(crc32_combine64(crc_of_zeros(hole), tail_crc, static_cast<z_off64_t>(tail.size())));

    const Result created = run(work, {"-c", "-d", "x.sfv", "big.r00"});
    EXPECT_EQ(created.status, 0);
    EXPECT_NE(created.out.find("Adding file: big.r00 ... CRC = 0x" + expected + "\n"),
              std::string::npos)
        << created.out;
    const std::string list = read_file(work + "/x.sfv");
    const std::string size = std::to_string(hole + static_cast<std::int64_t>(tail.size()));
    EXPECT_NE(list.find("; " + std::string(12 - size.size(), ' ') + size + "  "), std::string::npos)
        << list;
    EXPECT_NE(list.find("\r\nbig.r00 " + expected + "\r\n"), std::string::npos) << list;
    remove_tree(root);
}

TEST(Large, FiftyThousandEntriesBesideA1024EntryList)
{
    const std::string root = make_temp_dir();
    ASSERT_FALSE(root.empty());
    const std::string work = root + "/work";
    ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
    std::string list;
    for (int i = 0; i < 1024; ++i) {
        const std::string name = "v" + std::to_string(i) + ".r00";
        list += name + " " + crc_of(name) + "\r\n";
        if (i % 64 != 0) // 16 absent
            write_file(work + "/" + name, name);
    }
    write_file(work + "/l.sfv", list);
    for (int i = 0; i < 50000; ++i) {
        const int fd =
            open((work + "/other." + std::to_string(i)).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0);
        close(fd);
    }

    const Result whole = run(work, {"-g", "-T", "l.sfv"});
    EXPECT_EQ(whole.status, 2);
    EXPECT_NE(whole.out.find("Completion Status: [098%]-[-all.files.CRC.ok-]\n\n"
                             "1024 file(s) tested - 1008 OK - 0 bad - 16 missing ...\n"),
              std::string::npos)
        << whole.out.substr(whole.out.size() > 400 ? whole.out.size() - 400 : 0);
    for (int i = 0; i < 1024; i += 64)
        EXPECT_EQ(access((work + "/v" + std::to_string(i) + ".r00.missing").c_str(), F_OK), 0);

    const Result counted = run(work, {"-m", "l.sfv"});
    EXPECT_EQ(counted.status, 0);
    EXPECT_NE(counted.out.find("1024                 1008          16  \n"), std::string::npos)
        << counted.out;
    remove_tree(root);
}

} // namespace
