#include "list/list_table.h"

#include "console/console.h"
#include "list/list_file_reader.h"
#include "list/list_line_rules.h"
#include "list/names.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <unordered_set>

namespace zantra
{
namespace
{

// A name as the file system would take it: up to a NUL byte, which ends it there.
std::string_view as_file_name(std::string_view name)
{
    return name.substr(0, std::min(name.size(), name.find('\0')));
}

// The text two names are compared by: letters folded, cut at a NUL byte.
std::string match_key(std::string_view name)
{
    std::string key(as_file_name(name));
    for (char& c : key)
        c = fold_ascii(c);
    return key;
}

// The name a count of missing files takes from an entry line: the last-blank split's name when
// the line ends in a whole CRC (as every SFV tool writes it, so that names with blanks read as
// the tests of files read them); otherwise the first word.
std::string name_to_count(std::string_view line)
{
    std::optional<SplitEntry> split =
        ends_in_whole_crc(line) ? split_entry_line(line) : std::nullopt;
    return split ? std::move(split->name) : first_word(line);
}

ListEntry split_by(SplitRule rule, std::string_view line)
{
    ListEntry entry;
    if (rule == SplitRule::first_word) {
        entry.name = name_to_count(line);
    } else if (auto split = split_entry_line(line)) {
        entry.name = std::move(split->name);
        entry.listed_crc = split->listed_crc;
    }
    return entry;
}

} // namespace

void add_list_entry(ListTable& table, ListEntry entry)
{
    if (!entry.name.empty()) {
        const std::string key = match_key(entry.name);
        table.index[key].push_back(table.entries.size());
        // A path written with \ is found on disk under its "/" form, which no name of the
        // directory itself can take.
        if (const auto path = path_of_listed_name(entry.name); path && *path != entry.name)
            table.index[match_key(*path)].push_back(table.entries.size());
    }
    table.entries.push_back(std::move(entry));
}

LoadResult load_list_table(const std::string& path, SplitRule rule, ListTable& table, LastLine last)
{
    bool full = false;
    const ListRead read = for_each_entry_line(
        path,
        [&](std::string_view line) {
            if (table.entries.size() == TABLE_CAPACITY) {
                full = true;
                return false;
            }
            add_list_entry(table, split_by(rule, line));
            return true;
        },
        last);
    if (full) {
        std::printf("zantra cannot handle more than %zu files\n", TABLE_CAPACITY);
        return LoadResult::table_full;
    }
    if (read != ListRead::complete) {
        print_list_not_read(path, read);
        return LoadResult::cannot_open;
    }
    return LoadResult::loaded;
}

std::span<const std::size_t> entries_named(const ListTable& table, std::string_view name)
{
    const std::string key = match_key(name);
    if (key.empty())
        return {};
    const auto found = table.index.find(key);
    if (found == table.index.end())
        return {};
    return found->second;
}

std::optional<std::size_t> find_listed(const ListTable& table, std::string_view name)
{
    const std::span<const std::size_t> named = entries_named(table, name);
    for (const std::size_t index : named)
        if (as_file_name(table.entries[index].name) == name)
            return index;
    if (named.empty())
        return std::nullopt;
    return named.front();
}

namespace
{

// A byte as -t compares names: "\\" as "/", and with `fold` ASCII letters in lower case.
char operand_byte(char c, bool fold)
{
    return c == '\\' ? '/' : fold ? fold_ascii(c) : c;
}

// True when `name` begins with `prefix`, compared byte by byte as operand_byte says.
bool begins_with(std::string_view name, std::string_view prefix, bool fold)
{
    if (name.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (operand_byte(name[i], fold) != operand_byte(prefix[i], fold))
            return false;
    return true;
}

} // namespace

NameMatch match_operand(std::string_view listed_name, std::string_view operand)
{
    if (!begins_with(listed_name, operand, true))
        return NameMatch::none;
    if (listed_name.size() != operand.size())
        return NameMatch::prefix;
    return begins_with(listed_name, operand, false) ? NameMatch::exact : NameMatch::folded;
}

void offer_to_operands(const SplitEntry& entry, std::span<const std::string> operands,
                       std::span<OperandEntry> chosen)
{
    for (std::size_t i = 0; i < operands.size() && i < chosen.size(); ++i) {
        const NameMatch how = match_operand(entry.name, operands[i]);
        if (how < chosen[i].how)
            chosen[i] = OperandEntry{entry, how};
    }
}

namespace
{

// True when some listed name is a path, which the walk must then keep the names for.
bool lists_paths(const ListTable& table)
{
    for (const ListEntry& entry : table.entries)
        if (entry.name.find_first_of("/\\") != std::string::npos)
            return true;
    return false;
}

// Looks up, in list order, each entry whose name is a path and that the walk did not find
// (`walked`), and treats a file found there as the walk treats one: every entry of that path is
// found, and the file is handed on once, with the entry find_listed gives it.
void find_path_entries(ListTable& table, const std::vector<bool>& walked,
                       const MatchAction& on_match)
{
    std::unordered_set<std::string> handed;
    for (std::size_t i = 0; i < table.entries.size(); ++i) {
        const std::optional<std::string> path =
            walked[i] ? std::nullopt : path_of_listed_name(table.entries[i].name);
        const std::optional<std::string> on_disk =
            path ? find_path(table.paths, *path) : std::nullopt;
        if (!on_disk || !handed.insert(*on_disk).second)
            continue;
        for (const std::size_t index : entries_named(table, *on_disk))
            table.entries[index].found = true;
        if (on_match)
            on_match(find_listed(table, *on_disk).value_or(i), *on_disk);
    }
}

} // namespace

DirectoryScan scan_directory(ListTable& table, const MatchAction& on_match)
{
    DirectoryScan scan;
    const bool paths = lists_paths(table);
    table.paths.top = DirectoryListing();
    DIR* directory = opendir(".");
    scan.complete = directory != nullptr;
    while (directory != nullptr) {
        errno = 0;
        const struct dirent* item = readdir(directory);
        if (item == nullptr) {
            scan.complete = errno == 0;
            break;
        }
        const std::string name = item->d_name;
        const EntryType type = entry_type(*item);
        if (paths)
            add_listed_name(table.paths.top, name, type);
        if (type != EntryType::regular && type != EntryType::unknown)
            continue;
        const std::optional<std::size_t> tested = find_listed(table, name);
        if (!tested)
            continue;
        // A list that names one file twice must not report it missing under either entry.
        for (const std::size_t index : entries_named(table, name))
            table.entries[index].found = true;
        if (on_match)
            on_match(*tested, name);
    }
    if (directory != nullptr)
        closedir(directory);
    if (!scan.complete) {
        print_message("Oh mama! I can't read the current directory ... :-(\n");
        return scan;
    }
    if (paths) {
        std::vector<bool> walked;
        walked.reserve(table.entries.size());
        for (const ListEntry& entry : table.entries)
            walked.push_back(entry.found);
        find_path_entries(table, walked, on_match);
    }
    return scan;
}

} // namespace zantra
