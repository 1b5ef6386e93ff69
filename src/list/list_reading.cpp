#include "list/list_reading.h"

#include "console/console.h"
#include "list/list_format.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zantra
{
namespace
{

bool is_white_space(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int hex_digit_value(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

FileHandle open_text_file(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat info {
    };
    const int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode) || flags < 0 ||
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return nullptr;
    }
    FileHandle file(fdopen(fd, "r"));
    if (!file)
        close(fd);
    return file;
}

namespace
{

int next_byte(LineReader& reader)
{
    if (!reader.pending.empty()) {
        const auto c = static_cast<unsigned char>(reader.pending.front());
        reader.pending.erase(0, 1);
        return c;
    }
    return std::getc(reader.file);
}

void start_reading(LineReader& reader)
{
    reader.started = true;
    if (!reader.skip_byte_order_mark)
        return;
    static constexpr std::string_view BOM = "\xEF\xBB\xBF";
    std::string head;
    while (head.size() < BOM.size()) {
        const int c = std::getc(reader.file);
        if (c == EOF)
            break;
        head += static_cast<char>(c);
        if (head.back() != BOM[head.size() - 1])
            break;
    }
    if (head != BOM)
        reader.pending = head;
}

// `text` without a leading 0x or 0X, when digits follow it.
std::string_view without_hex_prefix(std::string_view text)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text.remove_prefix(2);
    return text;
}

// True when `text` is hexadecimal digits and nothing else, at least one.
bool is_hex_digits(std::string_view text)
{
    if (text.empty())
        return false;
    for (const char c : text)
        if (hex_digit_value(static_cast<unsigned char>(c)) < 0)
            return false;
    return true;
}

// Where the last-blank split cuts a line: at its last blank, line end included, unless blanks
// or tabs follow the CRC before the line end (as hand-edited lists and some tools leave them):
// then at the last blank before the CRC's digits. No blank at all: npos.
std::size_t split_point(std::string_view line)
{
    const std::size_t last_blank = line.rfind(' ');
    std::string_view text = line.substr(0, line.find_last_not_of("\r\n") + 1);
    const std::size_t last_visible = text.find_last_not_of(" \t");
    if (last_visible == std::string_view::npos || last_visible + 1 == text.size())
        return last_blank;
    text = text.substr(0, last_visible + 1);
    const std::size_t blank = text.rfind(' ');
    if (blank == std::string_view::npos ||
        !is_hex_digits(without_hex_prefix(text.substr(blank + 1))))
        return last_blank;
    return blank;
}

// Skips to the end of the line; true when a line feed ended it.
bool skip_rest_of_line(LineReader& reader)
{
    for (int c = next_byte(reader); c != EOF; c = next_byte(reader))
        if (c == '\n')
            return true;
    return false;
}

} // namespace

bool is_comment_line(std::string_view line)
{
    return !line.empty() && (line[0] == ' ' || line[0] == '#' || line[0] == ';');
}

bool is_entry_line(std::string_view line)
{
    return !is_comment_line(line) && line.size() >= 9;
}

bool reads_back_whole(std::string_view line)
{
    const std::size_t feed = line.find('\n');
    return fits_one_read(line) && (feed == std::string_view::npos || feed + 1 == line.size());
}

bool reads_back_as_entry(std::string_view line)
{
    return reads_back_whole(line) && is_entry_line(line);
}

std::uint32_t read_hex_crc(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && is_white_space(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // A 0x prefix counts only when a digit follows it; otherwise the 0 is the number.
    if (i + 2 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
        hex_digit_value(static_cast<unsigned char>(text[i + 2])) >= 0)
        i += 2;
    std::uint32_t value = 0;
    for (; i < text.size(); ++i) {
        const int digit = hex_digit_value(static_cast<unsigned char>(text[i]));
        if (digit < 0)
            break;
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    return negative ? 0u - value : value;
}

std::optional<SplitEntry> split_entry_line(std::string_view line)
{
    const std::size_t blank = split_point(line);
    if (blank == std::string_view::npos)
        return std::nullopt;
    return SplitEntry{std::string(line.substr(0, blank)), read_hex_crc(line.substr(blank + 1))};
}

std::string first_word(std::string_view line)
{
    std::size_t start = 0;
    while (start < line.size() && is_white_space(static_cast<unsigned char>(line[start])))
        ++start;
    std::size_t end = start;
    while (end < line.size() && !is_white_space(static_cast<unsigned char>(line[end])))
        ++end;
    return std::string(line.substr(start, end - start));
}

bool read_piece(LineReader& reader, std::string& piece)
{
    if (!reader.started)
        start_reading(reader);
    piece.clear();
    reader.line_ended = false;
    while (piece.size() < LINE_PIECE_MAX) {
        const int c = next_byte(reader);
        if (c == EOF)
            return !piece.empty() && !std::ferror(reader.file);
        piece += static_cast<char>(c);
        if (c == '\n') {
            reader.line_ended = true;
            return true;
        }
    }
    if (reader.long_lines == LongLines::judge_first_piece)
        reader.line_ended = skip_rest_of_line(reader);
    return !std::ferror(reader.file);
}

FileHandle open_list(const std::string& path)
{
    if (path.size() > LIST_NAME_MAX)
        return nullptr;
    return open_text_file(path);
}

bool ends_in_whole_crc(std::string_view line)
{
    const std::size_t blank = split_point(line);
    if (blank == std::string_view::npos)
        return false;
    std::string_view crc = line.substr(blank + 1);
    crc = without_hex_prefix(crc.substr(0, crc.find_last_not_of(" \t\r\n") + 1));
    return crc.size() == 8 && is_hex_digits(crc);
}

ListRead read_entry_lines(std::FILE* list, const std::function<bool(std::string_view)>& on_entry,
                          LastLine last)
{
    LineReader reader;
    reader.file = list;
    reader.long_lines = LongLines::judge_first_piece;
    reader.skip_byte_order_mark = true;
    std::string line;
    while (read_piece(reader, line)) {
        // A line without a line end is the last one.
        if (!reader.line_ended && last == LastLine::needs_full_crc && !ends_in_whole_crc(line))
            break;
        if (is_entry_line(line) && !on_entry(line))
            return ListRead::complete;
    }
    return std::ferror(list) ? ListRead::cannot_open : ListRead::complete;
}

ListRead for_each_entry_line(const std::string& path,
                             const std::function<bool(std::string_view)>& on_entry, LastLine last)
{
    const FileHandle list = open_list(path);
    return list ? read_entry_lines(list.get(), on_entry, last) : ListRead::cannot_open;
}

void print_cannot_open_list(const std::string& path)
{
    print_message("Oh mama! I can't open %s ... :-(\n", shown_in_message(path).c_str());
}

} // namespace zantra
