#include "site/release_lock.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace zantra
{

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
    constexpr int STEP_MS = 5;
    for (int waited = 0; waited <= LOCK_WAIT_MS;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            return ReleaseLock(fd);
        if (errno != EWOULDBLOCK && errno != EINTR)
            break; // a file system that cannot lock: go on as without one
        if (errno == EWOULDBLOCK) {
            const struct timespec step = {0, STEP_MS * 1000000L};
            nanosleep(&step, nullptr);
            waited += STEP_MS;
        }
    }
    close(fd);
    return ReleaseLock();
}

} // namespace zantra
