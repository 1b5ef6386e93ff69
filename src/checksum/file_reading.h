// The steps of reading one file that the whole-file checksum and the parallel reader share.
// Not for the operations: they use crc32_of_file or a ParallelReader.
#pragma once

#include "checksum/file_checksum.h"

#include <cstdint>
#include <optional>
#include <string>
#include <sys/stat.h>

namespace zantra
{

// Opens `path` for reading without ever blocking on a FIFO or a device, and keeps it only
// when it is a regular file, whose status it leaves in `info`. Returns -1 otherwise.
[[nodiscard]] int open_regular_file(const std::string& path, Links links, struct stat& info);

// What a reader saw of a file whose status at opening is `opened`.
[[nodiscard]] FileIdentity identity_of(const struct stat& opened);

// The finished CRC of the open file `fd` read from its start to its end through `buffer`
// (READ_CHUNK bytes). Nothing when a read fails, or the file is not as it was at opening
// (`opened`) once read, or gave more bytes than its size then.
[[nodiscard]] std::optional<std::uint32_t> crc32_of_open_file(int fd, const struct stat& opened,
                                                              unsigned char* buffer);

// The finished CRC of the `length` bytes at `offset` in `fd`, read with pread through
// `buffer` (READ_CHUNK bytes). Nothing when a read fails or the file ends before them.
[[nodiscard]] std::optional<std::uint32_t>
crc32_of_piece(int fd, std::uint64_t offset, std::uint64_t length, unsigned char* buffer);

// True when a file read in pieces, every byte of its size at opening (`opened`), still has
// that size and modification time and holds no byte past that size: nobody cut, grew or
// rewrote it while its pieces were read.
[[nodiscard]] bool unchanged_after_pieces(int fd, const struct stat& opened);

} // namespace zantra
