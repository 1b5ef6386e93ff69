// glftpd bookkeeping in the release directory: ".missing" and ".bad" markers beside listed
// files, and the directory whose name shows how complete the release is.
//
// Each call that changes the books returns false when it could not, for a reason other than
// its being so already (a permission, a read-only or full file system): the books are not kept.
//
// The list is untrusted: anyone who can upload can write it. A marker is only ever made,
// removed or renamed to for a listed name that names an entry of the current directory itself;
// every other name is passed over as silently as a failed operation. A marker is never emptied.
#pragma once

#include "checksum/file_checksum.h"
#include "platform/platform.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace zantra
{

// True when a failed call on a marker with this errno means the books cannot be kept here.
[[nodiscard]] bool is_books_fault(int error);

inline constexpr std::string_view MISSING_SUFFIX = ".missing";
inline constexpr std::string_view BAD_SUFFIX = ".bad";

// Longest marker path accepted.
inline constexpr std::size_t MARKER_PATH_MAX = 255;

// The completion directory's name; the three zeros carry the percentage.
inline constexpr char COMPLETION_TEMPLATE[] = "[000%]-[-all.files.CRC.ok-]";

// True when `name` names an entry of the current directory: not empty, not "." or "..",
// and without "/", "\\" or NUL bytes. A backslash separates directories in the lists of other
// systems, so such a name is taken for a path, never for a local name.
[[nodiscard]] bool is_local_name(std::string_view name);

// The listed name with `suffix` appended, or nothing when the name is not a local name or
// the path would exceed MARKER_PATH_MAX bytes.
[[nodiscard]] std::optional<std::string> marker_path(std::string_view listed_name,
                                                     std::string_view suffix);

// Creates the marker of `listed_name` empty when nothing is at its path; whatever is there
// already is left as it is. Never follows a symbolic link and never waits on a FIFO; new
// markers get mode 0666 less the umask. False when it could not (see above).
[[nodiscard]] bool touch_marker(std::string_view listed_name, std::string_view suffix);

// Removes the marker of `listed_name`, unless a regular file that holds bytes stands there (an
// upload, not a marker); failures (above all, no such file) are no fault.
[[nodiscard]] bool remove_marker(std::string_view listed_name, std::string_view suffix);

// True when `listed_name` can carry a ".missing" marker at all: a local name short enough for
// the marker's path. A name that cannot is never taken as verified on the strength of a
// missing marker.
[[nodiscard]] bool can_carry_marker(std::string_view listed_name);

// True when anything (a file, a link, a directory) stands at the marker path of `listed_name`,
// or the look there fails for another reason than its absence; false when nothing is there or
// the name can have no such marker.
[[nodiscard]] bool has_marker(std::string_view listed_name, std::string_view suffix);

// Removes the ".bad" marker of `listed_name`, a stale one beside a file just found good, unless
// it is that file (`tested`), which someone else renamed to the marker's name; also when that
// happens while the marker is being removed. False when it could not (see above).
[[nodiscard]] bool remove_stale_bad_marker(std::string_view listed_name,
                                           const FileIdentity& tested);

// Renames the tested file, as the command line names it, to the ".bad" marker of
// `listed_name`, when it is still the file that was read (`read`), unchanged since, and no
// process holds it open for writing where the platform can tell. The file is taken aside under
// a private name before it is looked at, and put back when it is not that file. False when it
// could not (see above).
[[nodiscard]] bool mark_bad(const std::string& tested_path, std::string_view listed_name,
                            const FileIdentity& read);

// present * 100 / listed, truncated, kept within 0 to 100; 0 when nothing is listed.
[[nodiscard]] int completion_percent(long long present, long long listed);

// The completion directory's name for a percentage of 0 to 100.
[[nodiscard]] std::string completion_dir_name(int percent);

// True when a directory entry of this name and type is a completion directory, of any
// percentage (EntryType::unknown where the file system does not say).
[[nodiscard]] bool is_completion_dir_entry(std::string_view name, EntryType type);

// True when a completion directory of any percentage stands in the current directory: the
// release's books were started.
[[nodiscard]] bool has_completion_dir();
// Removes the private names (".zantra-PID-N.tmp") that runs killed while they held a file
// aside left behind, once their process is gone: only an empty regular file (a marker, or an
// empty upload, with no bytes to lose). One that holds bytes stays, since the name it had is
// not known. Call it under the release's lock.
void remove_abandoned_private_files();

// Puts the completion directory for `percent` in the current directory and prints "Completion
// Status: <name>\n": a directory of that name already there is kept as it is; else an empty one
// of mode 0777 from before is renamed to it, so that the listing never shows none; else it is
// made with mode 0777 whatever the umask. Every other completion directory there (left by runs that
// met, or made by a user) is removed when empty. False when it could not (see above).
[[nodiscard]] bool replace_completion_dir(int percent);

} // namespace zantra
