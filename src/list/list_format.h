// The lines of an SFV list as zantra writes them. Every line ends in CR LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace zantra
{

// The program's banner: first line of every run and part of every list's generated-by line.
inline constexpr char BANNER_TEXT[] = "ZANTRA for UNiX, $Revision: 1.18 $";

// A list line is read whole up to this many bytes, its line end included; a longer one is
// judged by its first LIST_LINE_MAX bytes and the rest of it is skipped.
inline constexpr std::size_t LIST_LINE_MAX = 4096;

// The most bytes a list is read to: past this it is refused, so that an endless stream (a
// device, a pipe that never ends) cannot hold a run, and the release's lock, forever.
inline constexpr std::size_t LIST_SIZE_MAX = std::size_t{64} << 20;

// A banner file is read in pieces of at most this many bytes, the line feed included when it
// fits, and each piece becomes a comment line of its own.
inline constexpr std::size_t BANNER_PIECE_MAX = 249;

// Longest list path accepted; a longer one is refused rather than cut, since a cut path
// could name an unrelated file.
inline constexpr std::size_t LIST_NAME_MAX = 250;

// The generated-by line and the lone ";" line below it.
[[nodiscard]] std::string format_generated_by(bool win_sfv_mode, std::time_t now);

// One comment line for a piece of the banner file; a line feed that ends the piece is dropped.
[[nodiscard]] std::string format_banner_line(std::string_view piece);

// The date-block line of one file operand: size, local modification time, operand as typed.
[[nodiscard]] std::string format_date_line(std::int64_t size, std::time_t mtime,
                                           std::string_view operand);

// The line that closes the date block.
inline constexpr std::string_view DATE_BLOCK_END = ";\r\n";

// The entry line of one listed file: operand as typed, a blank, eight upper-case hex digits.
[[nodiscard]] std::string format_entry_line(std::string_view name, std::uint32_t crc);

// True when a written line could be read back whole, i.e. is at most LIST_LINE_MAX bytes long.
[[nodiscard]] inline bool fits_one_read(std::string_view line)
{
    return line.size() <= LIST_LINE_MAX;
}

} // namespace zantra
