// The rules a line of an SFV list is judged and taken apart by: comments, entry lines, the two
// splits and the CRC field. Pure functions of the line's bytes; no file is read here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zantra
{

// True when the line begins with a blank, "#" or ";" (a tab is not a comment character).
[[nodiscard]] bool is_comment_line(std::string_view line);

// True when a line read from a list is an entry line: not a comment, at least nine bytes long
// counting every byte read (CR and LF included), more than blanks, tabs and its line end, and
// not a line whose split leaves an empty name.
[[nodiscard]] bool is_entry_line(std::string_view line);

// True when `line`, written into a list as it is, is read back as that one line: it fits one
// read and holds no line feed before its end.
[[nodiscard]] bool reads_back_whole(std::string_view line);

// True when `line`, written into a list as the entry of `name`, is read back whole, as an entry
// line, and with that name (a name that ends in a blank or a tab is not: that is padding).
[[nodiscard]] bool reads_back_as_entry(std::string_view line, std::string_view name);

// Reads a hexadecimal number the way "%X" does: leading white space, an optional sign, an
// optional 0x or 0X, then hex digits in either case up to the first other byte. Keeps the
// low 32 bits of longer numbers; a minus sign negates modulo 2^32. Returns 0 when no digit follows.
[[nodiscard]] std::uint32_t read_hex_crc(std::string_view text);

struct SplitEntry {
    std::string name;
    std::uint32_t listed_crc = 0;
};

// Last-blank split: a line that ends in a whole CRC (eight hex digits, one optional 0x), blanks
// and tabs after it aside, splits at the blank or tab before it; any other at its last blank
// (line end included in the search), but blanks and tabs between a CRC's last digit and the
// line end are no split points ("a.r00 CBF43926 " is a.r00). The CRC is read from what follows
// the split point; the name is what comes before the whole run of blanks and tabs there, so it
// never ends in one. Nothing when the line has no split point.
[[nodiscard]] std::optional<SplitEntry> split_entry_line(std::string_view line);

// First-word split: the first run of non-white-space bytes after any leading white space.
[[nodiscard]] std::string first_word(std::string_view line);

// True when the line ends in a whole CRC: eight hexadecimal digits (after an optional 0x) after
// its split point, then nothing but blanks, tabs and the line end.
[[nodiscard]] bool ends_in_whole_crc(std::string_view line);

} // namespace zantra
