// The CRC-32 of a whole file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

namespace zantra
{

// Files are read in pieces of this size into one buffer.
inline constexpr std::size_t READ_CHUNK = 1u << 20;

// What a reader saw of the file it read: which file it was (device and inode) and its size and
// modification time, so that a caller can tell later whether the file at a name is still that
// file, unchanged.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    struct timespec modified {
    };
};

// True when `info` describes the file of `identity`, with the same size and modification time.
[[nodiscard]] bool is_same_unchanged(const struct stat& info, const FileIdentity& identity);

// A file modified this recently may still be arriving: an upload that pauses looks complete.
inline constexpr int ARRIVING_MS = 1000;

// How many times a file that changes while it is read is read before it counts as unreadable.
inline constexpr int READS_AT_MOST = 3;

// Waits until the file of `read` was last modified ARRIVING_MS ago, and at most that long (for
// a time in the future, the longest), so that a caller can tell an upload that goes on from one
// that has ended. Any time a file can carry is handled without overflow.
void wait_while_arriving(const FileIdentity& read);

enum class Links {
    follow, // a symbolic link names the file it points to
    refuse, // a symbolic link is unreadable
};

// Returns the CRC-32 of the contents of the regular file at `path`. A file that changes while it
// is read (its size or modification time, or more bytes than its size at the start) is read
// again through the same descriptor once it has been quiet for ARRIVING_MS, READS_AT_MOST times
// in all. When the file cannot be opened, is not a regular file (or with Links::refuse is a
// symbolic link), a read fails part-way, or it changed during every read, writes "\nFatal error:
// cannot read file: <path>\n" to standard error and returns nothing: a file is never given the CRC
// of bytes it did not hold at one moment, and a file that never ends is not read for long. When
// `read_from` is given and the file was opened, it is set to what was seen of the file before the
// read that decided.
[[nodiscard]] std::optional<std::uint32_t> crc32_of_file(const std::string& path,
                                                         FileIdentity* read_from = nullptr,
                                                         Links links = Links::follow);

// As crc32_of_file, but writes nothing when the file cannot be read: for a second look at a
// file whose verdict has already been printed.
[[nodiscard]] std::optional<std::uint32_t> crc32_of_file_quietly(const std::string& path,
                                                                 FileIdentity* read_from = nullptr,
                                                                 Links links = Links::follow);

// Writes "\nFatal error: cannot read file: <path>\n" to standard error: what crc32_of_file
// writes for a file it cannot read, for a caller that read the file quietly.
void print_cannot_read(const std::string& path);

} // namespace zantra
