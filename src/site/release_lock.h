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
    ReleaseLock(ReleaseLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    ReleaseLock& operator=(ReleaseLock&&) = delete;
    ReleaseLock(const ReleaseLock&) = delete;
    ReleaseLock& operator=(const ReleaseLock&) = delete;
    ~ReleaseLock();

    // True when this object holds the lock; false for one made empty, or by a lock_release
    // that went on without it.
    [[nodiscard]] bool held() const noexcept { return fd_ >= 0; }

  private:
    explicit ReleaseLock(int fd) : fd_(fd) {}
    friend ReleaseLock lock_release();

    int fd_ = -1;
};

// How long a run waits for another's bookkeeping before it goes on without the lock: a stuck
// holder must not hang every later hook of the site.
inline constexpr int LOCK_WAIT_MS = 5000;

// Takes the lock of the release in the current directory, waiting at most LOCK_WAIT_MS. When
// the file system cannot lock, or the holder does not let go in time, it returns a lock that is
// not held(); what a run does then is the book-keeper's to say.
[[nodiscard]] ReleaseLock lock_release();

} // namespace zantra
