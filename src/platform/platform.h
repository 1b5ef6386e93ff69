// Everything in the program that differs between the systems zantra is built for (glibc
// Linux, FreeBSD), so that a port looks here, in platform.cpp and in cmake/platform.cmake
// only. Everything else is plain POSIX. packaging/freebsd/PORTING.md lists what to check.
#pragma once

#include <sys/stat.h>
#include <time.h>

struct dirent;

// The front of a getopt option string that makes getopt stop at the first operand, as POSIX
// says: glibc's getopt moves operands behind the options unless the string begins with "+";
// BSD getopt stops there already and would take "+" for an option letter.
#if defined(__GLIBC__)
#define ZANTRA_GETOPT_STOP_AT_OPERAND "+"
#else
#define ZANTRA_GETOPT_STOP_AT_OPERAND ""
#endif

namespace zantra
{

// Makes the next getopt call start over at argv[1], however far an earlier parse went.
void restart_getopt() noexcept;

// The AT_HWCAP word of the auxiliary vector, whose bits tell what the CPU and the kernel
// offer; 0 where it cannot be read.
[[nodiscard]] unsigned long hardware_capabilities() noexcept;

// Tells the kernel that `fd` is about to be read once from start to end; a hint, never a
// failure.
void advise_sequential_read(int fd) noexcept;

// The modification time of a status, to the nanosecond.
[[nodiscard]] struct timespec modification_time(const struct stat& info) noexcept;

// True when both statuses carry the same modification time, to the nanosecond.
[[nodiscard]] bool same_modification_time(const struct stat& a, const struct stat& b) noexcept;

// Opens the directory `name` inside the directory open at `parent` (AT_FDCWD: the current one)
// for reading, never through a symbolic link and never waiting; -1 when `name` is no directory
// or cannot be opened.
[[nodiscard]] int open_directory_below(int parent, const char* name) noexcept;
// True when some process may hold the file open at `fd` (opened read-only) for writing: on
// Linux a read lease is refused while any process does, and one taken is released at once.
// False where the platform cannot tell, or the lease is not ours to take (a file of another
// owner without CAP_LEASE, a file system without leases).
[[nodiscard]] bool may_be_open_for_writing(int fd) noexcept;

// The directory-entry types the scan tells apart (unknown where the file system reports none).
enum class EntryType { unknown, regular, directory, other };

// The type `item` reports for itself, from d_type where struct dirent has it.
[[nodiscard]] EntryType entry_type(const struct dirent& item) noexcept;

} // namespace zantra
