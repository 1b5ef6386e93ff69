// The glftpd books of a release: what a run of glftpd mode keeps on disk from what it read.
//
// The rule, which every operation keeps through the functions here and nowhere else: a
// ".missing" marker stands beside every listed name that is not present and verified good. Only
// a run that read the file good, and finds it still the file it read (same device, inode, size
// and modification time) under the release's lock, removes it; a file read bad and unchanged is
// renamed to its ".bad" name and marked; a file that changed since it was read keeps what it
// has, for the run that reads the newer file. The completion directory shows the share of listed
// entries that are present and unmarked.
#pragma once

#include "checksum/file_checksum.h"
#include "list/list_table.h"
#include "site/release_lock.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <time.h>
#include <vector>

namespace zantra
{

// What one read of a file found.
enum class Verdict {
    unreadable, // it could not be opened or read to its end
    bad,        // its CRC is not the listed one
    good,       // its CRC is the listed one
};

// What a run read: the file's name on disk as it was opened, which file that was and what it
// held then, the verdict, and (for a whole-list test) the list entry it was tested against.
struct FileRead {
    std::string path;
    FileIdentity file; // inode 0 when nothing could be opened
    Verdict verdict = Verdict::unreadable;
    std::size_t entry = 0;
    std::uint32_t crc = 0; // what was read, when it was readable
};

// True when the file at read.path is the file that was read, unchanged since; for a read that
// opened nothing, when anything at all stands at the path. Never follows a symbolic link: a
// link put in the file's place is not the file.
[[nodiscard]] bool is_as_read(const FileRead& read);

// True when the file at read.path is still the file that was read (same device and inode) but
// its size or modification time has changed since. Never follows a symbolic link.
[[nodiscard]] bool is_changed_in_place(const FileRead& read);

// now - then in milliseconds, for any two times time_t can hold: a difference beyond about 30
// years in either direction is given as 10^12 ms, with its sign.
[[nodiscard]] long long milliseconds_since(const struct timespec& then, const struct timespec& now);

// Takes the release's lock for a run's bookkeeping. Where it cannot be had (a file system that
// cannot lock, or a holder past LOCK_WAIT_MS) the books are kept without it: every step here
// acts only on a file that it finds to be the one read, so runs that meet can leave a marker
// too many for the next run to settle, never an upload lost or a marker too few. Under it, the
// empty files that killed runs left under private names are removed.
[[nodiscard]] ReleaseLock hold_books();

// What the books of one run are kept against: every name the list gives (a marker or ".bad"
// path that is another listed name is never made, removed or renamed to) and the list itself,
// which is never renamed; whether every change to the books could be made; and the list as this
// run read it, for books kept only from a list that is whole.
struct Ledger {
    const ListTable* names = nullptr;
    std::string list_path;
    bool kept = true;
    bool list_watched = false; // the list was a regular file as its reading began
    bool list_changed = false; // it has changed since then, or is gone
    FileIdentity list_read{};  // what it was as its reading ended
};

// Notes the list as the run begins to read it. A list that is no regular file (a pipe) is not
// watched: its books are kept from what was read.
void note_list_unread(Ledger& ledger);

// Notes the list as its reading has ended; a list not as it was at the start has changed.
void note_list_read(Ledger& ledger);

// True when books may be kept from the list read: it is not watched, or, after a wait while it
// may still be arriving (modified within ARRIVING_MS), it is still the file read, unchanged.
// Every function here that keeps books asks first, and keeps none when the answer is false.
[[nodiscard]] bool is_list_whole(Ledger& ledger);

// True when glftpd mode may mark, unmark or rename the entry `listed_name`: its ".missing" and
// ".bad" paths are no listed name (letters folded) and it does not name the list. Any other
// entry counts only when read good and unchanged.
[[nodiscard]] bool may_keep_books_of(const Ledger& ledger, std::string_view listed_name);

// -t: keeps the books of the listed name an operand matched, from the read that decided, under
// the release's lock, which it takes. A file changed since that read is left as it is, for the
// run that reads the newer file. Good: unmarked, with any stale ".bad" beside it removed. Bad:
// renamed to its ".bad" name and marked. Unreadable: marked. An entry that another file of the
// directory matches too (a case twin) is never unmarked or renamed here: -T settles it.
void settle_tested_file(Ledger& ledger, std::string_view listed_name, const FileRead& read);

// -T, before it reads: marks every listed entry, under a lock the caller holds since its walk.
void mark_every_entry(Ledger& ledger, const ListTable& table);

// -T, after it read: under the release's lock, which it takes, renames each file read bad and
// surely complete (unchanged since its read, quiet for ARRIVING_MS and, where the platform can
// tell, open for writing by no one; unless several files matched its entry), then walks the
// directory afresh and settles every entry from this run's reads. An entry counts as verified only
// by a good read, unchanged since, of a file matched to it (a file whose name equals another entry
// byte for byte never verifies it): verified, unmarked with any stale ".bad" removed; absent, or
// read bad or unreadable and unchanged, marked; anything else as it is. Then replaces the
// completion directory, counting only entries present, unmarked and not found failed. False when
// the directory cannot be read to its end, and nothing after the renames is done.
[[nodiscard]] bool settle_whole_list(Ledger& ledger, const ListTable& table,
                                     const std::vector<FileRead>& reads);

// -m, under a lock the caller holds for the whole run: marks every entry the walk did not find
// (every entry, when the release has no completion directory yet: its books were never started)
// and replaces the completion directory, counting a found entry only when it carries no marker
// (a name that can carry none never counts: nothing was read).
void settle_count(Ledger& ledger, const ListTable& table);

// Ends a run's books: when any change could not be made, writes "Oh mama! I can't keep the
// glftpd books here (check permissions!) ... :-(\n" to standard error, once, and returns 1 for a
// status of 0; otherwise returns `status`.
[[nodiscard]] int close_books(const Ledger& ledger, int status);

} // namespace zantra
