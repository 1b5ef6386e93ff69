// Reading lists from a stream: the pieces lines are read in, and a list's entry lines.

#include "harness.h"
#include "list/list_file_reader.h"
#include "list/list_format.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace zantra
{
namespace
{

// Writes `content` to a scratch file and reads it back in pieces.
std::vector<std::string> pieces_of(const std::string& content, LongLines long_lines, bool bom)
{
    std::FILE* file = std::tmpfile();
    EXPECT_NE(file, nullptr);
    std::fwrite(content.data(), 1, content.size(), file);
    std::rewind(file);
    LineReader reader;
    reader.file = file;
    reader.long_lines = long_lines;
    reader.skip_byte_order_mark = bom;
    std::vector<std::string> pieces;
    std::string piece;
    while (read_piece(reader, piece))
        pieces.push_back(piece);
    EXPECT_FALSE(std::ferror(file));
    std::fclose(file);
    return pieces;
}

TEST(LineReader, PiecesOfLongLines)
{
    const std::string long_line(300, 'x');
    const std::string exact(BANNER_PIECE_MAX, 'y');
    const std::string long_list_line(LIST_LINE_MAX + 51, 'x');
    const std::string exact_list_line(LIST_LINE_MAX, 'y');
    using V = std::vector<std::string>;

    EXPECT_EQ(pieces_of(long_line + "\n", LongLines::split, false),
              (V{std::string(249, 'x'), std::string(51, 'x') + "\n"}));
    EXPECT_EQ(pieces_of(exact + "\n" + "z\n", LongLines::split, false), (V{exact, "\n", "z\n"}));
    EXPECT_EQ(pieces_of(long_line + "\n", LongLines::judge_first_piece, false),
              (V{long_line + "\n"}));
    EXPECT_EQ(pieces_of(long_list_line + "\nnext 1\n", LongLines::judge_first_piece, false),
              (V{std::string(LIST_LINE_MAX, 'x'), "next 1\n"}));
    EXPECT_EQ(pieces_of(exact_list_line + "\n" + "z\n", LongLines::judge_first_piece, false),
              (V{exact_list_line, "z\n"}));
    EXPECT_EQ(pieces_of("no line feed", LongLines::split, false), (V{"no line feed"}));
    EXPECT_EQ(pieces_of(std::string("a\0b\n", 4), LongLines::split, false),
              (V{std::string("a\0b\n", 4)}));
    EXPECT_EQ(pieces_of("", LongLines::split, false), V{});
}

TEST(LineReader, ByteOrderMarkOnlyAtTheStart)
{
    using V = std::vector<std::string>;
    EXPECT_EQ(pieces_of("\xEF\xBB\xBFtest.r00 1\n", LongLines::judge_first_piece, true),
              (V{"test.r00 1\n"}));
    EXPECT_EQ(pieces_of("\xEF\xBB\xBF", LongLines::judge_first_piece, true), V{});
    EXPECT_EQ(pieces_of("\xEF\xBBx\n", LongLines::judge_first_piece, true), (V{"\xEF\xBBx\n"}));
    EXPECT_EQ(pieces_of("a\n\xEF\xBB\xBF\n", LongLines::judge_first_piece, true),
              (V{"a\n", "\xEF\xBB\xBF\n"}));
    EXPECT_EQ(pieces_of("\xEF\xBB\xBFx\n", LongLines::split, false), (V{"\xEF\xBB\xBFx\n"}));
}

TEST(ListFile, EntryLinesAndFailures)
{
    const zantra_cli::ScratchFile list("\xEF\xBB\xBF; comment\r\n"
                                       "short 1\n"
                                       "first.r00 00000001\r\n" +
                                       std::string(10000, ';') +
                                       "evil.rar 00000000\n"
                                       "second.r01 00000002\n");
    const std::string& path = list.path;

    std::vector<std::string> seen;
    auto collect = [&seen](std::string_view line) {
        seen.emplace_back(line);
        return true;
    };
    EXPECT_EQ(for_each_entry_line(path, collect), ListRead::complete);
    EXPECT_EQ(seen, (std::vector<std::string>{"first.r00 00000001\r\n", "second.r01 00000002\n"}));

    seen.clear();
    EXPECT_EQ(for_each_entry_line(path,
                                  [&seen](std::string_view line) {
                                      seen.emplace_back(line);
                                      return false;
                                  }),
              ListRead::complete);
    EXPECT_EQ(seen.size(), 1u);

    EXPECT_EQ(for_each_entry_line("/nonexistent/list.sfv", collect), ListRead::cannot_open);
    EXPECT_EQ(for_each_entry_line("/tmp", collect), ListRead::cannot_open);
    EXPECT_EQ(for_each_entry_line(std::string(251, 'l'), collect), ListRead::cannot_open);
}

} // namespace
} // namespace zantra
