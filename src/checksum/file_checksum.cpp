#include "checksum/file_checksum.h"

#include "checksum/crc32.h"
#include "console/console.h"
#include "platform/platform.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace zantra
{
namespace
{

// The finished CRC of everything read from a descriptor, and how many bytes that was.
struct Folded {
    std::uint32_t crc = 0;
    std::uint64_t length = 0;
};

// Reads the open file to its end, folding every piece into the CRC. Returns nothing when a
// read fails or the file gives more than `size` bytes: it is growing, or it never ends, as some
// files of /proc that show a size of 0 do.
std::optional<Folded> fold_descriptor(int fd, std::uint64_t size)
{
    const std::unique_ptr<unsigned char[]> buffer(new unsigned char[READ_CHUNK]);
    std::uint32_t crc = CRC32_PRESET;
    std::uint64_t length = 0;
    for (;;) {
        const ssize_t got = read(fd, buffer.get(), READ_CHUNK);
        if (got == 0)
            return Folded{crc ^ CRC32_PRESET, length};
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        length += static_cast<std::uint64_t>(got);
        if (length > size)
            return std::nullopt;
        crc = crc32_feed(crc, buffer.get(), static_cast<std::size_t>(got));
    }
}

// Opens `path` for reading without ever blocking on a FIFO or a device, and keeps it only
// when it is a regular file, whose status it leaves in `info`. Returns -1 otherwise.
int open_regular_file(const std::string& path, Links links, struct stat& info)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC |
                                          (links == Links::refuse ? O_NOFOLLOW : 0));
    if (fd < 0)
        return -1;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return -1;
    }
    advise_sequential_read(fd);
    return fd;
}

FileIdentity identity_of(const struct stat& info)
{
    return FileIdentity{info.st_dev, info.st_ino, info.st_size, modification_time(info)};
}

// One read of the open file from its start: its CRC when it was read whole and did not change
// meanwhile. `changed` tells a change (a write, a time set) from a failed read.
std::optional<std::uint32_t> read_once(int fd, const struct stat& before, bool& changed)
{
    changed = false;
    if (lseek(fd, 0, SEEK_SET) != 0)
        return std::nullopt;
    const std::optional<Folded> folded =
        fold_descriptor(fd, static_cast<std::uint64_t>(before.st_size));
    struct stat after {
    };
    if (fstat(fd, &after) != 0)
        return std::nullopt;
    changed = after.st_size != before.st_size || !same_modification_time(after, before);
    if (!folded || changed || static_cast<std::uint64_t>(after.st_size) != folded->length)
        return std::nullopt;
    return folded->crc;
}

} // namespace

bool is_same_unchanged(const struct stat& info, const FileIdentity& identity)
{
    const struct timespec modified = modification_time(info);
    return info.st_dev == identity.device && info.st_ino == identity.inode &&
           info.st_size == identity.size && modified.tv_sec == identity.modified.tv_sec &&
           modified.tv_nsec == identity.modified.tv_nsec;
}

void wait_while_arriving(const FileIdentity& read)
{
    struct timespec now {
    };
    if (clock_gettime(CLOCK_REALTIME, &now) != 0)
        return;
    // In halves first, so that no time a file can carry, however far off, overflows.
    const long long halves = static_cast<long long>(now.tv_sec) / 2 - read.modified.tv_sec / 2;
    if (halves > ARRIVING_MS / 1000 + 1)
        return;
    const long long age_ms =
        halves < -1 ? -1
                    : (static_cast<long long>(now.tv_sec) - read.modified.tv_sec) * 1000 +
                          (now.tv_nsec - read.modified.tv_nsec) / 1000000;
    if (age_ms >= ARRIVING_MS)
        return;
    // A time in the future (a clock set wrong, or one an uploader chose) waits the longest.
    const long long wait_ms = age_ms < 0 ? ARRIVING_MS : ARRIVING_MS - age_ms;
    const struct timespec wait = {static_cast<time_t>(wait_ms / 1000),
                                  static_cast<long>(wait_ms % 1000) * 1000000L};
    nanosleep(&wait, nullptr);
}

std::optional<std::uint32_t> crc32_of_file_quietly(const std::string& path, FileIdentity* read_from,
                                                   Links links)
{
    std::optional<std::uint32_t> crc;
    struct stat opened {
    };
    const int fd = open_regular_file(path, links, opened);
    if (fd < 0)
        return crc;
    // A file written to, or whose time is set, while it is read (a client that sets the time
    // of its upload as it ends) is read again once it has been quiet for a while: READS_AT_MOST
    // in all. The identity is that of the read that decided.
    for (int reads = 1;; ++reads) {
        if (read_from != nullptr)
            *read_from = identity_of(opened);
        bool changed = false;
        crc = read_once(fd, opened, changed);
        if (crc || !changed || reads == READS_AT_MOST || fstat(fd, &opened) != 0 ||
            !S_ISREG(opened.st_mode))
            break;
        wait_while_arriving(identity_of(opened));
        if (fstat(fd, &opened) != 0)
            break;
    }
    close(fd);
    return crc;
}

std::optional<std::uint32_t> crc32_of_file(const std::string& path, FileIdentity* read_from,
                                           Links links)
{
    const std::optional<std::uint32_t> crc = crc32_of_file_quietly(path, read_from, links);
    if (!crc)
        print_message("\nFatal error: cannot read file: %s\n", shown_in_message(path).c_str());
    return crc;
}

} // namespace zantra
