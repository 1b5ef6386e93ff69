// The CRC-32 of a whole file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>

namespace zantra
{

// Files are read in pieces of this size into one buffer.
inline constexpr std::size_t READ_CHUNK = 1u << 20;

// Returns the CRC-32 of the contents of the regular file at `path` (symbolic links followed).
// When the file cannot be opened, is not a regular file, a read fails part-way, or its size or
// modification time changes while it is read, writes "\nFatal error: cannot read file: <path>\n"
// to standard error and returns nothing: a file is never given the CRC of bytes it did not
// hold at one moment.
// When `read_from` is given and a CRC is returned, it is set to the device and inode of the
// file that was read, which a caller can use to tell that file apart once it is renamed.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
};
[[nodiscard]] std::optional<std::uint32_t> crc32_of_file(const std::string& path,
                                                         FileIdentity* read_from = nullptr);

} // namespace zantra
