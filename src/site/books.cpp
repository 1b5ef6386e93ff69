#include "site/books.h"

#include "site/markers.h"

#include <algorithm>
#include <ctime>
#include <optional>
#include <sys/stat.h>
#include <unordered_map>

namespace zantra
{

bool is_as_read(const FileRead& read)
{
    struct stat info {
    };
    return lstat(read.path.c_str(), &info) == 0 &&
           (read.file.inode == 0 || is_same_unchanged(info, read.file));
}

bool is_changed_in_place(const FileRead& read)
{
    struct stat info {
    };
    return lstat(read.path.c_str(), &info) == 0 && info.st_dev == read.file.device &&
           info.st_ino == read.file.inode && !is_same_unchanged(info, read.file);
}

long long milliseconds_since(const struct timespec& then, const struct timespec& now)
{
    // Seconds are compared before they are subtracted: a time an uploader set may be anywhere
    // in the range of time_t, and a difference of such times overflows.
    constexpr long long FAR_S = 1000000000LL;
    if (then.tv_sec < now.tv_sec && now.tv_sec - FAR_S > then.tv_sec)
        return FAR_S * 1000;
    if (then.tv_sec > now.tv_sec && then.tv_sec - FAR_S > now.tv_sec)
        return -FAR_S * 1000;
    return (static_cast<long long>(now.tv_sec) - then.tv_sec) * 1000 +
           (static_cast<long long>(now.tv_nsec) - then.tv_nsec) / 1000000;
}

namespace
{

// How long ago the file of `read` was last modified, in milliseconds; nothing when the clock
// cannot be read.
std::optional<long long> age_ms(const FileIdentity& read)
{
    struct timespec now {
    };
    if (clock_gettime(CLOCK_REALTIME, &now) != 0)
        return std::nullopt;
    return milliseconds_since(read.modified, now);
}

} // namespace

void wait_while_arriving(const FileIdentity& read)
{
    const std::optional<long long> age = age_ms(read);
    if (!age || *age >= ARRIVING_MS)
        return;
    // A time in the future (a clock set wrong, or one an uploader chose) waits the longest.
    const long long wait_ms = *age < 0 ? ARRIVING_MS : ARRIVING_MS - *age;
    const struct timespec wait = {static_cast<time_t>(wait_ms / 1000),
                                  static_cast<long>(wait_ms % 1000) * 1000000L};
    nanosleep(&wait, nullptr);
}

ReleaseLock hold_books()
{
    return lock_release();
}

namespace
{

// A listed entry's books once this run has read it: verified, the marker goes and so does a
// stale ".bad"; failed, the marker stands.
void unmark(std::string_view listed_name, const FileRead& read)
{
    remove_marker(listed_name, MISSING_SUFFIX);
    remove_stale_bad_marker(listed_name, read.file);
}

void mark(std::string_view listed_name)
{
    touch_marker(listed_name, MISSING_SUFFIX);
}

// Renames the file read to the ".bad" name of `listed_name` when it is still the file that was
// read, unchanged: never a good upload that has replaced it, nor one still being written.
void rename_to_bad(std::string_view listed_name, const FileRead& read)
{
    if (is_as_read(read))
        mark_bad(read.path, listed_name, read.file);
}

} // namespace

void settle_tested_file(std::string_view listed_name, const FileRead& first, const FileRead& latest)
{
    const ReleaseLock lock = hold_books();
    const bool settled = latest.verdict != Verdict::unreadable && is_as_read(latest);
    const bool first_good = first.verdict == Verdict::good;
    const bool latest_good = latest.verdict == Verdict::good;
    if (first_good && latest_good && settled) {
        unmark(listed_name, latest);
        return;
    }
    if (!first_good && !latest_good && settled)
        rename_to_bad(listed_name, latest);
    if (!first_good || latest.verdict == Verdict::bad)
        mark(listed_name);
}

void mark_every_entry(const ListTable& table)
{
    for (const ListEntry& entry : table.entries)
        mark(entry.name);
}

namespace
{

// Waits, as -t does before it renames, until the most recently modified file found bad has not
// changed for a while: an upload that pauses looks complete.
void wait_for_bad_reads(const std::vector<FileRead>& reads)
{
    const FileRead* newest = nullptr;
    for (const FileRead& read : reads) {
        if (read.verdict != Verdict::bad)
            continue;
        const struct timespec& t = read.file.modified;
        if (newest == nullptr || t.tv_sec > newest->file.modified.tv_sec ||
            (t.tv_sec == newest->file.modified.tv_sec && t.tv_nsec > newest->file.modified.tv_nsec))
            newest = &read;
    }
    if (newest != nullptr)
        wait_while_arriving(newest->file);
}

// Renames each file found bad, and surely complete, to the ".bad" name of its listed name:
// unchanged since its read and last modified ARRIVING_MS ago or more (mark_bad adds: no writer
// holds it open). Any other is only marked, and its own upload's hook renames it. An entry that
// several files on disk matched (names that differ in letter case only) has no one file to
// rename: it is only marked.
void rename_bad_reads(const ListTable& table, const std::vector<FileRead>& reads)
{
    std::vector<int> files_of(table.entries.size(), 0);
    for (const FileRead& read : reads)
        ++files_of[read.entry];
    for (const FileRead& read : reads)
        if (read.verdict == Verdict::bad && files_of[read.entry] == 1 &&
            age_ms(read.file).value_or(0) >= ARRIVING_MS)
            rename_to_bad(table.entries[read.entry].name, read);
}

// How a listed entry stands after this run's reading, from the worst of its files on disk now.
enum class Standing {
    verified,  // read good by this run, and unchanged since
    unsettled, // not read by this run, or changed since its read
    failed,    // read bad or unreadable by this run, and unchanged since
};

// How the file now at `name` stands, given this run's reads by name.
Standing standing_of(const std::string& name,
                     const std::unordered_map<std::string, const FileRead*>& reads_by_name)
{
    const auto found = reads_by_name.find(name);
    if (found == reads_by_name.end() || !is_as_read(*found->second))
        return Standing::unsettled;
    return found->second->verdict == Verdict::good ? Standing::verified : Standing::failed;
}

// What a fresh walk of the directory finds of the listed entries: each entry's standing, and
// which were found at all (`now`). False when the walk does not finish.
bool stand_entries(ListTable& now, const std::vector<FileRead>& reads,
                   std::vector<Standing>& standing)
{
    std::unordered_map<std::string, const FileRead*> reads_by_name;
    for (const FileRead& read : reads)
        reads_by_name[read.path] = &read;
    for (ListEntry& entry : now.entries)
        entry.found = false;
    standing.assign(now.entries.size(), Standing::verified);
    const DirectoryScan scan = scan_directory(now, [&](std::size_t, const std::string& name) {
        const Standing file = standing_of(name, reads_by_name);
        for (const std::size_t index : entries_named(now, name))
            standing[index] = std::max(standing[index], file);
    });
    return scan.complete;
}

// The read of the file that verified the entry at `index` (a good read of a file named as it
// is), for the stale ".bad" beside it; nothing when none.
const FileRead* verifying_read(std::size_t index, const std::vector<FileRead>& reads)
{
    for (const FileRead& read : reads)
        if (read.verdict == Verdict::good && read.entry == index && is_as_read(read))
            return &read;
    return nullptr;
}

// True when the entry counts toward the percentage: present and unmarked, or, for a name that
// can carry no marker, present and verified by this run.
bool counts(const ListEntry& entry, bool verified)
{
    if (!entry.found)
        return false;
    return can_carry_marker(entry.name) ? !has_marker(entry.name, MISSING_SUFFIX) : verified;
}

} // namespace

bool settle_whole_list(const ListTable& table, const std::vector<FileRead>& reads)
{
    wait_for_bad_reads(reads);
    const ReleaseLock lock = hold_books();
    rename_bad_reads(table, reads);
    ListTable now = table;
    std::vector<Standing> standing;
    if (!stand_entries(now, reads, standing))
        return false;
    int counted = 0;
    for (std::size_t i = 0; i < now.entries.size(); ++i) {
        const ListEntry& entry = now.entries[i];
        if (!entry.found || standing[i] == Standing::failed) {
            mark(entry.name);
        } else if (standing[i] == Standing::verified) {
            if (const FileRead* read = verifying_read(i, reads))
                unmark(entry.name, *read);
            else
                remove_marker(entry.name, MISSING_SUFFIX);
        }
        counted += counts(entry, standing[i] == Standing::verified) ? 1 : 0;
    }
    replace_completion_dir(completion_percent(counted, static_cast<long long>(now.entries.size())));
    return true;
}

void settle_count(const ListTable& table)
{
    int counted = 0;
    for (const ListEntry& entry : table.entries) {
        if (!entry.found)
            mark(entry.name);
        else if (can_carry_marker(entry.name) && !has_marker(entry.name, MISSING_SUFFIX))
            ++counted;
    }
    replace_completion_dir(
        completion_percent(counted, static_cast<long long>(table.entries.size())));
}

} // namespace zantra
