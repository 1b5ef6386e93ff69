// The table of listed files that a whole-list check matches against the current directory.
#pragma once

#include "list/list_file_reader.h"
#include "list/list_line_rules.h"
#include "list/list_paths.h"
#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zantra
{

// The most entry lines a list may hold.
inline constexpr std::size_t TABLE_CAPACITY = 1024;

struct ListEntry {
    std::string name; // empty for an entry line the split could not take apart
    std::uint32_t listed_crc = 0;
    bool found = false; // a matching file was seen in the directory
};

struct ListTable {
    std::vector<ListEntry> entries; // in list order, at most TABLE_CAPACITY
    // Each entry's name as matched (letters folded, cut at a NUL byte) to every index holding
    // it, in list order.
    // A name that is a path with \ between its components is indexed under its "/" form too.
    std::unordered_map<std::string, std::vector<std::size_t>> index;
    PathLookup paths; // the directories the lookup of listed paths has read in this run
};

enum class SplitRule {
    last_blank, // name and CRC (test whole list)
    first_word, // name only (count missing files): the last-blank split's name, less trailing
                // blanks, for a line that ends in a whole CRC; the first word for any other
};

enum class LoadResult {
    loaded,
    cannot_open, // the list could not be read whole: print_list_not_read's message is printed
    table_full,  // the table-full message has been printed on standard output
};

// Fills `table` from the entry lines of the list at `path`, split by `rule`, its unended last
// line taken as `last` says. On the 1025th entry line it prints "zantra cannot handle more than
// 1024 files" and stops; a list that cannot be opened or read, or is too large, gets its
// message too.
[[nodiscard]] LoadResult load_list_table(const std::string& path, SplitRule rule, ListTable& table,
                                         LastLine last = LastLine::entry);

// Appends one entry and indexes its name (a path written with \ under its "/" form as well).
void add_list_entry(ListTable& table, ListEntry entry);

// The indexes of every entry whose name matches `name` whole with ASCII letters folded, in
// list order; none for an empty name. These are the entries a file of that name makes found.
[[nodiscard]] std::span<const std::size_t> entries_named(const ListTable& table,
                                                         std::string_view name);

// The entry a file on disk of this name is tested against (-T) or counted for (-m): the first
// in list order whose name equals it byte for byte, else the first equal with ASCII letters
// folded, else nothing.
[[nodiscard]] std::optional<std::size_t> find_listed(const ListTable& table, std::string_view name);

// How a listed name stands to a -t operand, best first. In each, "/" in one stands for "\" in
// the other, as lists written on other systems separate directories.
enum class NameMatch {
    exact,  // equal byte for byte
    folded, // equal with ASCII letters folded
    prefix, // begins with the operand, letters folded: the verdict counts, the bookkeeping not
    none,
};

// How `listed_name` matches `operand` under -t's rule.
[[nodiscard]] NameMatch match_operand(std::string_view listed_name, std::string_view operand);

// The entry a -t operand is tested against, and how its name matched.
struct OperandEntry {
    SplitEntry entry;
    NameMatch how = NameMatch::none;
};

// Offers the next entry of the list to every operand, `chosen` holding one slot per operand.
// Fed the whole list in order, each operand ends with the first entry whose name equals it
// byte for byte; else the first equal with letters folded; else the first that begins with it.
void offer_to_operands(const SplitEntry& entry, std::span<const std::string> operands,
                       std::span<OperandEntry> chosen);

using MatchAction = std::function<void(std::size_t index, const std::string& name_on_disk)>;

// What a walk of the current directory saw.
struct DirectoryScan {
    bool complete = true; // false when the directory could not be opened or read to its end
};

// Walks the current directory in the order the system delivers it. Every regular file (or
// entry of unreported type) whose name is listed marks every entry of that name found and is
// handed to `on_match` (which may be empty) with the entry find_listed gives it. Then, in list
// order, each entry whose name is a path (list_paths.h) and that no file of the directory took
// whole is looked up, and each file found is treated alike under its path on disk, once. A
// directory that cannot be opened, or whose reading fails part-way, writes "Oh mama! I can't read
// the current directory ... :-(\n" to standard error and is not complete, since any entry may be
// present.
[[nodiscard]] DirectoryScan scan_directory(ListTable& table, const MatchAction& on_match);

} // namespace zantra
