#include "console/console.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace zantra
{
namespace
{

struct ConsoleState {
    bool output_was_closed = false;
    bool output_is_terminal = false;
    bool error_is_terminal = false;
};

ConsoleState console;

bool is_closed(int fd)
{
    return fcntl(fd, F_GETFD) < 0 && errno == EBADF;
}

// The length of the valid UTF-8 sequence that `text` begins with; 0 when it begins with none.
// Overlong forms, surrogates and code points past U+10FFFF are not valid.
std::size_t utf8_sequence_length(std::string_view text)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
    if (lead == 0xE0)
        low = 0xA0;
    else if (lead == 0xED)
        high = 0x9F;
    else if (lead == 0xF0)
        low = 0x90;
    else if (lead == 0xF4)
        high = 0x8F;
    if (length == 0 || text.size() < length || byte(1) < low || byte(1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF)
            return 0;
    return length;
}

// True for the bytes a terminal may take as a command: C0 controls, DEL, and the C1 controls
// 0x80-0x9F, which many terminals obey when they stand alone.
bool is_control_byte(unsigned char c)
{
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F);
}

// Replaces the control bytes of `text` with "?": those that stand alone, and both bytes of the
// UTF-8 form of a C1 control (U+0080-U+009F). Every other valid UTF-8 sequence is kept whole.
void hide_control_bytes(std::string& text)
{
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8_sequence_length(std::string_view(text).substr(i));
        if (length == 2 && text[i] == '\xC2' &&
            is_control_byte(static_cast<unsigned char>(text[i + 1]))) {
            text[i] = text[i + 1] = '?';
        } else if (length == 0 && is_control_byte(static_cast<unsigned char>(text[i]))) {
            text[i] = '?';
        }
        i += length == 0 ? 1 : length;
    }
}

std::string shown_as(std::string_view name, bool on_terminal)
{
    std::string text(name.substr(0, name.find('\0')));
    if (on_terminal)
        hide_control_bytes(text);
    return text;
}

} // namespace

void start_console()
{
    // Lowest descriptor first: open() takes the lowest free one, which is then the closed one.
    for (int fd = 0; fd <= 2; ++fd) {
        if (!is_closed(fd))
            continue;
        if (fd == 1)
            console.output_was_closed = true;
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0 && null != fd)
            close(null); // cannot happen while the lower ones are open; never keep a stray one
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    console.output_is_terminal = isatty(1) == 1;
    console.error_is_terminal = isatty(2) == 1;
}

std::string shown(std::string_view name)
{
    return shown_as(name, console.output_is_terminal);
}

std::string shown_in_message(std::string_view name)
{
    return shown_as(name, console.error_is_terminal);
}

void print_message(const char* format, ...)
{
    std::fflush(stdout);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
}

bool finish_console()
{
    const bool flushed = std::fflush(stdout) == 0;
    return flushed && std::ferror(stdout) == 0 && !console.output_was_closed;
}

} // namespace zantra
