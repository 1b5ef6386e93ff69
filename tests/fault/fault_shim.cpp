// A preloaded library that makes the C library's file calls fail for one path, so that the
// command-line tests can put real faults under the unchanged binary:
//
//   ZANTRA_FAULT_PATH=name          the path, exactly as the program passes it to open or fopen
//                                   (a stream fdopen makes of such a descriptor counts too)
//   ZANTRA_FAULT_READ=eio:N         after N bytes have been read, every read fails with EIO
//   ZANTRA_FAULT_READ=truncate:N:M  after N bytes, the file is cut to M bytes (once)
//   ZANTRA_FAULT_READ=grow:N:K      after N bytes, K bytes are appended to the file (once)
//   ZANTRA_FAULT_FCLOSE=1           fclose of a stream on the path closes it and reports EIO
//   ZANTRA_FAULT_READDIR=eio:N      after N entries, reading any directory fails with EIO
//                                   (no path needed)
//   ZANTRA_FAULT_OPENDIR=eio:N      after N directories have been opened, opening any directory
//                                   fails with EIO (no path needed)
//   ZANTRA_FAULT_SWAP=before:SOURCE just before the first open, unlink or rename of the path,
//                                   SOURCE is renamed onto it (once), as another process could
//   ZANTRA_FAULT_SWAP=after:SOURCE  the same just after the first mkdir of the path
//   ZANTRA_FAULT_SWAP=rename:SOURCE the same just before the first rename away from the path
//                                   only, as a re-upload put in place while a rename waits
//   ZANTRA_FAULT_SWAP=close:SOURCE  the same just after the first close of a descriptor opened
//                                   on the path, as a resumed upload completed after a read
//   ZANTRA_FAULT_WRITER=1           the first open of the path also opens it for writing, and
//                                   that stays open to the end, as an upload still going on
//   ZANTRA_FAULT_MKDIR=erofs        every mkdir fails with EROFS (no path needed)
//   ZANTRA_FAULT_TOUCH=SECONDS      as the first descriptor opened on the path is closed, the
//                                   file's modification time is set to SECONDS since the epoch
//                                   (once), as by a client that sets a file's time after its
//                                   upload
//
// Reads through descriptors (read) and through streams (getc, fgetc) are both counted; a read
// that would cross N is cut short at N, so that the fault comes exactly there. The variables
// are read by this test library only; the program has none of its own.

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <utility>

namespace
{

enum class Action { none, eio, truncate, grow };

// The call at which the swap source is renamed onto the path: before an open, unlink or rename
// of it (or a rename only), after a mkdir of it, or after a close of a descriptor on it.
enum class SwapAt { before, rename, mkdir, close };

struct Settings {
    std::string path;
    Action action = Action::none;
    long long after = 0;    // N
    long long argument = 0; // M or K
    bool fail_fclose = false;
    long long readdir_after = -1; // entries delivered before readdir fails; -1: never
    long long opendir_after = -1; // directories opened before opendir fails; -1: never
    std::string swap_source;      // renamed onto the path once, at `swap_at`
    SwapAt swap_at = SwapAt::before;
    bool hold_writer = false;
    long long touch_to = -1; // the modification time set at the first close; -1: none
};

const Settings& settings()
{
    static const Settings loaded = [] {
        Settings s;
        if (const char* path = std::getenv("ZANTRA_FAULT_PATH"))
            s.path = path;
        if (const char* read = std::getenv("ZANTRA_FAULT_READ")) {
            long long n = 0, m = 0;
            if (std::sscanf(read, "eio:%lld", &n) == 1)
                s.action = Action::eio;
            else if (std::sscanf(read, "truncate:%lld:%lld", &n, &m) == 2)
                s.action = Action::truncate;
            else if (std::sscanf(read, "grow:%lld:%lld", &n, &m) == 2)
                s.action = Action::grow;
            s.after = n;
            s.argument = m;
        }
        if (const char* readdir_fault = std::getenv("ZANTRA_FAULT_READDIR"))
            if (std::sscanf(readdir_fault, "eio:%lld", &s.readdir_after) != 1)
                s.readdir_after = -1;
        if (const char* opendir_fault = std::getenv("ZANTRA_FAULT_OPENDIR"))
            if (std::sscanf(opendir_fault, "eio:%lld", &s.opendir_after) != 1)
                s.opendir_after = -1;
        if (const char* swap = std::getenv("ZANTRA_FAULT_SWAP")) {
            const std::string text = swap;
            for (const auto& [word, at] :
                 {std::pair{"before:", SwapAt::before}, std::pair{"after:", SwapAt::mkdir},
                  std::pair{"rename:", SwapAt::rename}, std::pair{"close:", SwapAt::close}})
                if (text.rfind(word, 0) == 0) {
                    s.swap_source = text.substr(std::strlen(word));
                    s.swap_at = at;
                }
        }
        if (const char* touch = std::getenv("ZANTRA_FAULT_TOUCH"))
            if (std::sscanf(touch, "%lld", &s.touch_to) != 1)
                s.touch_to = -1;
        if (const char* writer = std::getenv("ZANTRA_FAULT_WRITER"))
            s.hold_writer = std::strcmp(writer, "1") == 0;
        if (const char* fclose_fault = std::getenv("ZANTRA_FAULT_FCLOSE"))
            s.fail_fclose = std::strcmp(fclose_fault, "1") == 0;
        return s;
    }();
    return loaded;
}

bool is_target(const char* path)
{
    return path != nullptr && !settings().path.empty() && settings().path == path;
}

// One file under fault: the descriptor or stream reading it, and how much was delivered.
struct Tracked {
    int fd = -1;
    FILE* stream = nullptr;
    long long delivered = 0;
    bool acted = false;
};

std::mutex table_lock;
Tracked tracked[16];

Tracked* find(int fd, FILE* stream)
{
    for (Tracked& t : tracked)
        if ((fd >= 0 && t.fd == fd) || (stream != nullptr && t.stream == stream))
            return &t;
    return nullptr;
}

void track(int fd, FILE* stream)
{
    const std::lock_guard<std::mutex> guard(table_lock);
    for (Tracked& t : tracked)
        if (t.fd < 0 && t.stream == nullptr) {
            t = Tracked{fd, stream, 0, false};
            return;
        }
}

void forget(int fd, FILE* stream)
{
    const std::lock_guard<std::mutex> guard(table_lock);
    if (Tracked* t = find(fd, stream))
        *t = Tracked{};
}

template <typename Function> Function next(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// Does what the setting asks once N bytes have been delivered. Returns false when the read
// must fail.
bool act(Tracked& t)
{
    const Settings& s = settings();
    switch (s.action) {
    case Action::none: return true;
    case Action::eio: return false;
    case Action::truncate:
        if (!t.acted)
            (void)!truncate(s.path.c_str(), static_cast<off_t>(s.argument));
        break;
    case Action::grow:
        if (!t.acted) {
            const int fd =
                next<int (*)(const char*, int, ...)>("open")(s.path.c_str(), O_WRONLY | O_APPEND);
            const std::string more(static_cast<std::size_t>(s.argument), 'g');
            if (fd >= 0) {
                (void)!write(fd, more.data(), more.size());
                close(fd);
            }
        }
        break;
    }
    t.acted = true;
    return true;
}

// How many bytes the next read of `t` may deliver, or -1 when it must fail with EIO.
long long allowance(Tracked& t, long long wanted)
{
    const Settings& s = settings();
    if (s.action == Action::none)
        return wanted;
    if (t.delivered < s.after)
        return std::min(wanted, s.after - t.delivered);
    return act(t) ? wanted : -1;
}

int opened(int fd, const char* path)
{
    static bool writer_held = false;
    if (fd >= 0 && is_target(path)) {
        track(fd, nullptr);
        if (settings().hold_writer && !writer_held) {
            writer_held = true;
            const int saved = errno;
            (void)next<int (*)(const char*, int, ...)>("open")(path, O_WRONLY | O_CLOEXEC);
            errno = saved;
        }
    }
    return fd;
}

// True when this read of a directory must fail: N entries have been delivered.
bool directory_read_fails()
{
    static long long delivered = 0;
    const long long after = settings().readdir_after;
    if (after < 0 || delivered < after) {
        ++delivered;
        return false;
    }
    errno = EIO;
    return true;
}

// True when this opening of a directory must fail: N directories have been opened.
bool directory_open_fails()
{
    static long long opened = 0;
    const long long after = settings().opendir_after;
    if (after < 0 || opened < after) {
        ++opened;
        return false;
    }
    errno = EIO;
    return true;
}

// Renames the swap source onto the path, once, when `path` is the path and the call `at` is
// the moment the setting asks for (a rename is also a moment before one).
void swap_in(const char* path, SwapAt at)
{
    static bool done = false;
    const Settings& s = settings();
    const bool moment = s.swap_at == at || (s.swap_at == SwapAt::before && at == SwapAt::rename);
    if (done || s.swap_source.empty() || !moment || !is_target(path))
        return;
    done = true;
    const int saved = errno;
    (void)next<int (*)(const char*, const char*)>("rename")(s.swap_source.c_str(), path);
    errno = saved;
}

// Sets the modification time of the file open at `fd` (or under `stream`, when one closes it),
// when it is under fault and no close has done so yet.
void touch_at_close(int fd, FILE* stream = nullptr)
{
    static bool done = false;
    bool under_fault = false;
    {
        const std::lock_guard<std::mutex> guard(table_lock);
        under_fault = find(fd, stream) != nullptr;
    }
    if (done || !under_fault || settings().touch_to < 0)
        return;
    done = true;
    const int saved = errno;
    const struct timespec times[2] = {{0, UTIME_OMIT},
                                      {static_cast<time_t>(settings().touch_to), 0}};
    (void)futimens(fd, times);
    errno = saved;
}

mode_t mode_argument(int flags, va_list arguments)
{
    return (flags & O_CREAT) != 0 ? static_cast<mode_t>(va_arg(arguments, int)) : 0;
}

} // namespace

// Each entry point is defined under the name of the C library symbol it replaces, whatever the
// headers make of its C name: with _FILE_OFFSET_BITS=64 they turn open into open64 and fopen
// into fopen64, so that defining both by their C names would define those twice. Here every
// real symbol is defined exactly once, in both worlds.
#define ZANTRA_SYMBOL(name) __asm__(#name)

extern "C" {

int fault_open(const char* path, int flags, ...) ZANTRA_SYMBOL(open);
int fault_open64(const char* path, int flags, ...) ZANTRA_SYMBOL(open64);
int fault_openat(int directory, const char* path, int flags, ...) ZANTRA_SYMBOL(openat);
int fault_openat64(int directory, const char* path, int flags, ...) ZANTRA_SYMBOL(openat64);
int fault_open_2(const char* path, int flags) ZANTRA_SYMBOL(__open_2);
int fault_open64_2(const char* path, int flags) ZANTRA_SYMBOL(__open64_2);
FILE* fault_fopen(const char* path, const char* mode) ZANTRA_SYMBOL(fopen);
FILE* fault_fopen64(const char* path, const char* mode) ZANTRA_SYMBOL(fopen64);
void* fault_readdir(DIR* directory) ZANTRA_SYMBOL(readdir);
void* fault_readdir64(DIR* directory) ZANTRA_SYMBOL(readdir64);
// The C library's checked and older entry points, which no header declares without
// fortification.
ssize_t __read_chk(int fd, void* buffer, size_t length, size_t buffer_size);
int _IO_getc(FILE* stream);

int fault_open(const char* path, int flags, ...)
{
    swap_in(path, SwapAt::before);
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = mode_argument(flags, arguments);
    va_end(arguments);
    return opened(next<int (*)(const char*, int, ...)>("open")(path, flags, mode), path);
}

int fault_open64(const char* path, int flags, ...)
{
    swap_in(path, SwapAt::before);
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = mode_argument(flags, arguments);
    va_end(arguments);
    return opened(next<int (*)(const char*, int, ...)>("open64")(path, flags, mode), path);
}

int fault_openat(int directory, const char* path, int flags, ...)
{
    swap_in(path, SwapAt::before);
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = mode_argument(flags, arguments);
    va_end(arguments);
    return opened(next<int (*)(int, const char*, int, ...)>("openat")(directory, path, flags, mode),
                  path);
}

int fault_openat64(int directory, const char* path, int flags, ...)
{
    swap_in(path, SwapAt::before);
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = mode_argument(flags, arguments);
    va_end(arguments);
    return opened(
        next<int (*)(int, const char*, int, ...)>("openat64")(directory, path, flags, mode), path);
}

int fault_open_2(const char* path, int flags)
{
    swap_in(path, SwapAt::before);
    return opened(next<int (*)(const char*, int)>("__open_2")(path, flags), path);
}

int fault_open64_2(const char* path, int flags)
{
    swap_in(path, SwapAt::before);
    return opened(next<int (*)(const char*, int)>("__open64_2")(path, flags), path);
}

int unlink(const char* path)
{
    swap_in(path, SwapAt::before);
    return next<int (*)(const char*)>("unlink")(path);
}

int rename(const char* from, const char* to)
{
    swap_in(from, SwapAt::rename);
    return next<int (*)(const char*, const char*)>("rename")(from, to);
}

int mkdir(const char* path, mode_t mode)
{
    if (std::getenv("ZANTRA_FAULT_MKDIR") != nullptr) {
        errno = EROFS; // as on a file system mounted read-only
        return -1;
    }
    const int made = next<int (*)(const char*, mode_t)>("mkdir")(path, mode);
    swap_in(path, SwapAt::mkdir);
    return made;
}

int close(int fd)
{
    touch_at_close(fd);
    bool was_tracked = false;
    {
        const std::lock_guard<std::mutex> guard(table_lock);
        was_tracked = find(fd, nullptr) != nullptr;
    }
    forget(fd, nullptr);
    const int result = next<int (*)(int)>("close")(fd);
    if (was_tracked)
        swap_in(settings().path.c_str(), SwapAt::close);
    return result;
}

ssize_t read(int fd, void* buffer, size_t length)
{
    static const auto real_read = next<ssize_t (*)(int, void*, size_t)>("read");
    Tracked* t = nullptr;
    {
        const std::lock_guard<std::mutex> guard(table_lock);
        t = find(fd, nullptr);
    }
    if (t == nullptr)
        return real_read(fd, buffer, length);
    const long long allowed = allowance(*t, static_cast<long long>(length));
    if (allowed < 0) {
        errno = EIO;
        return -1;
    }
    const ssize_t got = real_read(fd, buffer, static_cast<size_t>(allowed));
    if (got > 0)
        t->delivered += got;
    return got;
}

ssize_t __read_chk(int fd, void* buffer, size_t length, size_t /*buffer_size*/)
{
    return read(fd, buffer, length);
}

FILE* fault_fopen(const char* path, const char* mode)
{
    FILE* stream = next<FILE* (*)(const char*, const char*)>("fopen")(path, mode);
    if (stream != nullptr && is_target(path))
        track(-1, stream);
    return stream;
}

FILE* fault_fopen64(const char* path, const char* mode)
{
    FILE* stream = next<FILE* (*)(const char*, const char*)>("fopen64")(path, mode);
    if (stream != nullptr && is_target(path))
        track(-1, stream);
    return stream;
}

// A stream made from a descriptor under fault is under fault too.
FILE* fdopen(int fd, const char* mode)
{
    FILE* stream = next<FILE* (*)(int, const char*)>("fdopen")(fd, mode);
    const std::lock_guard<std::mutex> guard(table_lock);
    if (Tracked* t = find(fd, nullptr); t != nullptr && stream != nullptr)
        t->stream = stream;
    return stream;
}

int fclose(FILE* stream)
{
    bool was_tracked = false;
    {
        const std::lock_guard<std::mutex> guard(table_lock);
        was_tracked = find(-1, stream) != nullptr;
    }
    // The C library closes the descriptor under the stream without calling close.
    touch_at_close(fileno(stream), stream);
    forget(-1, stream);
    const int result = next<int (*)(FILE*)>("fclose")(stream);
    if (was_tracked && settings().fail_fclose) {
        errno = EIO;
        return EOF;
    }
    return result;
}

// A stream read error: the stream's error indicator is set, as the C library does when the
// read under it fails, and EOF is returned.
int fgetc(FILE* stream)
{
    static const auto real_fgetc = next<int (*)(FILE*)>("fgetc");
    Tracked* t = nullptr;
    {
        const std::lock_guard<std::mutex> guard(table_lock);
        t = find(-1, stream);
    }
    if (t == nullptr)
        return real_fgetc(stream);
    if (allowance(*t, 1) < 0) {
#if defined(__GLIBC__)
        stream->_flags |= 0x20; // _IO_ERR_SEEN
#endif
        errno = EIO;
        return EOF;
    }
    const int c = real_fgetc(stream);
    if (c != EOF)
        ++t->delivered;
    return c;
}

// The entry is handed on untouched, so its layout (struct dirent or dirent64) does not matter.
void* fault_readdir(DIR* directory)
{
    static const auto real_readdir = next<void* (*)(DIR*)>("readdir");
    return directory_read_fails() ? nullptr : real_readdir(directory);
}

void* fault_readdir64(DIR* directory)
{
    static const auto real_readdir64 = next<void* (*)(DIR*)>("readdir64");
    return directory_read_fails() ? nullptr : real_readdir64(directory);
}

DIR* opendir(const char* path)
{
    static const auto real_opendir = next<DIR* (*)(const char*)>("opendir");
    return directory_open_fails() ? nullptr : real_opendir(path);
}

int getc(FILE* stream)
{
    return fgetc(stream);
}

int _IO_getc(FILE* stream)
{
    return fgetc(stream);
}

} // extern "C"
