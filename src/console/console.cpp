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

std::string shown_as(std::string_view name, bool on_terminal)
{
    std::string text(name.substr(0, name.find('\0')));
    if (on_terminal)
        for (char& c : text)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                c = '?';
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
