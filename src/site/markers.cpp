#include "site/markers.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zantra
{

bool is_books_fault(int error)
{
    return error == EACCES || error == EPERM || error == EROFS || error == ENOSPC ||
           error == EDQUOT || error == EIO;
}

bool is_local_name(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

std::optional<std::string> marker_path(std::string_view listed_name, std::string_view suffix)
{
    if (!is_local_name(listed_name) || listed_name.size() + suffix.size() > MARKER_PATH_MAX)
        return std::nullopt;
    std::string path(listed_name);
    path += suffix;
    return path;
}

bool touch_marker(std::string_view listed_name, std::string_view suffix)
{
    // Never truncated: a file that holds bytes at a marker path is someone's upload, not a
    // marker, and an empty one is a marker already.
    const auto path = marker_path(listed_name, suffix);
    if (!path)
        return true;
    const int fd =
        open(path->c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd >= 0) {
        close(fd);
        return true;
    }
    // Whatever stands there (a directory, a link, a file that cannot be written) is a marker.
    struct stat info {
    };
    return !is_books_fault(errno) || lstat(path->c_str(), &info) == 0;
}

bool remove_marker(std::string_view listed_name, std::string_view suffix)
{
    const auto path = marker_path(listed_name, suffix);
    struct stat info {
    };
    // A regular file that holds bytes is someone's upload, not a marker: it stays.
    if (path && lstat(path->c_str(), &info) == 0 && !(S_ISREG(info.st_mode) && info.st_size != 0))
        return unlink(path->c_str()) == 0 || !is_books_fault(errno);
    return true;
}

bool can_carry_marker(std::string_view listed_name)
{
    return marker_path(listed_name, MISSING_SUFFIX).has_value();
}

bool has_marker(std::string_view listed_name, std::string_view suffix)
{
    const auto path = marker_path(listed_name, suffix);
    struct stat info {
    };
    // Only a plain "no such file" says there is none; a look that fails otherwise cannot.
    return path && (lstat(path->c_str(), &info) == 0 || errno != ENOENT);
}

namespace
{

// A name in this directory that nothing else uses, to hold a file for a moment; nothing when
// none is found.
std::optional<std::string> private_name()
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name =
            ".zantra-" + std::to_string(getpid()) + "-" + std::to_string(attempt) + ".tmp";
        struct stat info {
        };
        if (lstat(name.c_str(), &info) != 0 && errno == ENOENT)
            return name;
    }
    return std::nullopt;
}

// The process id in a private name, as private_name() makes them; nothing for any other name.
std::optional<pid_t> private_name_pid(std::string_view name)
{
    constexpr std::string_view prefix = ".zantra-";
    constexpr std::string_view suffix = ".tmp";
    if (name.size() <= prefix.size() + suffix.size() || !name.starts_with(prefix) ||
        !name.ends_with(suffix))
        return std::nullopt;
    name = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    const std::size_t dash = name.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash > 9 || dash + 1 == name.size() ||
        name.find_first_not_of("0123456789-") != std::string_view::npos ||
        name.find('-', dash + 1) != std::string_view::npos)
        return std::nullopt;
    pid_t pid = 0;
    for (const char digit : name.substr(0, dash))
        pid = pid * 10 + (digit - '0');
    return pid > 0 ? std::optional<pid_t>(pid) : std::nullopt;
}

// Puts what was moved to `held` back to `path`. Where something has arrived at `path`
// meanwhile, that stays and the held file stays under its private name: renaming over it would
// lose an upload. A file system without hard links gets a rename.
void put_back(const std::string& held, const std::string& path)
{
    if (linkat(AT_FDCWD, held.c_str(), AT_FDCWD, path.c_str(), 0) == 0)
        (void)unlink(held.c_str());
    else if (errno != EEXIST)
        (void)std::rename(held.c_str(), path.c_str());
}

} // namespace

bool remove_stale_bad_marker(std::string_view listed_name, const FileIdentity& tested)
{
    const auto path = marker_path(listed_name, BAD_SUFFIX);
    struct stat info {
    };
    if (!path || lstat(path->c_str(), &info) != 0)
        return true;
    if (info.st_dev == tested.device && info.st_ino == tested.inode)
        return true; // the good file itself, renamed there by someone else
    // Between a look and an unlink, another process could rename the good file to this name.
    // So the marker is first taken aside under a private name, where nothing else can change
    // it, and removed only when it is not the file just tested.
    const auto held = private_name();
    if (!held)
        return true;
    if (std::rename(path->c_str(), held->c_str()) != 0)
        return !is_books_fault(errno);
    const bool tested_file = lstat(held->c_str(), &info) == 0 && info.st_dev == tested.device &&
                             info.st_ino == tested.inode;
    if (tested_file || unlink(held->c_str()) != 0)
        put_back(*held, *path);
    return true;
}

namespace
{

// True when the file held at `held` is the file that was read, unchanged, and no process holds
// it open for writing where the platform can tell: an upload still going on is never renamed.
bool is_complete_as_read(const std::string& held, const FileIdentity& read)
{
    const int fd = open(held.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {
    };
    const bool as_read = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                         is_same_unchanged(info, read) && !may_be_open_for_writing(fd);
    close(fd);
    return as_read;
}

} // namespace

bool mark_bad(const std::string& tested_path, std::string_view listed_name,
              const FileIdentity& read)
{
    const auto path = marker_path(listed_name, BAD_SUFFIX);
    if (!path)
        return true;
    // A look at the file and a rename after it would leave a moment in which a good upload
    // renamed into place is the one renamed. So the file is first taken aside under a private
    // name, where nothing else can change it, and only what was read goes on to the ".bad" name.
    const auto held = private_name();
    if (!held)
        return true;
    if (std::rename(tested_path.c_str(), held->c_str()) != 0)
        return !is_books_fault(errno);
    if (!is_complete_as_read(*held, read))
        put_back(*held, tested_path);
    else if (std::rename(held->c_str(), path->c_str()) != 0) {
        const int error = errno;
        put_back(*held, tested_path);
        return !is_books_fault(error);
    }
    return true;
}

void remove_abandoned_private_files()
{
    DIR* directory = opendir(".");
    if (directory == nullptr)
        return;
    std::vector<std::string> abandoned;
    while (const struct dirent* item = readdir(directory)) {
        const std::optional<pid_t> pid = private_name_pid(item->d_name);
        if (pid && *pid != getpid() && kill(*pid, 0) != 0 && errno == ESRCH)
            abandoned.emplace_back(item->d_name);
    }
    closedir(directory);
    for (const std::string& name : abandoned) {
        struct stat info {
        };
        if (lstat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size == 0)
            (void)unlink(name.c_str());
    }
}

int completion_percent(long long present, long long listed)
{
    if (listed <= 0 || present <= 0)
        return 0;
    const long long percent = present * 100 / listed;
    return percent > 100 ? 100 : static_cast<int>(percent);
}

std::string completion_dir_name(int percent)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, "%.3d", percent);
    std::string name = COMPLETION_TEMPLATE;
    name.replace(1, 3, digits, 3);
    return name;
}

namespace
{

// Sets the umask for as long as it lives and puts back the one before when it goes.
class UmaskScope
{
  public:
    explicit UmaskScope(mode_t mask) noexcept : before_(umask(mask)) {}
    UmaskScope(const UmaskScope&) = delete;
    UmaskScope& operator=(const UmaskScope&) = delete;
    ~UmaskScope() { umask(before_); }

  private:
    mode_t before_;
};

} // namespace

bool is_completion_dir_entry(std::string_view name, EntryType type)
{
    const std::string_view form(COMPLETION_TEMPLATE);
    return (type == EntryType::directory || type == EntryType::unknown) &&
           name.size() == form.size() && name[0] == '[' && name.substr(5) == form.substr(5);
}

namespace
{

// The names of every completion directory in the current directory but `kept`; none when it
// cannot be read.
std::vector<std::string> other_completion_dirs(const std::string& kept)
{
    std::vector<std::string> names;
    DIR* directory = opendir(".");
    if (directory == nullptr)
        return names;
    while (const struct dirent* item = readdir(directory)) {
        if (item->d_name != kept && is_completion_dir_entry(item->d_name, entry_type(*item)))
            names.emplace_back(item->d_name);
    }
    closedir(directory);
    return names;
}

// True when the directory `name` is one this program would make: mode 0777, and empty. Only
// such a one may be renamed to the new name; any other is left for rmdir to judge.
bool is_plain_completion_dir(const std::string& name)
{
    struct stat info {
    };
    if (lstat(name.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || (info.st_mode & 07777) != 0777)
        return false;
    DIR* directory = opendir(name.c_str());
    if (directory == nullptr)
        return false;
    bool empty = true;
    while (const struct dirent* item = readdir(directory)) {
        const std::string_view entry = item->d_name;
        if (entry != "." && entry != "..") {
            empty = false;
            break;
        }
    }
    closedir(directory);
    return empty;
}

} // namespace

bool has_completion_dir()
{
    return !other_completion_dirs("").empty();
}

bool replace_completion_dir(int percent)
{
    const std::string name = completion_dir_name(percent);
    bool kept = true;
    std::vector<std::string> others = other_completion_dirs(name);
    struct stat info {
    };
    const bool standing = lstat(name.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    // The one before is renamed to the new name, so that the listing never shows none, nor two.
    const auto plain = std::find_if(others.begin(), others.end(), is_plain_completion_dir);
    if (!standing && plain != others.end() && std::rename(plain->c_str(), name.c_str()) == 0) {
        others.erase(plain);
    } else if (!standing) {
        // Made with mode 0777 at once, under an empty umask: a mode change after the mkdir could
        // reach a directory that someone renamed onto the new name meanwhile.
        const UmaskScope no_umask(0);
        kept = mkdir(name.c_str(), 0777) == 0 || !is_books_fault(errno);
    }
    // The ones before go only once the new one stands, so that the listing never shows none.
    if (lstat(name.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        for (const std::string& old_name : others)
            (void)rmdir(old_name.c_str());
    std::printf("Completion Status: %s\n", name.c_str());
    return kept;
}

} // namespace zantra
