// The CRC-32s of a run's files, read by a fixed pool of workers ahead of the caller and handed
// back strictly in order, so that the caller prints each verdict at its turn.
#pragma once

#include "checksum/file_checksum.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zantra
{

// Files larger than this are cut into pieces of at most this size, which several workers read
// at their own offsets; smaller ones are read whole by one worker.
inline constexpr std::uint64_t PIECE_SIZE = std::uint64_t{64} << 20;

// The most workers a run may have.
inline constexpr int JOBS_MAX = 256;

// One file to read, as crc32_of_file would be given it.
struct ReadRequest {
    std::string path;
    Links links = Links::follow;
};

// What reading one file gave: its CRC, or nothing when it could not be read; and what was seen
// of it (all zero when it could not even be opened), as crc32_of_file's `read_from`.
struct FileChecksum {
    std::optional<std::uint32_t> crc;
    FileIdentity identity;
};

// Reads the files of `requests` in their order. With one job it starts no thread and reads
// each file at its turn, inside take(), exactly as crc32_of_file_quietly does. With more, a
// pool of that many workers reads up to a few files ahead of the one last taken, each file
// opened once, those above `piece_size` in pieces joined by CRC-32 combination; at most `jobs`
// + 1 files are open at once. A file that a worker found changed while it read it is read again
// at its turn, inside take(), as with one job. Nothing is ever written to the console.
class ParallelReader
{
  public:
    ParallelReader(std::vector<ReadRequest> requests, int jobs,
                   std::uint64_t piece_size = PIECE_SIZE);
    // Stops the workers once their pieces in progress are read and closes every file.
    ~ParallelReader();
    ParallelReader(const ParallelReader&) = delete;
    ParallelReader& operator=(const ParallelReader&) = delete;

    // The checksum of request `index`, waiting for it to be read. Indices must rise from one
    // call to the next; requests passed over may still be read, and their results are dropped.
    [[nodiscard]] FileChecksum take(std::size_t index);

    // What the workers share; defined where they are.
    struct Shared;

  private:
    std::vector<ReadRequest> requests_;
    std::unique_ptr<Shared> shared_; // null when no worker runs
    std::vector<std::thread> workers_;
};

// The number of workers `-j 0` asks for: one per processor online, within 1 to JOBS_MAX.
[[nodiscard]] int processors_online() noexcept;

} // namespace zantra
