// The lock that keeps the glftpd bookkeeping of one release to one run at a time.
#pragma once

namespace zantra
{

// An exclusive advisory lock (flock) on the current directory itself, so that no lock file
// shows in the release's listing. Held from lock_release() until the object goes; runs that
// meet in one directory take turns at their bookkeeping, never at their reading.
class ReleaseLock
{
  public:
    ReleaseLock() = default;
    explicit ReleaseLock(int fd) : fd_(fd) {}
    ReleaseLock(ReleaseLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    ReleaseLock& operator=(ReleaseLock&&) = delete;
    ReleaseLock(const ReleaseLock&) = delete;
    ReleaseLock& operator=(const ReleaseLock&) = delete;
    ~ReleaseLock();

  private:
    int fd_ = -1;
};

// How long a run waits for another's bookkeeping before it goes on without the lock: a stuck
// holder must not hang every later hook of the site.
inline constexpr int LOCK_WAIT_MS = 5000;

// Takes the lock of the release in the current directory, waiting at most LOCK_WAIT_MS. When
// the file system cannot lock, or the holder does not let go in time, the run goes on without
// it, as it would with no other run about.
[[nodiscard]] ReleaseLock lock_release();

} // namespace zantra
