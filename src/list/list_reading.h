// Reading SFV lists (and banner files) back: line pieces, the line tests and the two ways of
// splitting an entry line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zantra
{

// True when the line begins with a blank, "#" or ";" (a tab is not a comment character).
[[nodiscard]] bool is_comment_line(std::string_view line);

// True when a line read from a list is an entry line: not a comment and at least nine bytes
// long, counting every byte read, CR and LF included.
[[nodiscard]] bool is_entry_line(std::string_view line);

// True when `line`, written into a list as it is, is read back as that one line: it fits one
// read and holds no line feed before its end.
[[nodiscard]] bool reads_back_whole(std::string_view line);

// True when `line`, written into a list, is read back whole and as an entry line.
[[nodiscard]] bool reads_back_as_entry(std::string_view line);

// Reads a hexadecimal number the way "%X" does: leading white space, an optional sign, an
// optional 0x or 0X, then hex digits in either case up to the first other byte. Keeps the
// low 32 bits of longer numbers; a minus sign negates modulo 2^32. Returns 0 when no digit follows.
[[nodiscard]] std::uint32_t read_hex_crc(std::string_view text);

struct SplitEntry {
    std::string name;
    std::uint32_t listed_crc = 0;
};

// Last-blank split: the name is everything before the last blank of the line (line end
// included in the search), the CRC is read from what follows it; but blanks and tabs between a
// CRC's last digit and the line end are no split points ("a.r00 CBF43926 " is a.r00). Nothing
// when the line holds no blank.
[[nodiscard]] std::optional<SplitEntry> split_entry_line(std::string_view line);

// First-word split: the first run of non-white-space bytes after any leading white space.
[[nodiscard]] std::string first_word(std::string_view line);

enum class LongLines {
    split,             // banner files: every piece of a long line is a line of its own
    judge_first_piece, // lists: the rest of a long line is skipped up to its line feed
};

// Reads a stream in pieces of at most LINE_PIECE_MAX bytes, each ending after a line feed
// when one comes in time.
struct LineReader {
    std::FILE* file = nullptr;
    LongLines long_lines = LongLines::split;
    bool skip_byte_order_mark = false; // drop a UTF-8 BOM at the very start
    bool started = false;
    bool line_ended = false; // the last piece read ended its line with a line feed
    std::string pending;     // bytes read ahead at the start, handed out before the stream's
};

// Reads the next piece into `piece`. Returns false at the end of input or on a read error;
// ferror(reader.file) tells which.
[[nodiscard]] bool read_piece(LineReader& reader, std::string& piece);

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Opens a file for reading as text. Empty when it cannot be opened or is a directory (fopen
// accepts one on some systems and only the first read fails). The open does not wait for a
// FIFO's writer, so a FIFO no one writes reads as empty instead of stopping the run; reads then
// wait as usual, so a pipe with a writer is read to its end.
[[nodiscard]] FileHandle open_text_file(const std::string& path);

// Opens the list at `path` for reading. Empty when the path is longer than LIST_NAME_MAX,
// the file cannot be opened, or it is a directory.
[[nodiscard]] FileHandle open_list(const std::string& path);

// How the last line of a list is taken when no line feed ends it.
enum class LastLine {
    entry,          // like any other line: a list may simply lack its final line end
    needs_full_crc, // as an entry only when it ends in a whole CRC of eight hex digits, since
                    // the list may still be arriving and be cut inside a name or a CRC
};

enum class ListRead {
    complete,    // read to its end, or until the caller stopped
    cannot_open, // path too long, not openable, a directory, or a read failed
};

// Hands every entry line of an open list, in order, to `on_entry` until it returns false.
// A UTF-8 byte-order mark at the start is skipped, a line longer than one read is judged by its
// first piece alone, and an unended last line is taken as `last` says. cannot_open when a read
// fails.
[[nodiscard]] ListRead read_entry_lines(std::FILE* list,
                                        const std::function<bool(std::string_view)>& on_entry,
                                        LastLine last = LastLine::entry);

// open_list and read_entry_lines in one.
[[nodiscard]] ListRead for_each_entry_line(const std::string& path,
                                           const std::function<bool(std::string_view)>& on_entry,
                                           LastLine last = LastLine::entry);

// True when the line ends in a whole CRC: eight hexadecimal digits (after an optional 0x) after
// its split point, then nothing but blanks, tabs and the line end.
[[nodiscard]] bool ends_in_whole_crc(std::string_view line);

// Writes "Oh mama! I can't open <path> ... :-(\n" to standard error.
void print_cannot_open_list(const std::string& path);

} // namespace zantra
