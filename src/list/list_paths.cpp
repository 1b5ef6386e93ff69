#include "list/list_paths.h"

#include "list/names.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace zantra
{
namespace
{

std::string folded(std::string_view name)
{
    std::string key(name);
    for (char& c : key)
        c = fold_ascii(c);
    return key;
}

// The components of `path` split at "/"; nothing when one is empty, "." or "..", or the path
// holds a NUL byte.
std::optional<std::vector<std::string_view>> components_of(std::string_view path)
{
    if (path.find('\0') != std::string_view::npos)
        return std::nullopt;
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        if (part.empty() || part == "." || part == "..")
            return std::nullopt;
        parts.push_back(part);
        if (slash == std::string_view::npos)
            return parts;
        path.remove_prefix(slash + 1);
    }
}

// The name in `listing` that `part` matches, byte for byte first, then with letters folded,
// among the directories (`directory`) or the regular files; entries of unreported type may be
// either.
const std::string* match_in(const DirectoryListing& listing, std::string_view part, bool directory)
{
    const auto found = listing.by_key.find(folded(part));
    if (found == listing.by_key.end())
        return nullptr;
    const std::string* first = nullptr;
    for (const std::size_t index : found->second) {
        const auto& [name, type] = listing.names[index];
        const EntryType wanted = directory ? EntryType::directory : EntryType::regular;
        if (type != wanted && type != EntryType::unknown)
            continue;
        if (name == part)
            return &name;
        if (first == nullptr)
            first = &name;
    }
    return first;
}

// Reads the directory whose components on disk are `dirs`, opening each in the one before it
// without following a symbolic link. Nothing when one cannot be opened as a directory or the
// reading fails.
std::optional<DirectoryListing> read_listing(const std::vector<std::string>& dirs)
{
    int fd = AT_FDCWD;
    for (const std::string& dir : dirs) {
        const int next = open_directory_below(fd, dir.c_str());
        if (fd != AT_FDCWD)
            close(fd);
        if (next < 0)
            return std::nullopt;
        fd = next;
    }
    DIR* directory = fdopendir(fd);
    if (directory == nullptr) {
        close(fd);
        return std::nullopt;
    }
    DirectoryListing listing;
    for (;;) {
        errno = 0;
        const struct dirent* item = readdir(directory);
        if (item == nullptr)
            break;
        const std::string_view name = item->d_name;
        if (name != "." && name != "..")
            add_listed_name(listing, std::string(name), entry_type(*item));
    }
    const bool read = errno == 0;
    closedir(directory);
    if (!read)
        return std::nullopt;
    return listing;
}

} // namespace

void add_listed_name(DirectoryListing& listing, std::string name, EntryType type)
{
    listing.by_key[folded(name)].push_back(listing.names.size());
    listing.names.emplace_back(std::move(name), type);
}

std::optional<std::string> path_of_listed_name(std::string_view name)
{
    if (name.find('/') != std::string_view::npos)
        return std::string(name);
    if (name.find('\\') == std::string_view::npos)
        return std::nullopt;
    std::string path(name);
    for (char& c : path)
        if (c == '\\')
            c = '/';
    return path;
}

std::optional<std::string> find_path(PathLookup& lookup, std::string_view path)
{
    const std::optional<std::vector<std::string_view>> parts = components_of(path);
    if (!parts)
        return std::nullopt;
    const DirectoryListing* listing = &lookup.top;
    std::vector<std::string> dirs;
    std::string on_disk;
    for (std::size_t i = 0;; ++i) {
        const bool last = i + 1 == parts->size();
        const std::string* name = match_in(*listing, (*parts)[i], !last);
        if (name == nullptr)
            return std::nullopt;
        on_disk += on_disk.empty() ? *name : "/" + *name;
        if (last)
            return on_disk;
        dirs.push_back(*name);
        auto cached = lookup.below.find(on_disk);
        if (cached == lookup.below.end())
            cached = lookup.below.emplace(on_disk, read_listing(dirs)).first;
        if (!cached->second)
            return std::nullopt;
        listing = &*cached->second;
    }
}

} // namespace zantra
