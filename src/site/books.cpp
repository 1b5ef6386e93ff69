#include "site/books.h"

#include "console/console.h"
#include "list/names.h"
#include "platform/platform.h"
#include "site/markers.h"

#include <algorithm>
#include <ctime>
#include <dirent.h>
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

ReleaseLock hold_books()
{
    ReleaseLock lock = lock_release();
    remove_abandoned_private_files();
    return lock;
}

namespace
{

// True when `name` is the list itself: its name, letters folded, when the list is in the
// current directory, or the same file (known from its reading when the list was watched, so
// that the list is not looked at again for every entry).
bool names_the_list(const Ledger& ledger, std::string_view name)
{
    std::string_view base = ledger.list_path;
    while (base.substr(0, 2) == "./")
        base.remove_prefix(2);
    if (base.find('/') == std::string_view::npos && equal_folded(base, name))
        return true;
    struct stat list {
    };
    if (ledger.list_watched) {
        list.st_dev = ledger.list_read.device;
        list.st_ino = ledger.list_read.inode;
    } else if (stat(ledger.list_path.c_str(), &list) != 0) {
        return false;
    }
    struct stat entry {
    };
    return lstat(std::string(name).c_str(), &entry) == 0 && list.st_dev == entry.st_dev &&
           list.st_ino == entry.st_ino;
}

} // namespace

bool may_keep_books_of(const Ledger& ledger, std::string_view listed_name)
{
    if (names_the_list(ledger, listed_name))
        return false;
    if (ledger.names == nullptr)
        return true;
    for (const std::string_view suffix : {MISSING_SUFFIX, BAD_SUFFIX}) {
        const auto path = marker_path(listed_name, suffix);
        if (path && !entries_named(*ledger.names, *path).empty())
            return false;
    }
    return true;
}

namespace
{

// What stands at the list's path now; nothing when nothing does.
std::optional<struct stat> stat_list(const Ledger& ledger)
{
    struct stat info {
    };
    if (stat(ledger.list_path.c_str(), &info) != 0)
        return std::nullopt;
    return info;
}

FileIdentity identity_of(const struct stat& info)
{
    return FileIdentity{info.st_dev, info.st_ino, info.st_size, modification_time(info)};
}

} // namespace

void note_list_unread(Ledger& ledger)
{
    const std::optional<struct stat> info = stat_list(ledger);
    ledger.list_watched = info && S_ISREG(info->st_mode);
    ledger.list_changed = false;
    if (ledger.list_watched)
        ledger.list_read = identity_of(*info);
}

void note_list_read(Ledger& ledger)
{
    if (!ledger.list_watched)
        return;
    const std::optional<struct stat> info = stat_list(ledger);
    if (!info || !is_same_unchanged(*info, ledger.list_read))
        ledger.list_changed = true;
    if (info)
        ledger.list_read = identity_of(*info);
}

bool is_list_whole(Ledger& ledger)
{
    if (!ledger.list_watched)
        return true;
    if (ledger.list_changed)
        return false;
    wait_while_arriving(ledger.list_read);
    const std::optional<struct stat> info = stat_list(ledger);
    ledger.list_changed = !info || !is_same_unchanged(*info, ledger.list_read);
    return !ledger.list_changed;
}

namespace
{

void mark(Ledger& ledger, std::string_view listed_name)
{
    ledger.kept = touch_marker(listed_name, MISSING_SUFFIX) && ledger.kept;
}

// A listed entry's books once this run has read its file good: the marker goes, and so does a
// stale ".bad" beside it.
void unmark(Ledger& ledger, std::string_view listed_name, const FileRead& read)
{
    ledger.kept = remove_marker(listed_name, MISSING_SUFFIX) && ledger.kept;
    ledger.kept = remove_stale_bad_marker(listed_name, read.file) && ledger.kept;
}

// Renames the file read to the ".bad" name of `listed_name` when it is still the file that was
// read, unchanged: never a good upload that has replaced it, nor one still being written.
void rename_to_bad(Ledger& ledger, std::string_view listed_name, const FileRead& read)
{
    if (is_as_read(read))
        ledger.kept = mark_bad(read.path, listed_name, read.file) && ledger.kept;
}

// True when a file of the directory other than the one read would be matched to the entry
// `listed_name` as well (a case twin: a name equal to it with letters folded, that is no listed
// name of its own unless it is the entry's), so that no one read settles it.
bool has_twin(const Ledger& ledger, std::string_view listed_name, const FileRead& read)
{
    if (ledger.names == nullptr)
        return false;
    DIR* directory = opendir(".");
    if (directory == nullptr)
        return false;
    bool twin = false;
    while (const struct dirent* item = readdir(directory)) {
        const std::string_view name = item->d_name;
        struct stat info {
        };
        if (!equal_folded(name, listed_name) || name == read.path ||
            lstat(item->d_name, &info) != 0 || !S_ISREG(info.st_mode) ||
            (info.st_dev == read.file.device && info.st_ino == read.file.inode))
            continue;
        const std::optional<std::size_t> own = find_listed(*ledger.names, name);
        if (!own || ledger.names->entries[*own].name == listed_name) {
            twin = true;
            break;
        }
    }
    closedir(directory);
    return twin;
}

} // namespace

void settle_tested_file(Ledger& ledger, std::string_view listed_name, const FileRead& read)
{
    // The wait for a list still arriving comes before the lock; the last look, under it.
    if (!is_list_whole(ledger))
        return;
    const ReleaseLock lock = hold_books();
    // A late verdict about an older file changes nothing: the newer file's own run decides.
    if (!is_list_whole(ledger) || !is_as_read(read) || !may_keep_books_of(ledger, listed_name))
        return;
    // An entry that case twins both match is settled by -T, which reads them all: here it keeps
    // its marker, and a bad twin is not renamed.
    const bool twin = has_twin(ledger, listed_name, read);
    if (read.verdict == Verdict::good) {
        if (!twin)
            unmark(ledger, listed_name, read);
        return;
    }
    if (read.verdict == Verdict::bad && !twin)
        rename_to_bad(ledger, listed_name, read);
    mark(ledger, listed_name);
}

void mark_every_entry(Ledger& ledger, const ListTable& table)
{
    if (!is_list_whole(ledger))
        return;
    for (const ListEntry& entry : table.entries)
        if (may_keep_books_of(ledger, entry.name))
            mark(ledger, entry.name);
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

// True when another entry that names the file byte for byte lists the CRC it was read with.
bool is_good_for_an_equal_entry(const ListTable& table, const std::string& name, std::uint32_t crc)
{
    for (const std::size_t index : entries_named(table, name))
        if (table.entries[index].name == name && table.entries[index].listed_crc == crc)
            return true;
    return false;
}

// Renames each file found bad, and surely complete, to the ".bad" name of its listed name:
// unchanged since its read and last modified ARRIVING_MS ago or more (mark_bad adds: no writer
// holds it open). Any other is only marked, and its own upload's hook renames it. An entry that
// several files on disk matched (names that differ in letter case only) has no one file to
// rename, and a file good for another entry of its name is no bad upload: both are only marked.
void rename_bad_reads(Ledger& ledger, const ListTable& table, const std::vector<FileRead>& reads)
{
    std::vector<int> files_of(table.entries.size(), 0);
    for (const FileRead& read : reads)
        ++files_of[read.entry];
    for (const FileRead& read : reads) {
        const std::string& name = table.entries[read.entry].name;
        if (read.verdict == Verdict::bad && files_of[read.entry] == 1 &&
            !is_good_for_an_equal_entry(table, name, read.crc) &&
            age_ms(read.file).value_or(0) >= ARRIVING_MS && may_keep_books_of(ledger, name))
            rename_to_bad(ledger, name, read);
    }
}

// How a listed entry stands after this run's reading, from the worst of its files on disk now.
enum class Standing {
    verified,  // read good by this run, and unchanged since
    unsettled, // not read by this run, or changed since its read
    failed,    // read bad or unreadable by this run, and unchanged since
};

// How the file `read` (none: not read by this run) stands for `entry`, judged by its own CRC.
Standing standing_for(const ListEntry& entry, const FileRead* read)
{
    if (read == nullptr || !is_as_read(*read))
        return Standing::unsettled;
    const bool good = read->verdict != Verdict::unreadable && read->crc == entry.listed_crc;
    return good ? Standing::verified : Standing::failed;
}

// The entries a file on disk of this name stands for: those equal to it byte for byte, or when
// there are none, every entry equal to it with letters folded.
std::vector<std::size_t> entries_of_file(const ListTable& table, const std::string& name)
{
    std::vector<std::size_t> exact;
    const std::span<const std::size_t> named = entries_named(table, name);
    for (const std::size_t index : named)
        if (table.entries[index].name == name)
            exact.push_back(index);
    return exact.empty() ? std::vector<std::size_t>(named.begin(), named.end()) : exact;
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
    std::vector<bool> found(now.entries.size(), false);
    standing.assign(now.entries.size(), Standing::verified);
    const DirectoryScan scan = scan_directory(now, [&](std::size_t, const std::string& name) {
        const auto read = reads_by_name.find(name);
        for (const std::size_t index : entries_of_file(now, name)) {
            found[index] = true;
            const Standing file = standing_for(
                now.entries[index], read == reads_by_name.end() ? nullptr : read->second);
            standing[index] = std::max(standing[index], file);
        }
    });
    // Entries that name one file byte for byte share its marker: each stands as the worst of them.
    std::unordered_map<std::string, Standing> worst;
    for (std::size_t i = 0; i < now.entries.size(); ++i) {
        Standing& of_name = worst.try_emplace(now.entries[i].name, standing[i]).first->second;
        of_name = std::max(of_name, standing[i]);
    }
    for (std::size_t i = 0; i < now.entries.size(); ++i) {
        now.entries[i].found = found[i];
        standing[i] = worst[now.entries[i].name];
    }
    return scan.complete;
}

// The read of the file that verified the entry at `index`, for the stale ".bad" beside it;
// nothing when none.
const FileRead* verifying_read(std::size_t index, const std::vector<FileRead>& reads)
{
    for (const FileRead& read : reads)
        if (read.verdict == Verdict::good && read.entry == index && is_as_read(read))
            return &read;
    return nullptr;
}

// True when the entry counts toward the percentage: present, not found failed by this run, and
// unmarked; for a name that can carry no marker, or whose books may not be kept, verified.
bool counts(const Ledger& ledger, const ListEntry& entry, Standing standing)
{
    if (!entry.found || standing == Standing::failed)
        return false;
    if (!can_carry_marker(entry.name) || !may_keep_books_of(ledger, entry.name))
        return standing == Standing::verified;
    return !has_marker(entry.name, MISSING_SUFFIX);
}

// Settles one entry from its standing after the fresh walk.
void settle_entry(Ledger& ledger, const ListEntry& entry, Standing standing,
                  const FileRead* verifying)
{
    if (!may_keep_books_of(ledger, entry.name))
        return;
    if (!entry.found || standing == Standing::failed) {
        mark(ledger, entry.name);
    } else if (standing == Standing::verified) {
        if (verifying != nullptr)
            unmark(ledger, entry.name, *verifying);
        else
            ledger.kept = remove_marker(entry.name, MISSING_SUFFIX) && ledger.kept;
    }
}

// Replaces the completion directory for `counted` of `table`'s entries.
void show_completion(Ledger& ledger, const ListTable& table, int counted)
{
    const auto listed = static_cast<long long>(table.entries.size());
    ledger.kept = replace_completion_dir(completion_percent(counted, listed)) && ledger.kept;
}

} // namespace

bool settle_whole_list(Ledger& ledger, const ListTable& table, const std::vector<FileRead>& reads)
{
    if (!is_list_whole(ledger))
        return true;
    wait_for_bad_reads(reads);
    const ReleaseLock lock = hold_books();
    if (!is_list_whole(ledger))
        return true;
    rename_bad_reads(ledger, table, reads);
    ListTable now = table;
    std::vector<Standing> standing;
    if (!stand_entries(now, reads, standing))
        return false;
    int counted = 0;
    for (std::size_t i = 0; i < now.entries.size(); ++i) {
        settle_entry(ledger, now.entries[i], standing[i], verifying_read(i, reads));
        counted += counts(ledger, now.entries[i], standing[i]) ? 1 : 0;
    }
    show_completion(ledger, now, counted);
    return true;
}

void settle_count(Ledger& ledger, const ListTable& table)
{
    if (!is_list_whole(ledger))
        return;
    // Books never started (no completion directory yet: a list that arrived by a rename, which
    // runs no hook) have no marker to say that a present file is untested: every entry gets one.
    if (!has_completion_dir())
        mark_every_entry(ledger, table);
    int counted = 0;
    for (const ListEntry& entry : table.entries) {
        if (!may_keep_books_of(ledger, entry.name))
            continue; // nothing was read: it cannot count
        if (!entry.found)
            mark(ledger, entry.name);
        else if (can_carry_marker(entry.name) && !has_marker(entry.name, MISSING_SUFFIX))
            ++counted;
    }
    show_completion(ledger, table, counted);
}

int close_books(const Ledger& ledger, int status)
{
    if (ledger.kept)
        return status;
    print_message("Oh mama! I can't keep the glftpd books here (check permissions!) ... :-(\n");
    return status == 0 ? 1 : status;
}

} // namespace zantra
