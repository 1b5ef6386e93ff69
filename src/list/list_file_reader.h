// Reading SFV lists (and banner files) from a stream: the pieces a line is read in, opening a
// list, and handing out its entry lines. What a line means is list_line_rules.h's.
#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zantra
{

enum class LongLines {
    split,             // banner files: pieces of BANNER_PIECE_MAX bytes, each a line of its own
    judge_first_piece, // lists: a line is read up to LIST_LINE_MAX bytes and the rest of it is
                       // skipped up to its line feed
};

// Reads a stream in pieces of at most BANNER_PIECE_MAX or LIST_LINE_MAX bytes (as `long_lines`
// says), each ending after a line feed when one comes in time.
struct LineReader {
    std::FILE* file = nullptr;
    LongLines long_lines = LongLines::split;
    bool skip_byte_order_mark = false; // drop a UTF-8 BOM at the very start
    bool started = false;
    bool line_ended = false;    // the last piece read ended its line with a line feed
    std::string pending;        // bytes read ahead at the start, handed out before the stream's
    std::size_t byte_limit = 0; // the most bytes read from the stream; 0 for no limit
    std::size_t bytes_read = 0;
    bool too_large = false; // the stream held more than byte_limit bytes: reading stopped there
};

// Reads the next piece into `piece`. Returns false at the end of input, on a read error, or past
// the byte limit; ferror(reader.file) and reader.too_large tell which.
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
    too_large,   // longer than LIST_SIZE_MAX bytes: read no further than that
};

// Hands every entry line of an open list, in order, to `on_entry` until it returns false.
// A UTF-8 byte-order mark at the start is skipped, a line longer than one read is judged by its
// first piece alone, and an unended last line is taken as `last` says. cannot_open when a read
// fails; too_large, after LIST_SIZE_MAX bytes, when the list holds more.
[[nodiscard]] ListRead read_entry_lines(std::FILE* list,
                                        const std::function<bool(std::string_view)>& on_entry,
                                        LastLine last = LastLine::entry);

// open_list and read_entry_lines in one.
[[nodiscard]] ListRead for_each_entry_line(const std::string& path,
                                           const std::function<bool(std::string_view)>& on_entry,
                                           LastLine last = LastLine::entry);

// Writes "Oh mama! I can't open <path> ... :-(\n" to standard error.
void print_cannot_open_list(const std::string& path);

// Writes the message for a list that could not be read whole: print_cannot_open_list's, or for
// too_large "Oh mama! <path> is larger than 64 MiB, I won't read it as a list ... :-(\n".
void print_list_not_read(const std::string& path, ListRead read);

} // namespace zantra
