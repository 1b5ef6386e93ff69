#include "platform/platform.h"

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#if defined(__linux__) || defined(__FreeBSD__)
#include <sys/auxv.h>
#endif

// Files of 2 GiB and more need a 64-bit off_t. 32-bit glibc has one only with
// _FILE_OFFSET_BITS=64, which cmake/platform.cmake defines where it is needed.
static_assert(sizeof(off_t) >= 8, "zantra needs a 64-bit off_t: build with -D_FILE_OFFSET_BITS=64");

namespace zantra
{

// glibc restarts with optind = 0; the BSDs want optreset set and optind = 1.
void restart_getopt() noexcept
{
#if defined(__GLIBC__)
    optind = 0;
#else
#if defined(__FreeBSD__) || defined(__NetBSD__) || defined(__OpenBSD__) || defined(__APPLE__) ||   \
    defined(__DragonFly__)
    optreset = 1;
#endif
    optind = 1;
#endif
}

// Linux has getauxval, FreeBSD (12.0 and later) elf_aux_info.
unsigned long hardware_capabilities() noexcept
{
#if defined(__FreeBSD__)
    unsigned long hwcap = 0;
    return elf_aux_info(AT_HWCAP, &hwcap, sizeof hwcap) == 0 ? hwcap : 0;
#elif defined(__linux__)
    return getauxval(AT_HWCAP);
#else
    return 0;
#endif
}

// Linux answers with a read-ahead window twice the default. Reading a 2 GiB release from a
// cold cache was 2 to 30 percent faster with it in the median (bench/RESULTS.md); from a warm
// cache it changes nothing.
void advise_sequential_read(int fd) noexcept
{
#ifdef POSIX_FADV_SEQUENTIAL
    (void)posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#else
    (void)fd;
#endif
}

// st_mtim is the POSIX.1-2008 name, which glibc and FreeBSD both have.
struct timespec modification_time(const struct stat& info) noexcept
{
    return info.st_mtim;
}

bool same_modification_time(const struct stat& a, const struct stat& b) noexcept
{
    return a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// O_DIRECTORY and O_NOFOLLOW together refuse a symbolic link even to a directory, on Linux and
// FreeBSD alike.
int open_directory_below(int parent, const char* name) noexcept
{
    return openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
}

// A writer that opens the file while the lease is held would send its holder SIGIO, whose
// default ends the run, so SIGIO is ignored for the moment the lease stands.
bool may_be_open_for_writing(int fd) noexcept
{
#if defined(__linux__) && defined(F_SETLEASE)
    struct sigaction ignore {
    };
    struct sigaction before {
    };
    ignore.sa_handler = SIG_IGN;
    if (sigaction(SIGIO, &ignore, &before) != 0)
        return false;
    const int taken = fcntl(fd, F_SETLEASE, F_RDLCK);
    const bool writer = taken != 0 && (errno == EAGAIN || errno == EBUSY);
    if (taken == 0)
        (void)fcntl(fd, F_SETLEASE, F_UNLCK);
    (void)sigaction(SIGIO, &before, nullptr);
    return writer;
#else
    (void)fd;
    return false;
#endif
}

// d_type is no POSIX field, and file systems may leave it DT_UNKNOWN.
EntryType entry_type(const struct dirent& item) noexcept
{
#if defined(ZANTRA_HAVE_D_TYPE)
    switch (item.d_type) {
    case DT_UNKNOWN: return EntryType::unknown;
    case DT_REG: return EntryType::regular;
    case DT_DIR: return EntryType::directory;
    default: return EntryType::other;
    }
#else
    (void)item;
    return EntryType::unknown;
#endif
}

} // namespace zantra
