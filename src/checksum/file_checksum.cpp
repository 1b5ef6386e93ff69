#include "checksum/file_checksum.h"

#include "checksum/file_reading.h"

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
std::optional<Folded> fold_descriptor(int fd, std::uint64_t size, unsigned char* buffer)
{
    std::uint32_t crc = CRC32_PRESET;
    std::uint64_t length = 0;
    for (;;) {
        const ssize_t got = read(fd, buffer, READ_CHUNK);
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
        crc = crc32_feed(crc, buffer, static_cast<std::size_t>(got));
    }
}

// True when the file still has the size and modification time it had when it was opened and
// `length` bytes, its whole size, were read: no one cut, grew or rewrote it meanwhile, so the
// bytes read are its contents at one moment. A file cut below the point already read would
// otherwise be given the CRC of bytes it never held.
bool unchanged_while_read(int fd, const struct stat& before, std::uint64_t length)
{
    struct stat after {
    };
    return fstat(fd, &after) == 0 && after.st_size == before.st_size &&
           same_modification_time(after, before) &&
           static_cast<std::uint64_t>(after.st_size) == length;
}

} // namespace

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

FileIdentity identity_of(const struct stat& opened)
{
    return FileIdentity{opened.st_dev, opened.st_ino, opened.st_size, modification_time(opened)};
}

std::optional<std::uint32_t> crc32_of_open_file(int fd, const struct stat& opened,
                                                unsigned char* buffer)
{
    const auto size = static_cast<std::uint64_t>(opened.st_size);
    const std::optional<Folded> folded = fold_descriptor(fd, size, buffer);
    if (folded && unchanged_while_read(fd, opened, folded->length))
        return folded->crc;
    return std::nullopt;
}

std::optional<std::uint32_t> crc32_of_piece(int fd, std::uint64_t offset, std::uint64_t length,
                                            unsigned char* buffer)
{
    std::uint32_t crc = CRC32_PRESET;
    while (length > 0) {
        const std::size_t want =
            length < READ_CHUNK ? static_cast<std::size_t>(length) : READ_CHUNK;
        const ssize_t got = pread(fd, buffer, want, static_cast<off_t>(offset));
        if (got == 0)
            return std::nullopt; // cut below its size at opening
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        crc = crc32_feed(crc, buffer, static_cast<std::size_t>(got));
        offset += static_cast<std::uint64_t>(got);
        length -= static_cast<std::uint64_t>(got);
    }
    return crc ^ CRC32_PRESET;
}

bool unchanged_after_pieces(int fd, const struct stat& opened)
{
    unsigned char beyond = 0;
    ssize_t got = 0;
    do
        got = pread(fd, &beyond, 1, opened.st_size);
    while (got < 0 && errno == EINTR);
    struct stat after {
    };
    return got == 0 && fstat(fd, &after) == 0 && after.st_size == opened.st_size &&
           same_modification_time(after, opened);
}

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
    const std::unique_ptr<unsigned char[]> buffer(new unsigned char[READ_CHUNK]);
    // A file written to, or whose time is set, while it is read (a client that sets the time
    // of its upload as it ends) is read again once it has been quiet for a while: READS_AT_MOST
    // in all. The identity is that of the read that decided.
    for (int reads = 1;; ++reads) {
        if (read_from != nullptr)
            *read_from = identity_of(opened);
        if (lseek(fd, 0, SEEK_SET) != 0)
            break;
        crc = crc32_of_open_file(fd, opened, buffer.get());
        struct stat now {
        };
        if (crc || reads == READS_AT_MOST || fstat(fd, &now) != 0 ||
            (now.st_size == opened.st_size && same_modification_time(now, opened)))
            break; // read, or failed for another reason than a change
        wait_while_arriving(identity_of(now));
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
        print_cannot_read(path);
    return crc;
}

void print_cannot_read(const std::string& path)
{
    print_message("\nFatal error: cannot read file: %s\n", shown_in_message(path).c_str());
}

} // namespace zantra
