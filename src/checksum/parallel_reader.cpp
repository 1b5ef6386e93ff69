#include "checksum/parallel_reader.h"

#include "checksum/crc32.h"
#include "checksum/file_reading.h"
#include "platform/platform.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace zantra
{
namespace
{

// One file of the run, from the moment a worker claims it until its result is taken.
struct FileState {
    int fd = -1; // open while pieces of it remain to be read
    struct stat opened {
    };
    std::uint64_t piece_length = 0;
    std::vector<std::uint32_t> piece_crcs;
    std::size_t pieces_left = 0;
    bool failed = false;  // a piece could not be read: the rest need not be
    bool changed = false; // the read failed because the file changed while it was read
    bool done = false;
    FileChecksum result;
};

// A piece of an open file that no worker has started yet.
struct Piece {
    std::size_t file = 0;
    std::size_t number = 0;
};

} // namespace

// Everything below is guarded by `mutex`, except what a worker reads of a file it holds a
// piece of (fd, opened, piece_length), which is set before any piece of it is handed out.
struct ParallelReader::Shared {
    const std::vector<ReadRequest>* requests = nullptr;
    std::uint64_t piece_size = PIECE_SIZE;
    std::size_t workers = 0;
    std::vector<FileState> files;
    std::mutex mutex;
    std::condition_variable work_ready;
    std::condition_variable result_ready;
    std::deque<Piece> pending;
    std::size_t open_files = 0;
    std::size_t next_to_open = 0;
    std::size_t next_to_take = 0;
    bool stopping = false;
};

namespace
{

using Shared = ParallelReader::Shared;
using Lock = std::unique_lock<std::mutex>;

// How many files past the next one to be taken workers may claim: enough to keep every worker
// busy while the caller waits on one slow file, few enough that a file read ahead is still the
// file at its name when its turn comes.
std::size_t window_of(std::size_t workers)
{
    return 2 * workers + 2;
}

// True when the open file `fd` no longer has the size or modification time it had at opening
// (`opened`): a read of it that failed did so because it was changed, and may succeed again.
bool changed_since(int fd, const struct stat& opened)
{
    struct stat now {
    };
    return fstat(fd, &now) == 0 &&
           (now.st_size != opened.st_size || !same_modification_time(now, opened));
}

// Hands the caller a file's result. Called with the lock held.
void publish(Shared& shared, FileState& file, FileChecksum result)
{
    file.result = result;
    file.done = true;
    shared.result_ready.notify_all();
}

// Joins the pieces of a file whose last piece has been read, checks that the file was not
// changed meanwhile and closes it. Called with the lock held; drops it while it reads.
void finish_file(Shared& shared, FileState& file, Lock& lock)
{
    lock.unlock();
    std::optional<std::uint32_t> crc;
    if (!file.failed && unchanged_after_pieces(file.fd, file.opened)) {
        const auto size = static_cast<std::uint64_t>(file.opened.st_size);
        std::uint32_t joined = file.piece_crcs[0];
        for (std::size_t k = 1; k < file.piece_crcs.size(); ++k) {
            const std::uint64_t offset = k * file.piece_length;
            const std::uint64_t rest = size - offset;
            joined = crc32_combine(joined, file.piece_crcs[k],
                                   rest < file.piece_length ? rest : file.piece_length);
        }
        crc = joined;
    }
    const bool changed = !crc && changed_since(file.fd, file.opened);
    close(file.fd);
    lock.lock();
    file.fd = -1;
    file.changed = changed;
    --shared.open_files;
    publish(shared, file, FileChecksum{crc, identity_of(file.opened)});
    shared.work_ready.notify_all();
}

// Reads one piece and records it. Called with the lock held; drops it while it reads.
void read_piece(Shared& shared, const Piece& piece, unsigned char* buffer, Lock& lock)
{
    FileState& file = shared.files[piece.file];
    if (!file.failed) {
        const std::uint64_t offset = piece.number * file.piece_length;
        const std::uint64_t rest = static_cast<std::uint64_t>(file.opened.st_size) - offset;
        lock.unlock();
        const std::optional<std::uint32_t> crc = crc32_of_piece(
            file.fd, offset, rest < file.piece_length ? rest : file.piece_length, buffer);
        lock.lock();
        if (crc)
            file.piece_crcs[piece.number] = *crc;
        else
            file.failed = true;
    }
    if (--file.pieces_left == 0)
        finish_file(shared, file, lock);
}

// Opens file `index` and reads it whole, or, when it is larger than a piece, queues all its
// pieces but the first for the other workers and reads that one. Called with the lock held.
void open_file(Shared& shared, std::size_t index, unsigned char* buffer, Lock& lock)
{
    FileState& file = shared.files[index];
    const ReadRequest& request = (*shared.requests)[index];
    lock.unlock();
    const int fd = open_regular_file(request.path, request.links, file.opened);
    const auto size = static_cast<std::uint64_t>(file.opened.st_size);
    if (fd < 0 || size <= shared.piece_size) {
        std::optional<std::uint32_t> crc;
        bool changed = false;
        if (fd >= 0) {
            crc = crc32_of_open_file(fd, file.opened, buffer);
            changed = !crc && changed_since(fd, file.opened);
            close(fd);
        }
        lock.lock();
        file.changed = changed;
        --shared.open_files;
        const FileIdentity identity = fd >= 0 ? identity_of(file.opened) : FileIdentity{};
        publish(shared, file, FileChecksum{crc, identity});
        shared.work_ready.notify_all();
        return;
    }
    const std::uint64_t count = (size + shared.piece_size - 1) / shared.piece_size;
    file.piece_length = (size + count - 1) / count;
    const std::uint64_t pieces = (size + file.piece_length - 1) / file.piece_length;
    file.piece_crcs.assign(static_cast<std::size_t>(pieces), 0);
    file.pieces_left = file.piece_crcs.size();
    file.fd = fd;
    lock.lock();
    for (std::size_t k = 1; k < file.piece_crcs.size(); ++k)
        shared.pending.push_back(Piece{index, k});
    shared.work_ready.notify_all();
    read_piece(shared, Piece{index, 0}, buffer, lock);
}

// A worker: reads queued pieces first, oldest file first, then claims the next file when it
// is within the window and no more than one file per worker is open.
void work(Shared& shared)
{
    const std::unique_ptr<unsigned char[]> buffer(new unsigned char[READ_CHUNK]);
    Lock lock(shared.mutex);
    while (!shared.stopping) {
        if (!shared.pending.empty()) {
            const Piece piece = shared.pending.front();
            shared.pending.pop_front();
            read_piece(shared, piece, buffer.get(), lock);
        } else if (shared.next_to_open < shared.files.size() &&
                   shared.next_to_open < shared.next_to_take + window_of(shared.workers) &&
                   shared.open_files < shared.workers) {
            ++shared.open_files;
            open_file(shared, shared.next_to_open++, buffer.get(), lock);
        } else {
            shared.work_ready.wait(lock);
        }
    }
}

} // namespace

ParallelReader::ParallelReader(std::vector<ReadRequest> requests, int jobs,
                               std::uint64_t piece_size)
    : requests_(std::move(requests))
{
    if (jobs <= 1 || requests_.empty())
        return;
    shared_ = std::make_unique<Shared>();
    shared_->requests = &requests_;
    shared_->piece_size = piece_size > 0 ? piece_size : 1;
    shared_->files.resize(requests_.size());
    const std::size_t wanted = static_cast<std::size_t>(jobs < JOBS_MAX ? jobs : JOBS_MAX);
    {
        // A worker started while others are being started must see the final count.
        const Lock lock(shared_->mutex);
        try {
            for (std::size_t i = 0; i < wanted; ++i) {
                workers_.emplace_back(work, std::ref(*shared_));
                ++shared_->workers;
            }
        } catch (const std::system_error&) {
            // The system has no more threads to give: the workers started will do.
        }
    }
    if (workers_.empty())
        shared_.reset();
    else
        shared_->work_ready.notify_all();
}

ParallelReader::~ParallelReader()
{
    if (!shared_)
        return;
    {
        const Lock lock(shared_->mutex);
        shared_->stopping = true;
    }
    shared_->work_ready.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
    for (const FileState& file : shared_->files)
        if (file.fd >= 0)
            close(file.fd);
}

namespace
{

// What one read of `request` at its turn gives, re-read while it changes, as at one job.
FileChecksum read_at_turn(const ReadRequest& request)
{
    FileChecksum result;
    result.crc = crc32_of_file_quietly(request.path, &result.identity, request.links);
    return result;
}

} // namespace

FileChecksum ParallelReader::take(std::size_t index)
{
    if (!shared_)
        return read_at_turn(requests_[index]);
    Lock lock(shared_->mutex);
    // The window moves on first, so that the file asked for is within it.
    shared_->next_to_take = index;
    shared_->work_ready.notify_all();
    FileState& file = shared_->files[index];
    shared_->result_ready.wait(lock, [&] { return file.done; });
    shared_->next_to_take = index + 1;
    shared_->work_ready.notify_all();
    if (!file.changed)
        return file.result;
    // A file changed while a worker read it: it is read again at its turn, as one job would
    // have read it, waiting until it is quiet.
    lock.unlock();
    return read_at_turn(requests_[index]);
}

int processors_online() noexcept
{
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    if (online < 1)
        return 1;
    return online > JOBS_MAX ? JOBS_MAX : static_cast<int>(online);
}

} // namespace zantra
