// Listed names that are paths below the current directory, as lists written for a whole tree
// hold them ("CD1/a.r00", or "CD1\a.r00" from Windows), and their lookup on disk.
//
// The list is untrusted: a path is looked up one component at a time, each matched as a
// top-level name is, and never reaches outside the current directory, through a symbolic link
// or otherwise.
#pragma once

#include "platform/platform.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zantra
{

// The names of one directory, in the order the system delivered them, with their types.
struct DirectoryListing {
    std::vector<std::pair<std::string, EntryType>> names;
    // Each name with ASCII letters folded, to the indexes of the names that fold to it.
    std::unordered_map<std::string, std::vector<std::size_t>> by_key;
};

// Adds one name to a listing.
void add_listed_name(DirectoryListing& listing, std::string name, EntryType type);

// What the lookup of paths knows of the directories: the current one as a walk of it saw it,
// and every directory below it read so far, by its path on disk (nothing for one that could
// not be opened as a directory), so that each is read at most once.
struct PathLookup {
    DirectoryListing top;
    std::unordered_map<std::string, std::optional<DirectoryListing>> below;
};

// The path a listed name is looked up as, with "/" between its components: the name itself
// when it holds "/"; with "\\" read as "/" when it holds "\\" and no "/"; nothing for a name
// that is no path.
[[nodiscard]] std::optional<std::string> path_of_listed_name(std::string_view name);

// The path on disk, with "/", of the regular file (or entry of unreported type) that a listed
// path names. Each component is matched as a top-level name is (byte for byte first, then with
// ASCII letters folded); every one but the last must be a directory, opened without following
// a symbolic link. Nothing, with nothing opened, for a path with an empty, "." or ".."
// component or a NUL byte; nothing when a component is not found.
[[nodiscard]] std::optional<std::string> find_path(PathLookup& lookup, std::string_view path);

} // namespace zantra
