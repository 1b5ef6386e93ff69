#include "list/list_file_reader.h"

#include "console/console.h"
#include "list/list_format.h"
#include "list/list_line_rules.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zantra
{

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

// The next byte of the stream itself, counted; EOF past the byte limit.
int stream_byte(LineReader& reader)
{
    if (reader.too_large)
        return EOF;
    const int c = std::getc(reader.file);
    if (c != EOF && reader.byte_limit != 0 && ++reader.bytes_read > reader.byte_limit) {
        reader.too_large = true;
        return EOF;
    }
    return c;
}

int next_byte(LineReader& reader)
{
    if (!reader.pending.empty()) {
        const auto c = static_cast<unsigned char>(reader.pending.front());
        reader.pending.erase(0, 1);
        return c;
    }
    return stream_byte(reader);
}

void start_reading(LineReader& reader)
{
    reader.started = true;
    if (!reader.skip_byte_order_mark)
        return;
    static constexpr std::string_view BOM = "\xEF\xBB\xBF";
    std::string head;
    while (head.size() < BOM.size()) {
        const int c = stream_byte(reader);
        if (c == EOF)
            break;
        head += static_cast<char>(c);
        if (head.back() != BOM[head.size() - 1])
            break;
    }
    if (head != BOM)
        reader.pending = head;
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

bool read_piece(LineReader& reader, std::string& piece)
{
    if (!reader.started)
        start_reading(reader);
    piece.clear();
    reader.line_ended = false;
    const std::size_t piece_max =
        reader.long_lines == LongLines::split ? BANNER_PIECE_MAX : LIST_LINE_MAX;
    while (piece.size() < piece_max) {
        const int c = next_byte(reader);
        if (c == EOF)
            return !piece.empty() && !std::ferror(reader.file) && !reader.too_large;
        piece += static_cast<char>(c);
        if (c == '\n') {
            reader.line_ended = true;
            return true;
        }
    }
    if (reader.long_lines == LongLines::judge_first_piece)
        reader.line_ended = skip_rest_of_line(reader);
    return !std::ferror(reader.file) && !reader.too_large;
}

FileHandle open_list(const std::string& path)
{
    if (path.size() > LIST_NAME_MAX)
        return nullptr;
    return open_text_file(path);
}

ListRead read_entry_lines(std::FILE* list, const std::function<bool(std::string_view)>& on_entry,
                          LastLine last)
{
    LineReader reader;
    reader.file = list;
    reader.long_lines = LongLines::judge_first_piece;
    reader.skip_byte_order_mark = true;
    reader.byte_limit = LIST_SIZE_MAX;
    std::string line;
    while (read_piece(reader, line)) {
        // A line without a line end is the last one.
        if (!reader.line_ended && last == LastLine::needs_full_crc && !ends_in_whole_crc(line))
            break;
        if (is_entry_line(line) && !on_entry(line))
            return ListRead::complete;
    }
    if (reader.too_large)
        return ListRead::too_large;
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

void print_list_not_read(const std::string& path, ListRead read)
{
    if (read == ListRead::too_large)
        print_message("Oh mama! %s is larger than 64 MiB, I won't read it as a list ... :-(\n",
                      shown_in_message(path).c_str());
    else
        print_cannot_open_list(path);
}

} // namespace zantra
