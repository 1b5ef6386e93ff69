#include "site/markers.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zantra
{

bool is_local_name(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

std::optional<std::string> marker_path(std::string_view listed_name, std::string_view suffix)
{
    if (!is_local_name(listed_name) || listed_name.size() + suffix.size() > MARKER_PATH_MAX)
        return std::nullopt;
    std::string path(listed_name);
    path += suffix;
    return path;
}

void touch_marker(std::string_view listed_name, std::string_view suffix)
{
    const auto path = marker_path(listed_name, suffix);
    if (!path)
        return;
    const int fd =
        open(path->c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return;
    // Only a regular file with no other name is emptied: through a hard link the truncation
    // would reach a file elsewhere, perhaps outside this directory.
    struct stat info {
    };
    const bool emptiable =
        fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_nlink == 1 && info.st_size != 0;
    if (emptiable && ftruncate(fd, 0) != 0) {
        // A marker that cannot be emptied stays as it is, like any failed marker operation.
    }
    close(fd);
}

void remove_marker(std::string_view listed_name, std::string_view suffix)
{
    if (const auto path = marker_path(listed_name, suffix))
        (void)unlink(path->c_str());
}

void remove_bad_marker_unless(std::string_view listed_name, dev_t device, ino_t inode)
{
    const auto path = marker_path(listed_name, BAD_SUFFIX);
    struct stat info {
    };
    if (!path || lstat(path->c_str(), &info) != 0)
        return;
    if (info.st_dev == device && info.st_ino == inode)
        return;
    (void)unlink(path->c_str());
}

void mark_bad(const std::string& tested_path, std::string_view listed_name)
{
    if (const auto path = marker_path(listed_name, BAD_SUFFIX))
        (void)std::rename(tested_path.c_str(), path->c_str());
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

void update_completion_dir(const std::vector<std::string>& old_names, int percent)
{
    const std::string name = completion_dir_name(percent);
    bool kept = false;
    for (const std::string& old_name : old_names) {
        if (old_name == name)
            kept = true;
        else
            (void)rmdir(old_name.c_str());
    }
    if (!kept) {
        if (mkdir(name.c_str(), 0777) == 0) {
            // Through a descriptor of the directory just made, so that a symbolic link put in
            // its place meanwhile cannot redirect the mode change.
            const int fd = open(name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (fd >= 0) {
                (void)fchmod(fd, 0777);
                close(fd);
            }
        }
    }
    std::printf("Completion Status: %s\n", name.c_str());
}

} // namespace zantra
