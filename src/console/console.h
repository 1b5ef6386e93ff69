// Standard output and standard error as every operation writes them: progress and verdicts to
// standard output, messages to standard error, in the order a terminal would show them.
#pragma once

#include <string>
#include <string_view>

namespace zantra
{

// Makes the standard streams safe before anything else is opened: /dev/null is opened on each
// of descriptors 0, 1 and 2 that is closed, so that no file of the run can take a standard
// stream's place; SIGPIPE and SIGXFSZ are ignored, so that neither a reader that goes away nor
// a file-size limit can stop the run half-way (the write fails instead); and it notes which of
// standard output and standard error are terminals.
void start_console();

// `name` as it is printed on standard output: cut at a NUL byte, as "%s" cuts it, and, when
// standard output is a terminal, with every control byte shown as "?", so that a hostile name
// cannot command the terminal: 0x00-0x1F, 0x7F, each byte 0x80-0x9F that is not part of a valid
// UTF-8 sequence, and both bytes of the UTF-8 form of U+0080-U+009F. Other bytes are kept.
[[nodiscard]] std::string shown(std::string_view name);

// The same for a name in a message on standard error, judged by whether that is a terminal.
[[nodiscard]] std::string shown_in_message(std::string_view name);

// Writes a message to standard error, after flushing standard output, so that a pipe that
// carries both shows them in the order they were written.
void print_message(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Flushes standard output at the end of the run. False when something written to it did not
// arrive: a write or the flush failed, or it was closed when the run began.
[[nodiscard]] bool finish_console();

} // namespace zantra
