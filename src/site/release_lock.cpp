#include "site/release_lock.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace zantra
{
namespace
{

// Milliseconds on CLOCK_MONOTONIC, which no change of the wall clock moves.
long long monotonic_ms() noexcept
{
    struct timespec now {
    };
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace

ReleaseLock::~ReleaseLock()
{
    if (fd_ >= 0)
        close(fd_); // lets go of the lock
}

ReleaseLock lock_release()
{
    const int fd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return ReleaseLock();
    const long long deadline = monotonic_ms() + LOCK_WAIT_MS;
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            return ReleaseLock(fd);
        if (errno == EINTR)
            continue;
        // A file system that cannot lock, or a holder past the deadline: go on without it.
        if (errno != EWOULDBLOCK || monotonic_ms() >= deadline)
            break;
        const struct timespec step = {0, 5 * 1000000L};
        nanosleep(&step, nullptr);
    }
    close(fd);
    return ReleaseLock();
}

} // namespace zantra
