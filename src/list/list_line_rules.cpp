#include "list/list_line_rules.h"

#include "list/list_format.h"

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

// True when `text` is a whole CRC: eight hexadecimal digits after an optional 0x.
bool is_whole_crc(std::string_view text)
{
    text = without_hex_prefix(text);
    return text.size() == 8 && is_hex_digits(text);
}

// `line` without the CR and LF bytes that end it.
std::string_view without_line_end(std::string_view line)
{
    return line.substr(0, line.find_last_not_of("\r\n") + 1);
}

// The blank or tab before a whole CRC that ends the line, blanks and tabs after it aside (as
// tools that pad their columns with either write it). Otherwise npos.
std::size_t whole_crc_split_point(std::string_view line)
{
    std::string_view text = without_line_end(line);
    text = text.substr(0, text.find_last_not_of(" \t") + 1);
    const std::size_t split = text.find_last_of(" \t");
    if (split == std::string_view::npos || !is_whole_crc(text.substr(split + 1)))
        return std::string_view::npos;
    return split;
}

// Where the split cuts a line: before a whole CRC that ends it; else at its last blank, line
// end included, unless blanks or tabs follow the CRC before the line end (as hand-edited lists
// and some tools leave them): then at the last blank before the CRC's digits. npos when the
// line holds no blank and ends in no whole CRC.
std::size_t split_point(std::string_view line)
{
    if (const std::size_t before_crc = whole_crc_split_point(line);
        before_crc != std::string_view::npos)
        return before_crc;
    const std::size_t last_blank = line.rfind(' ');
    if (last_blank == std::string_view::npos)
        return last_blank;
    std::string_view text = without_line_end(line);
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

// The name before a split point: the whole run of blanks and tabs that pads it is no part of
// it.
std::string_view name_before(std::string_view line, std::size_t split)
{
    const std::size_t end = line.substr(0, split).find_last_not_of(" \t");
    return line.substr(0, end == std::string_view::npos ? 0 : end + 1);
}

} // namespace

bool is_comment_line(std::string_view line)
{
    return !line.empty() && (line[0] == ' ' || line[0] == '#' || line[0] == ';');
}

bool is_entry_line(std::string_view line)
{
    if (is_comment_line(line) || line.size() < 9 ||
        line.find_first_not_of(" \t\r\n") == std::string_view::npos)
        return false;
    const std::size_t split = split_point(line);
    return split == std::string_view::npos || !name_before(line, split).empty();
}

bool reads_back_whole(std::string_view line)
{
    const std::size_t feed = line.find('\n');
    return fits_one_read(line) && (feed == std::string_view::npos || feed + 1 == line.size());
}

bool reads_back_as_entry(std::string_view line, std::string_view name)
{
    if (!reads_back_whole(line) || !is_entry_line(line))
        return false;
    const std::optional<SplitEntry> entry = split_entry_line(line);
    return entry && entry->name == name;
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
    return SplitEntry{std::string(name_before(line, blank)), read_hex_crc(line.substr(blank + 1))};
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

bool ends_in_whole_crc(std::string_view line)
{
    const std::size_t blank = split_point(line);
    if (blank == std::string_view::npos)
        return false;
    const std::string_view crc = line.substr(blank + 1);
    return is_whole_crc(crc.substr(0, crc.find_last_not_of(" \t\r\n") + 1));
}

} // namespace zantra
