// The list reader against a model of its rules, and lists written by the creator's line
// formatters read back. Properties:
//  - every entry line handed out is the first piece (at most 4096 bytes) of one physical line
//    after a UTF-8 byte-order mark, is not a comment, is at least 9 bytes long and holds more
//    than blanks, tabs and its line end, leaves a name when split, in order;
//  - the banner reader's pieces are at most 249 bytes each and put together give the input;
//  - both splits stay inside the line they are given, and no name ends in its padding;
//  - a list made of a generated-by line, banner lines, date lines and entry lines for every
//    name the creator accepts gives back exactly those names and values, in order.

#include "fuzz_check.h"
#include "list/list_file_reader.h"
#include "list/list_format.h"
#include "list/list_line_rules.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zantra
{
namespace
{

// A read-only stream over `text`; /dev/null stands in for empty text, which fmemopen refuses.
FileHandle stream_of(const std::string& text)
{
    if (text.empty())
        return FileHandle(std::fopen("/dev/null", "r"));
    return FileHandle(fmemopen(const_cast<char*>(text.data()), text.size(), "r"));
}

std::vector<std::string> entry_lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    const FileHandle stream = stream_of(text);
    FUZZ_CHECK(stream != nullptr);
    const ListRead read = read_entry_lines(stream.get(), [&](std::string_view line) {
        lines.emplace_back(line);
        return true;
    });
    FUZZ_CHECK(read == ListRead::complete);
    return lines;
}

// The reading rules written out plainly: skip a byte-order mark, cut the text after every line
// feed, judge each line by its first 4096 bytes.
std::vector<std::string> model_entry_lines(std::string_view text)
{
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    std::vector<std::string> lines;
    while (!text.empty()) {
        const std::size_t feed = text.find('\n');
        const std::size_t length = feed == std::string_view::npos ? text.size() : feed + 1;
        const std::string_view piece = text.substr(0, std::min<std::size_t>(length, 4096));
        const char first = piece[0];
        const auto split = split_entry_line(piece);
        if (first != ' ' && first != '#' && first != ';' && piece.size() >= 9 &&
            piece.find_first_not_of(" \t\r\n") != std::string_view::npos &&
            !(split && split->name.empty()))
            lines.emplace_back(piece);
        text.remove_prefix(length);
    }
    return lines;
}

void check_entry_lines(const std::string& text)
{
    const std::vector<std::string> lines = entry_lines_of(text);
    for (const std::string& line : lines) {
        FUZZ_CHECK(line.size() <= LIST_LINE_MAX);
        FUZZ_CHECK(line.size() >= 9);
        FUZZ_CHECK(!is_comment_line(line));
        FUZZ_CHECK(is_entry_line(line));
    }
    FUZZ_CHECK(lines == model_entry_lines(text));
}

void check_banner_pieces(const std::string& text)
{
    const FileHandle stream = stream_of(text);
    FUZZ_CHECK(stream != nullptr);
    LineReader reader;
    reader.file = stream.get();
    std::string piece, joined;
    while (read_piece(reader, piece)) {
        FUZZ_CHECK(!piece.empty() && piece.size() <= BANNER_PIECE_MAX);
        FUZZ_CHECK(piece.find('\n') == std::string::npos || piece.find('\n') == piece.size() - 1);
        joined += piece;
    }
    FUZZ_CHECK(joined == text);
}

// The last blank, or the one before a CRC that only blanks, tabs and the line end follow.
void check_blank_split(const std::string& line, std::size_t at)
{
    FUZZ_CHECK(line[at] == ' ');
    const std::size_t after = line.find(' ', at + 1);
    const std::size_t digits = line.find_first_not_of("0123456789abcdefABCDEFxX", at + 1);
    FUZZ_CHECK(after == std::string::npos ||
               (digits > at + 1 && digits <= after &&
                line.find_first_not_of(" \t\r\n", digits) == std::string::npos));
}

void check_splits(const std::string& text)
{
    for (const std::string& line : model_entry_lines(text)) {
        if (const auto split = split_entry_line(line)) {
            const std::size_t name_end = split->name.size();
            FUZZ_CHECK(name_end > 0 && name_end < line.size());
            FUZZ_CHECK(line.compare(0, name_end, split->name) == 0);
            FUZZ_CHECK(split->name.back() != ' ' && split->name.back() != '\t');
            // Blanks and tabs pad the name; before anything but a whole CRC the split is the
            // run's last blank, and tabs after it are the CRC field's leading white space.
            std::size_t padded = line.find_first_not_of(" \t", name_end);
            padded = padded == std::string::npos ? line.size() : padded;
            FUZZ_CHECK(padded > name_end);
            if (!ends_in_whole_crc(line)) {
                const std::size_t blank = line.rfind(' ', padded - 1);
                FUZZ_CHECK(blank != std::string::npos && blank >= name_end);
                check_blank_split(line, blank);
            }
        } else {
            FUZZ_CHECK(line.find(' ') == std::string::npos && !ends_in_whole_crc(line));
        }
        const std::string word = first_word(line);
        FUZZ_CHECK(word.size() <= line.size());
        FUZZ_CHECK(line.find(word) != std::string::npos);
        (void)read_hex_crc(line);
    }
}

// Some value for the entry line of `name` (FNV-1a): the reader must give back whatever it is.
std::uint32_t crc32_of_name(const std::string& name)
{
    std::uint32_t hash = 2166136261u;
    for (const char c : name)
        hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    return hash;
}

// Names as a command line could give them (no NUL), separated by 0x01 bytes in the input so
// that names can hold line feeds.
std::vector<std::string> names_in(const std::string& text)
{
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\x01', start);
        if (end == std::string::npos)
            end = text.size();
        std::string name = text.substr(start, end - start);
        if (!name.empty() && name.find('\0') == std::string::npos)
            names.push_back(std::move(name));
        start = end + 1;
    }
    return names;
}

void check_round_trip(const std::string& text)
{
    std::string list =
        format_generated_by(text.size() % 2 == 1, static_cast<std::time_t>(text.size()));
    {
        const FileHandle stream = stream_of(text);
        LineReader reader;
        reader.file = stream.get();
        std::string piece;
        while (read_piece(reader, piece))
            list += format_banner_line(piece);
    }
    std::vector<std::pair<std::string, std::uint32_t>> written;
    std::string entries;
    for (const std::string& name : names_in(text)) {
        const std::uint32_t crc = crc32_of_name(name);
        const std::string date = format_date_line(static_cast<std::int64_t>(name.size()), 0, name);
        const std::string entry = format_entry_line(name, crc);
        // What -c accepts: both lines fit one read and read back as they were written.
        if (!fits_one_read(date) || !fits_one_read(entry) || !reads_back_whole(date) ||
            !reads_back_as_entry(entry, name))
            continue;
        list += date;
        entries += entry;
        written.emplace_back(name, crc);
    }
    list += DATE_BLOCK_END;
    list += entries;

    std::vector<std::pair<std::string, std::uint32_t>> read_back;
    for (const std::string& line : entry_lines_of(list)) {
        const auto split = split_entry_line(line);
        FUZZ_CHECK(split.has_value());
        read_back.emplace_back(split->name, split->listed_crc);
    }
    FUZZ_CHECK(read_back == written);
}

} // namespace
} // namespace zantra

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    zantra::check_entry_lines(text);
    zantra::check_banner_pieces(text);
    zantra::check_splits(text);
    zantra::check_round_trip(text);
    return 0;
}
