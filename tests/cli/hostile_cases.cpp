// Hostile input and real faults: lists written to hurt, special files where files are expected,
// links planted at marker paths, and reads, writes and closes that fail under the unchanged
// binary. Every case also proves, through the sibling "outside" directory, that nothing is
// written outside the current directory.

#include "expected_output.h"
#include "harness.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zantra_cli
{
namespace
{

// The generated-by lines as written: "@NOW@" stands for 22 bytes.
const std::size_t GENERATED_SIZE = GENERATED.size() - 5 + 22;

// 4 KiB holding the bytes 00 to FF sixteen times over: line feeds every 256 bytes, a blank
// in every line, NUL bytes, control bytes and every byte above 0x7F.
std::string binary_text()
{
    std::string text;
    for (int i = 0; i < 4096; ++i)
        text += static_cast<char>(i & 0xFF);
    return text;
}

std::string byte_run(int first, int last)
{
    std::string text;
    for (int c = first; c <= last; ++c)
        text += static_cast<char>(c);
    return text;
}

// Lists built to hurt: every name a list may carry is printed as it is, matched by ASCII
// letters only, and gets a marker only when it names an entry of this directory.
std::vector<Case> hostile_list_cases()
{
    const std::string printf_name = "%n%s%x%p%99999999d.r00";
    const std::string present_printf = "%s%n.r00";
    const std::string printf_sfv =
        entry_line(printf_name, "x") + entry_line(present_printf, "here");

    const std::string high_present = "caf\xC3\xA9.r00";
    const std::string high_absent = "\xC3\x89t\xC3\xA9.r00"; // on disk in lower case only
    const std::string control_absent = "\x1B[31m\x7F\xFF.r00";
    const std::string high_sfv = entry_line("CAF\xC3\xA9.R00", "cafe") +
                                 entry_line(high_absent, "ete") + entry_line(control_absent, "ctl");

    const std::string nul_sfv = std::string("a.r00\0../outside/evil 00000000\r\n", 32) +
                                std::string(8, '\0') + " 00000000\r\n";

    const std::string long_entry = "x.r00 " + std::string(10000, 'F') +
                                   " ../outside/evil.r00 00000000\r\n" + "\n" +
                                   std::string(10000, 'n') + " 00000000\r\n";

    std::string short_lines;
    for (int i = 0; i < 100000; ++i)
        short_lines += "a 1\r\n";
    std::string many_entries;
    for (int i = 0; i < 100000; ++i)
        many_entries += "f" + std::to_string(i) + ".r00 00000000\r\n";

    // Read by the last-blank split: one line without a blank, then sixteen whose first 249
    // bytes run from 0B to 03 and hold one blank, after 0B..1F; the rest of each is skipped.
    // In glftpd mode the last of them, which no line feed ends, is a list still arriving.
    const std::string binary = binary_text();
    const std::string binary_name = byte_run(0x0B, 0x1F);
    std::string binary_absent = absent("", "00000000");
    for (int i = 0; i < 15; ++i)
        binary_absent += absent(binary_name, "00000000");
    // Read by the first-word split: 00..08 (cut at its NUL, so never found) and sixteen times
    // 0E..1F, all sixteen found by one file of that name.
    const std::string first_word = byte_run(0x0E, 0x1F);

    const std::vector<Entry> outside = {
        file("../outside/a.r00", "a"), file("../outside/a.r00.missing", "keep"),
        file("../outside/y.r00.bad", "keep bad"), file("../outside/y.r00.missing", "keep missing")};
    const std::string escaping_sfv = "../outside/a.r00 00000000\r\nsub/b.r00 00000000\r\n"
                                     "@ROOT@/outside/a.r00 00000000\r\n. 00000000\r\n"
                                     ".. 00000000\r\n-dash.r00 00000000\r\n";

    // Names that would command a terminal: each control byte is shown as "?" there, and
    // passed on as it is through a pipe.
    const std::string escape_name = "a\x1B[1Ab.r00", return_name = "c\rOK.r00";
    const std::string escape_sfv = entry_line(escape_name, "x") + entry_line(return_name, "y");
    // A lone 0x80-0x9F, and U+0080-U+009F in UTF-8, are C1 controls; an em dash (E2 80 94) is not.
    const std::string c1_name = std::string("a\x9B") + "31m\xC2\x9B" + "0m\xE2\x80\x94\xE9\x85.r00";
    const std::string c1_shown = "a?31m??0m\xE2\x80\x94\xE9?.r00";
    const std::vector<Entry> escape_files = {file("t.sfv", escape_sfv), file(escape_name, "x")};
    const auto terminal_report = [&](const std::string& escape, const std::string& ret) {
        return whole_heading("t.sfv", false) + checked(escape, crc_of("x"), crc_of("x"), "OK") +
               absent(ret, crc_of("y")) + whole_summary(2, 1, 0, 1);
    };

    return {
        on_console({"TerminalShowsControlBytesOfNamesAsQuestionMarks",
                    escape_files,
                    {"-T", "t.sfv"},
                    2,
                    terminal_report("a?[1Ab.r00", "c?OK.r00")},
                   Console::terminal),
        on_console({"PipeGetsTheRawBytesOfNames",
                    escape_files,
                    {"-T", "t.sfv"},
                    2,
                    terminal_report(escape_name, return_name)},
                   Console::one_pipe),
        on_console({"TerminalShowsControlBytesInMessagesAsQuestionMarks",
                    {file("t.sfv", escape_sfv)},
                    {"-t", "t.sfv", "gone\x07\x7F\xC3\xA9.r00"},
                    1,
                    BANNER + "Testing gone??\xC3\xA9.r00 ... " + fatal("gone??\xC3\xA9.r00") +
                        "local = 0xFFFFFFFF, listed = MISSING\n" + t_summary(1, 0, 0, 1)},
                   Console::terminal),
        on_console({"TerminalShowsC1ControlBytesAsQuestionMarks",
                    {file("t.sfv", escape_sfv)},
                    {"-t", "t.sfv", c1_name},
                    1,
                    BANNER + "Testing " + c1_shown + " ... " + fatal(c1_shown) +
                        "local = 0xFFFFFFFF, listed = MISSING\n" + t_summary(1, 0, 0, 1)},
                   Console::terminal),

        {"GlftpdPrintfDirectivesAreNamesLikeAnyOther",
         {file("p.sfv", printf_sfv), file(present_printf, "here")},
         {"-g", "-T", "p.sfv"},
         2,
         whole_heading("p.sfv", true) +
             checked(present_printf, crc_of("here"), crc_of("here"), "OK") +
             absent(printf_name, crc_of("x")) + status_line("050") + whole_summary(2, 1, 0, 1),
         "",
         changes({file(printf_name + ".missing", ""), dir(completion("050"), 0777)})},

        {"PrintfDirectivesInOperandsAndListName",
         {file("%n.r00", "n"), file("-%s.r01", "s")},
         {"-c", "%s%n.sfv", "%n.r00", "-%s.r01"},
         0,
         create_heading("%s%n.sfv") + adding("%n.r00", "n") + adding("-%s.r01", "s") + created(2),
         "",
         changes({file("%s%n.sfv",
                       GENERATED + entry_line("%n.r00", "n") + entry_line("-%s.r01", "s"))})},

        {"OperandsWithLeadingDashAfterTheListAreFiles",
         {file("l.sfv", entry_line("-a.r00", "dash") + entry_line("--", "dd")),
          file("-a.r00", "dash"), file("--", "dd")},
         {"-t", "l.sfv", "-a.r00", "--", "-v"},
         1,
         BANNER + tested("-a.r00", crc_of("dash"), crc_of("dash"), "OK") +
             tested("--", crc_of("dd"), crc_of("dd"), "OK") + not_listed("-v", "FFFFFFFF") +
             t_summary(3, 2, 0, 1),
         fatal("-v")},

        {"GlftpdHighAndControlBytesMatchByAsciiLettersOnly",
         {file("h.sfv", high_sfv), file(high_present, "cafe"),
          file("\xC3\xA9t\xC3\xA9.r00", "ete")},
         {"-g", "-T", "h.sfv"},
         2,
         whole_heading("h.sfv", true) +
             checked(high_present, crc_of("cafe"), crc_of("cafe"), "OK") +
             absent(high_absent, crc_of("ete")) + absent(control_absent, crc_of("ctl")) +
             status_line("033") + whole_summary(3, 1, 0, 2),
         "",
         changes({file(high_absent + ".missing", ""), file(control_absent + ".missing", ""),
                  dir(completion("033"), 0777)})},

        // A NUL ends a name for the file system: "a.r00<NUL>..." is matched as a.r00, and
        // neither name gets a marker; with none to tell, a.r00 counts only when read good.
        {"GlftpdNulBytesInsideLines",
         {file("z.sfv", nul_sfv), file("a.r00", "abc")},
         {"-g", "-T", "z.sfv"},
         2,
         whole_heading("z.sfv", true) + checked("a.r00", "00000000", crc_of("abc"), "BAD") +
             absent("", "00000000") + status_line("000") + whole_summary(2, 0, 1, 1),
         "",
         changes({dir(completion("000"), 0777)})},

        {"GlftpdNulBytesInsideLinesCounted",
         {file("z.sfv", nul_sfv), file("a.r00", "abc")},
         {"-g", "-m", "z.sfv"},
         0,
         count_heading(true) + status_line("000"),
         "",
         changes({dir(completion("000"), 0777)})},

        // Only the first 249 bytes of a line count; its tail never becomes an entry.
        {"GlftpdTenKilobyteLines",
         {file("long.sfv", long_entry), file("x.r00", ALL_ONES)},
         {"-g", "-T", "long.sfv"},
         2,
         whole_heading("long.sfv", true) + checked("x.r00", "FFFFFFFF", "FFFFFFFF", "OK") +
             absent("", "00000000") + status_line("050") + whole_summary(2, 1, 0, 1),
         "",
         changes({dir(completion("050"), 0777)})},

        {"HundredThousandShortLinesAreNoEntries",
         {file("s.sfv", short_lines + entry_line("a.r00", "abc")), file("a.r00", "abc")},
         {"-T", "s.sfv"},
         0,
         whole_heading("s.sfv", false) + checked("a.r00", crc_of("abc"), crc_of("abc"), "OK") +
             whole_summary(1, 1, 0, 0)},

        {"GlftpdHundredThousandEntriesEndTheRunUntouched",
         {file("many.sfv", many_entries), file("f1.r00", "x"), file("f2.r00.missing", "")},
         {"-g", "-T", "many.sfv"},
         1,
         whole_heading("many.sfv", true) + "zantra cannot handle more than 1024 files\n"},

        {"HundredThousandEntriesForNamedFiles",
         {file("many.sfv", many_entries), file("f99999.r00", "")},
         {"-t", "many.sfv", "f99999.r00"},
         0,
         BANNER + tested("f99999.r00", "00000000", "00000000", "OK") + t_summary(1, 1, 0, 0)},

        {"GlftpdBinaryFileAsList",
         {file("bin.sfv", binary)},
         {"-g", "-T", "bin.sfv"},
         2,
         whole_heading("bin.sfv", true) + binary_absent + status_line("000") +
             whole_summary(16, 0, 0, 16),
         "",
         changes({file(binary_name + ".missing", ""), dir(completion("000"), 0777)})},

        {"BinaryFileAsListCounted",
         {file("bin.sfv", binary), file(first_word, "")},
         {"-m", "bin.sfv"},
         0,
         count_heading(false) + count_table(17, 16, 1)},

        {"GlftpdBinaryFileAsListCounted",
         {file("bin.sfv", binary)},
         {"-g", "-m", "bin.sfv"},
         0,
         count_heading(true) + status_line("000"),
         "",
         changes({file(first_word + ".missing", ""), dir(completion("000"), 0777)})},

        {"BinaryFileAsListForNamedFiles",
         {file("bin.sfv", binary), file("x.r00", "x")},
         {"-t", "bin.sfv", "x.r00"},
         1,
         BANNER + not_listed("x.r00", crc_of("x")) + t_summary(1, 0, 0, 1)},

        {"EmptyListForNamedFiles",
         {file("e.sfv", ""), file("a.r00", "abc")},
         {"-g", "-t", "e.sfv", "a.r00"},
         1,
         BANNER + not_listed("a.r00", crc_of("abc")) + t_summary(1, 0, 0, 1)},

        {"GlftpdByteOrderMarkAlone",
         {file("bom.sfv", "\xEF\xBB\xBF")},
         {"-g", "-T", "bom.sfv"},
         0,
         whole_heading("bom.sfv", true) + status_line("000") + whole_summary(0, 0, 0, 0),
         "",
         changes({dir(completion("000"), 0777)})},

        {"GlftpdEscapingNamesCountedStayInside",
         with(outside, {file("e.sfv", escaping_sfv), dir("sub")}),
         {"-g", "-m", "e.sfv"},
         0,
         count_heading(true) + status_line("000"),
         "",
         changes({file("-dash.r00.missing", ""), dir(completion("000"), 0777)})},

        {"GlftpdEscapingNameTestedOkClearsNothingOutside",
         with(outside,
              {file("e.sfv", entry_line("../outside/y.r00", "y")), file("../outside/y.r00", "y")}),
         {"-g", "-t", "e.sfv", "../outside/y.r00"},
         0,
         BANNER + tested("../outside/y.r00", crc_of("y"), crc_of("y"), "OK") +
             t_summary(1, 1, 0, 0)},

        {"GlftpdAbsoluteNameTestedBadIsNotMoved",
         {file("e.sfv", "@ROOT@/outside/y.r00 00000000\r\n"), file("../outside/y.r00", "y")},
         {"-g", "-t", "e.sfv", "@ROOT@/outside/y.r00"},
         1,
         BANNER + tested("@ROOT@/outside/y.r00", crc_of("y"), "00000000", "BAD") +
             t_summary(1, 0, 1, 0)},
    };
}

// Lists that are not plain files: read from a pipe, or refused without waiting.
std::vector<Case> list_source_cases()
{
    const std::string sfv = entry_line("a.r00", "abc") + entry_line("b.r00", "bee");
    Case piped_whole{"PipeAsListForWholeTest",
                     {file("a.r00", "abc")},
                     {"-T", "/dev/stdin"},
                     2,
                     whole_heading("/dev/stdin", false) +
                         checked("a.r00", crc_of("abc"), crc_of("abc"), "OK") +
                         absent("b.r00", crc_of("bee")) + whole_summary(2, 1, 0, 1)};
    piped_whole.stdin_content = sfv;
    Case piped_count{"GlftpdPipeAsListForCounting",
                     {started(), file("a.r00", "abc")},
                     {"-g", "-m", "/dev/fd/0"},
                     0,
                     count_heading(true) + status_line("050"),
                     "",
                     std::vector<Entry>{file("a.r00", "abc"), file("b.r00.missing", ""),
                                        dir(completion("050"), 0777)}};
    piped_count.stdin_content = sfv;
    Case piped_named{"PipeAsListForNamedFiles",
                     {file("a.r00", "abc"), file("b.r00", "bee")},
                     {"-t", "/dev/stdin", "a.r00", "b.r00"},
                     0,
                     BANNER + tested("a.r00", crc_of("abc"), crc_of("abc"), "OK") +
                         tested("b.r00", crc_of("bee"), crc_of("bee"), "OK") +
                         t_summary(2, 2, 0, 0)};
    piped_named.stdin_content = sfv;
    // More than a pipe holds at once, so that the list arrives in several reads.
    std::string big_list;
    for (int i = 0; i < 1000; ++i)
        big_list += "; " + std::string(200, 'c') + "\r\n";
    Case piped_large{"LargePipeAsListForCounting",
                     {file("a.r00", "abc")},
                     {"-m", "/dev/stdin"},
                     0,
                     count_heading(false) + count_table(2, 1, 1)};
    piped_large.stdin_content = big_list + sfv;

    return {
        piped_whole,
        piped_count,
        piped_named,
        piped_large,
        {"FifoWithoutWriterAsListReadsEmpty",
         {fifo("f.sfv")},
         {"-T", "f.sfv"},
         0,
         whole_heading("f.sfv", false) + whole_summary(0, 0, 0, 0)},
        {"FifoWithoutWriterAsListForNamedFiles",
         {fifo("f.sfv"), file("a.r00", "abc")},
         {"-t", "f.sfv", "a.r00"},
         1,
         BANNER + not_listed("a.r00", crc_of("abc")) + t_summary(1, 0, 0, 1)},
        {"SocketAsList",
         {unix_socket("s.sfv")},
         {"-g", "-m", "s.sfv"},
         1,
         count_heading(true),
         "Oh mama! I can't open s.sfv" + CANT_OPEN_TAIL},
        {"DirectoryAsListForCounting",
         {dir("d.sfv")},
         {"-m", "d.sfv"},
         1,
         count_heading(false),
         "Oh mama! I can't open d.sfv" + CANT_OPEN_TAIL},
        {"FifoWithoutReaderAsListToCreate",
         {fifo("f.sfv"), file("a.r00", "abc")},
         {"-c", "f.sfv", "a.r00"},
         1,
         create_heading("f.sfv"),
         "Oh mama! We can't write to f.sfv" + CANT_WRITE_TAIL},
        {"DirectoryAsListToCreate",
         {dir("d.sfv"), file("a.r00", "abc")},
         {"-c", "d.sfv", "a.r00"},
         1,
         create_heading("d.sfv"),
         "Oh mama! We can't write to d.sfv" + CANT_WRITE_TAIL},
        {"FifoWithoutWriterAsBanner",
         {fifo("logo"), file("a.r00", "abc")},
         {"-c", "-l", "logo", "x.sfv", "a.r00"},
         0,
         create_heading("x.sfv", "Adding banner file        : logo\n") + adding("a.r00", "abc") +
             created(1),
         "",
         changes({file("x.sfv", GENERATED + entry_line("a.r00", "abc"))})},
        {"SocketAsBanner",
         {unix_socket("logo")},
         {"-c", "-l", "logo", "x.sfv"},
         0,
         create_heading("x.sfv", "Adding banner file        : logo\n") + created(0),
         "Oh mama! I couldn't find logo file logo ... omitting!\n",
         changes({file("x.sfv", GENERATED)})},
    };
}

// FIFOs and sockets where files are expected are unreadable at once, never waited on.
std::vector<Case> special_file_cases()
{
    const std::string sfv = entry_line("p.r00", "pipe") + entry_line("s.r00", "sock") +
                            entry_line("l.r00", "link") + entry_line("a.r00", "abc");
    const std::vector<Entry> specials = {fifo("p.r00"), unix_socket("s.r00"),
                                         link("l.r00", "p.r00"), file("a.r00", "abc")};
    return
    {
        {"FifoSocketAndLinkToFifoAsOperandsToCreate",
         specials,
         {"-c", "x.sfv", "p.r00", "s.r00", "l.r00", "a.r00"},
         1,
         create_heading("x.sfv") + adding_missing("p.r00") + adding_missing("s.r00") +
             adding_missing("l.r00") + adding("a.r00", "abc") + created(1),
         fatal("p.r00") + fatal("s.r00") + fatal("l.r00"),
         with(specials, {file("x.sfv", GENERATED + entry_line("a.r00", "abc"))})},

            {"GlftpdFifoSocketAndLinkToFifoAsNamedFiles",
             with(specials, {file("l.sfv", sfv)}),
             {"-g", "-t", "l.sfv", "p.r00", "s.r00", "l.r00", "a.r00"},
             1,
             BANNER + not_listed("p.r00", "FFFFFFFF") + not_listed("s.r00", "FFFFFFFF") +
                 not_listed("l.r00", "FFFFFFFF") +
                 tested("a.r00", crc_of("abc"), crc_of("abc"), "OK") + t_summary(4, 1, 0, 3),
             fatal("p.r00") + fatal("s.r00") + fatal("l.r00")},

            // Only regular files are matched; a FIFO, a socket and a link are absent.
            {"GlftpdFifoSocketAndLinkAsListedNames",
             with(specials, {file("l.sfv", sfv)}),
             {"-g", "-T", "l.sfv"},
             2,
             whole_heading("l.sfv", true) + checked("a.r00", crc_of("abc"), crc_of("abc"), "OK") +
                 absent("p.r00", crc_of("pipe")) + absent("s.r00", crc_of("sock")) +
                 absent("l.r00", crc_of("link")) + status_line("025") + whole_summary(4, 1, 0, 3),
             "",
             with(specials,
                  {file("l.sfv", sfv), file("p.r00.missing", ""), file("s.r00.missing", ""),
                   file("l.r00.missing", ""), dir(completion("025"), 0777)})},

#if defined(__linux__)
            // Its size is 0 and it holds hundreds of GiB: reading stops at the first byte too many.
            {"FileThatNeverEndsIsNotReadForLong",
             {file("l.sfv", "pm.r00 00000000\r\n"), link("pm.r00", "/proc/self/pagemap")},
             {"-t", "l.sfv", "pm.r00"},
             1,
             BANNER + not_listed("pm.r00", "FFFFFFFF") + t_summary(1, 0, 0, 1),
             fatal("pm.r00")},
#endif

            {"GlftpdSocketAtAMarkerPath",
             {file("l.sfv", entry_line("a.r00", "abc")), unix_socket("a.r00.missing")},
             {"-g", "-m", "l.sfv"},
             0,
             count_heading(true) + status_line("000"),
             "",
             changes({dir(completion("000"), 0777)})},
    };
}

// Links planted at marker paths and at the completion directory's name. A symbolic link is
// never followed; a hard link is never emptied; renaming onto either replaces only the name.
std::vector<Case> planted_link_cases()
{
    const std::string one = entry_line("a.r00", "abc");
    const std::string two = one + entry_line("b.r00", "bee");
    const std::vector<Entry> outside = {file("../outside/target", "keep"), dir("../outside/dir")};
    return {
        {"GlftpdSymlinkAtMissingMarkerWhenCounting",
         with(outside, {file("l.sfv", one), link("a.r00.missing", "../outside/target")}),
         {"-g", "-m", "l.sfv"},
         0,
         count_heading(true) + status_line("000"),
         "",
         changes({dir(completion("000"), 0777)})},

        {"GlftpdSymlinkAtNewCompletionDirectoryWhenCounting",
         with(outside, {started(), file("l.sfv", two), file("a.r00", "abc"),
                        link(completion("050"), "../outside/dir")}),
         {"-g", "-m", "l.sfv"},
         0,
         count_heading(true) + status_line("050"),
         "",
         changes({file("b.r00.missing", "")})},

        {"GlftpdHardLinkAtMissingMarkerIsNotEmptied",
         with(outside, {file("l.sfv", one), hard_link("a.r00.missing", "../outside/target")}),
         {"-g", "-T", "l.sfv"},
         2,
         whole_heading("l.sfv", true) + absent("a.r00", crc_of("abc")) + status_line("000") +
             whole_summary(1, 0, 0, 1),
         "",
         with(outside,
              {file("l.sfv", one), file("a.r00.missing", "keep"), dir(completion("000"), 0777)})},

        {"GlftpdHardLinkAtMissingMarkerIsNotEmptiedWhenCounting",
         with(outside, {file("l.sfv", one), hard_link("a.r00.missing", "../outside/target")}),
         {"-g", "-m", "l.sfv"},
         0,
         count_heading(true) + status_line("000"),
         "",
         with(outside,
              {file("l.sfv", one), file("a.r00.missing", "keep"), dir(completion("000"), 0777)})},

        {"GlftpdUploadAtAMarkerPathIsNeverEmptied",
         {file("l.sfv", entry_line("notes", "n")), file("notes.missing", "my notes\n")},
         {"-g", "-m", "l.sfv"},
         0,
         count_heading(true) + status_line("000"),
         "",
         changes({dir(completion("000"), 0777)})},

        {"GlftpdUploadAtAMarkerPathIsNeverRemoved",
         {file("l.sfv", entry_line("notes", "n")), file("notes", "n"),
          file("notes.missing", "my notes\n")},
         {"-g", "-T", "l.sfv"},
         0,
         whole_heading("l.sfv", true) + checked("notes", crc_of("n"), crc_of("n"), "OK") +
             status_line("000") + whole_summary(1, 1, 0, 0),
         "",
         changes({dir(completion("000"), 0777)})},

        // Runs that met in one directory can each leave a completion directory.
        {"GlftpdEveryStaleCompletionDirectoryIsReplaced",
         {file("l.sfv", one), file("a.r00", "abc"), dir(completion("050"), 0777),
          dir(completion("076"), 0777), dir(completion("100"), 0700)},
         {"-g", "-m", "l.sfv"},
         0,
         count_heading(true) + status_line("100"),
         "",
         std::vector<Entry>{file("l.sfv", one), file("a.r00", "abc"),
                            dir(completion("100"), 0700)}},

        {"GlftpdBadFileReplacesASymlinkAtItsBadName",
         with(outside,
              {file("l.sfv", one), file("a.r00", "bad"), link("a.r00.bad", "../outside/target")}),
         {"-g", "-t", "l.sfv", "a.r00"},
         1,
         BANNER + tested("a.r00", crc_of("bad"), crc_of("abc"), "BAD") + t_summary(1, 0, 1, 0),
         "",
         with(outside, {file("l.sfv", one), file("a.r00.bad", "bad"), file("a.r00.missing", "")})},

        {"GlftpdBadFileReplacesAHardLinkAtItsBadName",
         with(outside, {file("l.sfv", one), file("a.r00", "bad"),
                        hard_link("a.r00.bad", "../outside/target")}),
         {"-g", "-t", "l.sfv", "a.r00"},
         1,
         BANNER + tested("a.r00", crc_of("bad"), crc_of("abc"), "BAD") + t_summary(1, 0, 1, 0),
         "",
         with(outside, {file("l.sfv", one), file("a.r00.bad", "bad"), file("a.r00.missing", "")})},

        {"GlftpdGoodFileRemovesSymlinksNotTheirTargets",
         with(outside,
              {file("l.sfv", one), file("a.r00", "abc"), link("a.r00.bad", "../outside/target"),
               link("a.r00.missing", "../outside/target")}),
         {"-g", "-t", "l.sfv", "a.r00"},
         0,
         BANNER + tested("a.r00", crc_of("abc"), crc_of("abc"), "OK") + t_summary(1, 1, 0, 0),
         "",
         with(outside, {file("l.sfv", one), file("a.r00", "abc")})},
    };
}

// -c writes only lines that read back as written: no entry a reader would take for a comment,
// no name a reader would take its end for padding, and no operand's line feed making an entry
// or date line end early.
std::vector<Case> create_refusal_cases()
{
    const std::string refused_tail = " cannot be read back from an SFV line ... omitting!\n";
    const std::string injecting = "c\nx.r00 00000000";
    const std::vector<Entry> commented = {file("#a.r00", "1"), file(";b", "2"), file(" c.r00", "3"),
                                          file("d.r00", "abc")};
    const std::vector<Entry> injected = {file(injecting, "4"), file("d.r00", "abc"),
                                         file("#notes.txt", "n")};
    const std::string dates = "Adding files' times & dates to SFV file\n";
    return {
        {"OperandsThatWouldReadBackAsCommentsAreRefused",
         commented,
         {"-c", "-a", "x.sfv", "#a.r00", ";b", " c.r00", "d.r00"},
         1,
         create_heading("x.sfv", "Add-all-files mode active\n") + adding("d.r00", "abc") +
             created(1),
         "Oh mama! #a.r00" + refused_tail + "Oh mama! ;b" + refused_tail + "Oh mama!  c.r00" +
             refused_tail,
         with(commented, {file("x.sfv", GENERATED + entry_line("d.r00", "abc"))})},

        {"OperandsEndingInABlankOrATabAreRefused",
         {file("a.r00 ", "1"), file("b.r00\t", "2"), file("d.r00", "abc")},
         {"-c", "x.sfv", "a.r00 ", "b.r00\t", "d.r00"},
         1,
         create_heading("x.sfv") + adding("d.r00", "abc") + created(1),
         "Oh mama! a.r00 " + refused_tail + "Oh mama! b.r00\t" + refused_tail,
         std::vector<Entry>{file("a.r00 ", "1"), file("b.r00\t", "2"), file("d.r00", "abc"),
                            file("x.sfv", GENERATED + entry_line("d.r00", "abc"))}},

        {"LineFeedInAnOperandCannotInjectAnEntry",
         injected,
         {"-c", "-d", "x.sfv", injecting, "d.r00", "#notes.txt"},
         1,
         create_heading("x.sfv", dates) + adding("d.r00", "abc") + created(1),
         "Oh mama! " + injecting + refused_tail,
         with(injected,
              {file("x.sfv", GENERATED + ";            3  14:01.07 2004-05-06 d.r00\r\n" +
                                 ";            1  14:01.07 2004-05-06 #notes.txt\r\n;\r\n" +
                                 entry_line("d.r00", "abc"))})},
    };
}

// Writes that fail part-way, made real with a file-size limit on the run.
std::vector<Case> write_fault_cases()
{
    const std::string a = entry_line("a.r00", "abc");
    const std::string b = entry_line("b.r00", "bee");
    const std::vector<Entry> files = {file("a.r00", "abc"), file("b.r00", "bee")};
    Case second_entry{"ListWriteFailsInTheSecondEntry",
                      files,
                      {"-c", "x.sfv", "a.r00", "b.r00"},
                      1,
                      create_heading("x.sfv") + adding("a.r00", "abc") + adding("b.r00", "bee"),
                      "Oh mama! We can't write to x.sfv" + CANT_WRITE_TAIL,
                      with(files, {file("x.sfv", GENERATED + (a + b).substr(0, a.size() + 5))})};
    second_entry.file_size_limit = static_cast<off_t>(GENERATED_SIZE + a.size() + 5);
    Case header{"ListWriteFailsInTheHeader",
                files,
                {"-c", "-d", "x.sfv", "a.r00", "b.r00"},
                1,
                create_heading("x.sfv", "Adding files' times & dates to SFV file\n"),
                "Oh mama! We can't write to x.sfv" + CANT_WRITE_TAIL,
                with(files, {file("x.sfv", GENERATED.substr(0, 10))})};
    header.file_size_limit = 10;
    // A list written over an old one is written beside it: the old one stays whole.
    Case over_old{"ListWriteFailsOverAnOldListThatStaysWhole",
                  with(files, {file("x.sfv", "old list\r\n")}),
                  {"-c", "x.sfv", "a.r00", "b.r00"},
                  1,
                  create_heading("x.sfv") + adding("a.r00", "abc") + adding("b.r00", "bee"),
                  "Oh mama! We can't write to x.sfv" + CANT_WRITE_TAIL};
    over_old.file_size_limit = static_cast<off_t>(GENERATED_SIZE + a.size() + 5);
    return {second_entry, header, over_old};
}

#if defined(ZANTRA_FAULT_LIBRARY)

// The settings that preload the fault library for `path`.
std::vector<std::string> fault(const std::string& path, const std::string& setting)
{
    return {std::string("LD_PRELOAD=") + ZANTRA_FAULT_LIBRARY, "ZANTRA_FAULT_PATH=" + path,
            setting};
}

// The fault setting that sets the file's modification time as the program closes it.
std::string touched_at(std::time_t mtime)
{
    return "ZANTRA_FAULT_TOUCH=" + std::to_string(mtime);
}

// Three pieces of the read size, so that faults come between reads and within one.
std::string big_content()
{
    std::string text(3u << 20, '\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char>((i * 131 + (i >> 13)) & 0xFF);
    return text;
}

std::vector<Case> read_fault_cases()
{
    const std::string big = big_content();
    const std::string big_crc = crc_of(big);
    const std::string one_mib = big.substr(0, 1u << 20);
    const std::string two_mib = big.substr(0, 2u << 20);
    const std::vector<Entry> files = {file("big.r00", big), file("a.r00", "abc")};
    const std::string bad_sfv = "big.r00 00000000\r\n";
    const std::string sfv = entry_line("big.r00", big) + entry_line("b.r00", "bee");
    const std::string three =
        entry_line("a.r00", "abc") + entry_line("b.r00", "bee") + entry_line("c.r00", "sea");
    const std::string unreadable_directory =
        "Oh mama! I can't read the current directory ... :-(\n";
    return {
        {"ReadFailsPartWayWhileCreating",
         files,
         {"-c", "x.sfv", "big.r00", "a.r00"},
         1,
         create_heading("x.sfv") + adding_missing("big.r00") + adding("a.r00", "abc") + created(1),
         fatal("big.r00"),
         with(files, {file("x.sfv", GENERATED + entry_line("a.r00", "abc"))}),
         fault("big.r00", "ZANTRA_FAULT_READ=eio:1572864")},

        {"FirstReadFailsWhileCreating",
         files,
         {"-c", "x.sfv", "big.r00"},
         1,
         create_heading("x.sfv") + adding_missing("big.r00") + created(0),
         fatal("big.r00"),
         with(files, {file("x.sfv", GENERATED)}),
         fault("big.r00", "ZANTRA_FAULT_READ=eio:0")},

        {"GlftpdReadFailsPartWayNamedFileIsNotMovedToBad",
         with(files, {file("l.sfv", bad_sfv)}),
         {"-g", "-t", "l.sfv", "big.r00"},
         1,
         BANNER + not_listed("big.r00", "FFFFFFFF") + t_summary(1, 0, 0, 1),
         fatal("big.r00"),
         {},
         fault("big.r00", "ZANTRA_FAULT_READ=eio:2097152")},

        {"GlftpdReadFailsPartWayInWholeTest",
         with(files, {file("l.sfv", sfv)}),
         {"-g", "-T", "l.sfv"},
         2,
         whole_heading("l.sfv", true) + checked("big.r00", big_crc, "FFFFFFFF", "MISSING") +
             absent("b.r00", crc_of("bee")) + status_line("000") + whole_summary(2, 0, 0, 2),
         fatal("big.r00"),
         changes({file("big.r00.missing", ""), file("b.r00.missing", ""),
                  dir(completion("000"), 0777)}),
         fault("big.r00", "ZANTRA_FAULT_READ=eio:1048576")},

        // A file that changes while it is read is read again once quiet: the CRC is that of
        // what it holds then, never of bytes it did not hold at one moment.
        {"FileCutBelowTheReadPointWhileCreating",
         files,
         {"-c", "x.sfv", "big.r00"},
         0,
         create_heading("x.sfv") + adding("big.r00", one_mib) + created(1),
         "",
         changes(
             {file("big.r00", one_mib), file("x.sfv", GENERATED + entry_line("big.r00", one_mib))}),
         fault("big.r00", "ZANTRA_FAULT_READ=truncate:2097152:1048576")},

        {"FileCutAheadOfTheReadPointForNamedFile",
         with(files, {file("l.sfv", sfv)}),
         {"-t", "l.sfv", "big.r00"},
         1,
         BANNER + tested("big.r00", crc_of(two_mib), big_crc, "BAD") + t_summary(1, 0, 1, 0),
         "",
         changes({file("big.r00", two_mib)}),
         fault("big.r00", "ZANTRA_FAULT_READ=truncate:1048576:2097152")},

        {"FileGrownWhileWholeTest",
         with(files, {file("l.sfv", entry_line("big.r00", big))}),
         {"-T", "l.sfv"},
         1,
         whole_heading("l.sfv", false) +
             checked("big.r00", big_crc, crc_of(big + std::string(100, 'g')), "BAD") +
             whole_summary(1, 0, 1, 0),
         "",
         changes({file("big.r00", big + std::string(100, 'g'))}),
         fault("big.r00", "ZANTRA_FAULT_READ=grow:1048576:100")},

        {"ListCloseFails",
         {file("a.r00", "abc")},
         {"-c", "x.sfv", "a.r00"},
         1,
         create_heading("x.sfv") + adding("a.r00", "abc"),
         "Oh mama! We can't write to x.sfv" + CANT_WRITE_TAIL,
         changes({file("x.sfv", GENERATED + entry_line("a.r00", "abc"))}),
         fault("x.sfv", "ZANTRA_FAULT_FCLOSE=1")},

        {"GlftpdListReadFailsPartWayInWholeTest",
         {file("l.sfv", three), file("a.r00", "abc")},
         {"-g", "-T", "l.sfv"},
         1,
         whole_heading("l.sfv", true),
         "Oh mama! I can't open l.sfv" + CANT_OPEN_TAIL,
         {},
         fault("l.sfv", "ZANTRA_FAULT_READ=eio:20")},

        {"GlftpdListReadFailsPartWayWhenCounting",
         {file("l.sfv", three), file("a.r00", "abc")},
         {"-g", "-m", "l.sfv"},
         1,
         count_heading(true),
         "Oh mama! I can't open l.sfv" + CANT_OPEN_TAIL,
         {},
         fault("l.sfv", "ZANTRA_FAULT_READ=eio:40")},

        {"GlftpdListReadFailsBeforeTheEntryOfANamedFile",
         {file("l.sfv", three), file("b.r00", "bad")},
         {"-g", "-t", "l.sfv", "b.r00"},
         1,
         BANNER + "Testing b.r00 ... local = 0x" + crc_of("bad") + ", listed = ",
         "Oh mama! I can't open l.sfv" + CANT_OPEN_TAIL,
         {},
         fault("l.sfv", "ZANTRA_FAULT_READ=eio:20")},

        // A scan that did not finish says nothing about the files after the failure.
        {"GlftpdDirectoryReadFailsPartWayWhenCounting",
         {file("l.sfv", three), file("a.r00", "abc"), file("b.r00", "bee")},
         {"-g", "-m", "l.sfv"},
         1,
         count_heading(true),
         unreadable_directory,
         {},
         fault("", "ZANTRA_FAULT_READDIR=eio:3")},

        {"GlftpdDirectoryReadFailsInWholeTest",
         {file("l.sfv", three), file("a.r00", "abc"), file("c.r00.missing", "")},
         {"-g", "-T", "l.sfv"},
         1,
         whole_heading("l.sfv", true),
         unreadable_directory,
         {},
         fault("", "ZANTRA_FAULT_READDIR=eio:0")},

        // A directory that cannot be opened is one that cannot be read to its end.
        {"DirectoryThatCannotBeOpenedInWholeTest",
         {file("l.sfv", three), file("a.r00", "abc")},
         {"-T", "l.sfv"},
         1,
         whole_heading("l.sfv", false),
         unreadable_directory,
         {},
         fault("", "ZANTRA_FAULT_OPENDIR=eio:0")},

        // Books that cannot be kept (here a read-only file system) are said, and fail the run.
        {"GlftpdBooksThatCannotBeKeptAreSaid",
         {started(), file("l.sfv", entry_line("a.r00", "abc")), file("a.r00", "abc")},
         {"-g", "-m", "l.sfv"},
         1,
         count_heading(true) + status_line("100"),
         "Oh mama! I can't keep the glftpd books here (check permissions!) ... :-(\n",
         {},
         fault("", "ZANTRA_FAULT_MKDIR=erofs")},

        {"GlftpdDirectoryThatCannotBeOpenedWhenCounting",
         {file("l.sfv", three), file("a.r00", "abc")},
         {"-g", "-m", "l.sfv"},
         1,
         count_heading(true),
         unreadable_directory,
         {},
         fault("", "ZANTRA_FAULT_OPENDIR=eio:0")},

        // The markers made before reading stay; no completion directory is made. The walk is
        // the second directory opened: each hold of the release's lock looks for files that
        // killed runs left behind first.
        {"GlftpdDirectoryThatCannotBeOpenedForTheBookkeeping",
         {file("l.sfv", three), file("a.r00", "abc")},
         {"-g", "-T", "l.sfv"},
         1,
         whole_heading("l.sfv", true) + checked("a.r00", crc_of("abc"), crc_of("abc"), "OK") +
             absent("b.r00", crc_of("bee")) + absent("c.r00", crc_of("sea")),
         unreadable_directory,
         changes({file("a.r00.missing", ""), file("b.r00.missing", ""), file("c.r00.missing", "")}),
         fault("", "ZANTRA_FAULT_OPENDIR=eio:2")},

        {"BannerReadFailsPartWay",
         {file("logo", "line one\nline two\n"), file("a.r00", "abc")},
         {"-c", "-l", "logo", "x.sfv", "a.r00"},
         0,
         create_heading("x.sfv", "Adding banner file        : logo\n") + adding("a.r00", "abc") +
             created(1),
         "Oh mama! I couldn't find logo file logo ... omitting!\n",
         changes({file("x.sfv", GENERATED + entry_line("a.r00", "abc"))}),
         fault("logo", "ZANTRA_FAULT_READ=eio:12")},
    };
}

// Another process acting at the worst moment, made certain with the fault library.
std::vector<Case> race_cases()
{
    const std::string one = entry_line("x.r00", "good");
    const std::vector<Entry> outside = {file("../outside/secret", "secret")};
    return {
        // Between the look at a stale x.r00.bad and its removal, the good x.r00 is renamed there.
        {"GlftpdGoodFileRenamedOntoItsStaleBadNameIsKept",
         {file("l.sfv", one), file("x.r00", "good"), file("x.r00.bad", "old")},
         {"-g", "-t", "l.sfv", "x.r00"},
         0,
         BANNER + tested("x.r00", crc_of("good"), crc_of("good"), "OK") + t_summary(1, 1, 0, 0),
         "",
         std::vector<Entry>{file("l.sfv", one), file("x.r00.bad", "good")},
         fault("x.r00.bad", "ZANTRA_FAULT_SWAP=before:x.r00")},

        // A good re-upload is renamed into place just as the damaged file is being moved.
        {"GlftpdGoodUploadRenamedInPlaceOfABadOneIsNotMovedToBad",
         {file("l.sfv", one), file("x.r00", "damaged"), file("new", "good")},
         {"-g", "-t", "l.sfv", "x.r00"},
         1,
         BANNER + tested("x.r00", crc_of("damaged"), crc_of("good"), "BAD") + t_summary(1, 0, 1, 0),
         "",
         std::vector<Entry>{file("l.sfv", one), file("x.r00", "good"), file("x.r00.missing", "")},
         fault("x.r00", "ZANTRA_FAULT_SWAP=rename:new")},

        // A resumed upload completes just after a hook read the partial file: the late verdict
        // about the older file is printed, and the newer file's own hook keeps its books.
        {"GlftpdLateBadVerdictAboutAnOlderFileChangesNoBooks",
         {file("l.sfv", one), file("x.r00", "damaged"), file("new", "good")},
         {"-g", "-t", "l.sfv", "x.r00"},
         1,
         BANNER + tested("x.r00", crc_of("damaged"), crc_of("good"), "BAD") + t_summary(1, 0, 1, 0),
         "",
         std::vector<Entry>{file("l.sfv", one), file("x.r00", "good")},
         fault("x.r00", "ZANTRA_FAULT_SWAP=close:new")},

        {"GlftpdWholeTestLeavesAFileReplacedAfterItsBadReadUnderItsName",
         {file("l.sfv", one), file("x.r00", "damaged"), file("new", "good")},
         {"-g", "-T", "l.sfv"},
         1,
         whole_heading("l.sfv", true) + checked("x.r00", crc_of("good"), crc_of("damaged"), "BAD") +
             status_line("000") + whole_summary(1, 0, 1, 0),
         "",
         std::vector<Entry>{file("l.sfv", one), file("x.r00", "good"), file("x.r00.missing", ""),
                            dir(completion("000"), 0777)},
         fault("x.r00", "ZANTRA_FAULT_SWAP=close:new")},

        // A damaged file that someone still holds open for writing is an upload going on.
        {"GlftpdWholeTestLeavesAFileOpenForWritingUnderItsName",
         {file("l.sfv", one), file("x.r00", "damaged")},
         {"-g", "-T", "l.sfv"},
         1,
         whole_heading("l.sfv", true) + checked("x.r00", crc_of("good"), crc_of("damaged"), "BAD") +
             status_line("000") + whole_summary(1, 0, 1, 0),
         "",
         std::vector<Entry>{file("l.sfv", one), file("x.r00", "damaged"), file("x.r00.missing", ""),
                            dir(completion("000"), 0777)},
         fault("x.r00", "ZANTRA_FAULT_WRITER=1")},

        // After the scan found a regular file, a symbolic link takes its place.
        {"GlftpdLinkPutInPlaceAfterTheScanIsNotFollowed",
         with(outside, {file("l.sfv", entry_line("a.r00", "secret")), file("a.r00", "secret"),
                        link("evil", "../outside/secret")}),
         {"-g", "-T", "l.sfv"},
         2,
         whole_heading("l.sfv", true) + checked("a.r00", crc_of("secret"), "FFFFFFFF", "MISSING") +
             status_line("000") + whole_summary(1, 0, 0, 1),
         fatal("a.r00"),
         with(outside,
              {file("l.sfv", entry_line("a.r00", "secret")), link("a.r00", "../outside/secret"),
               file("a.r00.missing", ""), dir(completion("000"), 0777)}),
         fault("a.r00", "ZANTRA_FAULT_SWAP=before:evil")},

        // The client sets the time of a damaged upload just after zantra has read it: it is
        // still the file read, so a second read decides, and it is moved aside all the same.
        {"GlftpdBadFileWhoseTimeIsSetAfterItsReadIsMovedAndMarked",
         {file("l.sfv", one), file("x.r00", "damaged")},
         {"-g", "-t", "l.sfv", "x.r00"},
         1,
         BANNER + tested("x.r00", crc_of("damaged"), crc_of("good"), "BAD") + t_summary(1, 0, 1, 0),
         "",
         std::vector<Entry>{file("l.sfv", one), file("x.r00.bad", "damaged"),
                            file("x.r00.missing", "")},
         fault("x.r00", touched_at(FIXED_MTIME - 3600))},

        // A good file changed after -T read it is not taken as verified: its marker stays.
        {"GlftpdFileChangedAfterItsReadInWholeTestKeepsItsMarker",
         {file("l.sfv", one), file("x.r00", "good")},
         {"-g", "-T", "l.sfv"},
         0,
         whole_heading("l.sfv", true) + checked("x.r00", crc_of("good"), crc_of("good"), "OK") +
             status_line("000") + whole_summary(1, 1, 0, 0),
         "",
         changes({file("x.r00.missing", ""), dir(completion("000"), 0777)}),
         fault("x.r00", touched_at(FIXED_MTIME - 3600))},

        // The list changes while -T reads it (a client sets its time as the read ends): the
        // report stands, but no book is kept from a list that may not be whole.
        {"GlftpdListChangedWhileReadKeepsNoBooks",
         {file("l.sfv", one), file("x.r00", "good"), file("x.r00.missing", "")},
         {"-g", "-T", "l.sfv"},
         0,
         whole_heading("l.sfv", true) + checked("x.r00", crc_of("good"), crc_of("good"), "OK") +
             whole_summary(1, 1, 0, 0),
         "",
         std::nullopt,
         fault("l.sfv", touched_at(FIXED_MTIME - 3600))},

        // Someone renames a directory of theirs onto the completion directory just made.
        {"GlftpdDirectorySwappedInAfterTheMkdirIsNotMadeWritable",
         {started(), file("l.sfv", one), file("x.r00", "good"), dir("mine", 0700)},
         {"-g", "-m", "l.sfv"},
         0,
         count_heading(true) + status_line("100"),
         "",
         std::vector<Entry>{file("l.sfv", one), file("x.r00", "good"),
                            dir(completion("100"), 0700)},
         fault(completion("100"), "ZANTRA_FAULT_SWAP=after:mine")},
    };
}

#endif

} // namespace

ZANTRA_CLI_CASES(HostileList, hostile_list_cases);
ZANTRA_CLI_CASES(ListSource, list_source_cases);
ZANTRA_CLI_CASES(SpecialFile, special_file_cases);
ZANTRA_CLI_CASES(PlantedLink, planted_link_cases);
ZANTRA_CLI_CASES(CreateRefusal, create_refusal_cases);
ZANTRA_CLI_CASES(WriteFault, write_fault_cases);
#if defined(ZANTRA_FAULT_LIBRARY)
ZANTRA_CLI_CASES(ReadFault, read_fault_cases);
ZANTRA_CLI_CASES(Race, race_cases);
#endif

} // namespace zantra_cli
