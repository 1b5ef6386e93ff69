// The listed-file table: loading by both rules, the capacity, and the name lookup.

#include "harness.h"
#include "list/list_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace zantra
{
namespace
{

using zantra_cli::ScratchFile;

TEST(ListTable, LoadsByEitherRule)
{
    const ScratchFile list("; comment\r\n"
                           "Some File.r00 0a1b2c3d\r\n"
                           "noblank.r00\r\n"
                           "x 1\r\n" // too short
                           "last.r01 FFFFFFFF\n");
    ListTable by_last_blank;
    ASSERT_EQ(load_list_table(list.path, SplitRule::last_blank, by_last_blank), LoadResult::loaded);
    ASSERT_EQ(by_last_blank.entries.size(), 3u);
    EXPECT_EQ(by_last_blank.entries[0].name, "Some File.r00");
    EXPECT_EQ(by_last_blank.entries[0].listed_crc, 0x0A1B2C3Du);
    EXPECT_EQ(by_last_blank.entries[1].name, ""); // a slot with nothing in it
    EXPECT_EQ(by_last_blank.entries[1].listed_crc, 0u);
    EXPECT_EQ(by_last_blank.entries[2].listed_crc, 0xFFFFFFFFu);

    ListTable by_first_word;
    ASSERT_EQ(load_list_table(list.path, SplitRule::first_word, by_first_word), LoadResult::loaded);
    ASSERT_EQ(by_first_word.entries.size(), 3u);
    EXPECT_EQ(by_first_word.entries[0].name, "Some File.r00"); // before a whole CRC
    EXPECT_EQ(by_first_word.entries[1].name, "noblank.r00");
    EXPECT_EQ(by_first_word.entries[2].name, "last.r01");

    ListTable none;
    EXPECT_EQ(load_list_table("/nonexistent/x.sfv", SplitRule::last_blank, none),
              LoadResult::cannot_open);
}

TEST(ListTable, CapacityIs1024EntryLines)
{
    std::string content = "; comments and short lines do not count\r\nab 1\r\n";
    for (std::size_t i = 0; i < TABLE_CAPACITY; ++i)
        content += "file" + std::to_string(i) + ".r00 00000000\r\n";
    {
        const ScratchFile list(content);
        ListTable table;
        EXPECT_EQ(load_list_table(list.path, SplitRule::last_blank, table), LoadResult::loaded);
        EXPECT_EQ(table.entries.size(), TABLE_CAPACITY);
    }
    const ScratchFile list(content + "one.more 0\r\n");
    ListTable table;
    testing::internal::CaptureStdout();
    EXPECT_EQ(load_list_table(list.path, SplitRule::first_word, table), LoadResult::table_full);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "zantra cannot handle more than 1024 files\n");
}

std::string folded(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The lookup as a walk from the first entry: the first name (up to a NUL) equal byte for byte,
// else the first equal with letters folded.
std::optional<std::size_t> find_by_walking(const ListTable& table, const std::string& name)
{
    std::optional<std::size_t> first_folded;
    for (std::size_t index = 0; index < table.entries.size(); ++index) {
        const std::string& entry = table.entries[index].name;
        const std::string listed = entry.substr(0, entry.find('\0'));
        if (listed.empty())
            continue;
        if (listed == name)
            return index;
        if (!first_folded && folded(listed) == folded(name))
            first_folded = index;
    }
    return first_folded;
}

TEST(ListTable, LookupAgreesWithAWalkFromTheStart)
{
    std::mt19937 generator(1024);
    const std::string alphabet = "aAbB.r0";
    auto random_name = [&](std::size_t length) {
        std::string name;
        std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
        for (std::size_t i = 0; i < length; ++i)
            name += alphabet[pick(generator)];
        return name;
    };
    std::uniform_int_distribution<std::size_t> short_length(1, 4);
    std::uniform_int_distribution<std::size_t> long_length(248, 256);
    for (int round = 0; round < 20; ++round) {
        ListTable table;
        for (int i = 0; i < 200; ++i)
            add_list_entry(
                table, {random_name(i % 10 == 0 ? long_length(generator) : short_length(generator)),
                        0, false});
        add_list_entry(table, {"", 0, false});
        add_list_entry(table, {std::string("nul\0tail", 8), 0, false});
        for (int probe = 0; probe < 300; ++probe) {
            std::string name =
                random_name(probe % 10 == 0 ? long_length(generator) : short_length(generator));
            EXPECT_EQ(find_listed(table, name), find_by_walking(table, name)) << name;
        }
        EXPECT_EQ(find_listed(table, "NUL"), find_by_walking(table, "NUL"));
        EXPECT_EQ(find_listed(table, "nul"), std::optional<std::size_t>(table.entries.size() - 1));
    }
}

// -t's rule: the first entry equal byte for byte, else the first equal with letters folded,
// else the first whose name begins with the operand.
TEST(ListTable, OperandsAgainstAList)
{
    const SplitEntry list[] = {{"movie.avi.001", 1}, {"Movie.avi", 2}, {"movie.avi", 3},
                               {"a.r00", 4},         {"a.r00", 5},     {"A.R00.x", 6},
                               {"b.r00 ", 7},        {"REL.R00", 8},   {"rel.r00", 9},
                               {"CD1\\x.r00", 10},   {"cd2/y.r00", 11}};
    struct Case {
        std::string operand;
        NameMatch how;
        std::uint32_t crc;
    };
    const Case cases[] = {
        {"movie.avi", NameMatch::exact, 3},     {"MOVIE.AVI", NameMatch::folded, 2},
        {"movie.av", NameMatch::prefix, 1},     {"a.r00", NameMatch::exact, 4},
        {"A.r00", NameMatch::folded, 4},        {"a.r0", NameMatch::prefix, 4},
        {"b.r00", NameMatch::prefix, 7},        {"rel.r00", NameMatch::exact, 9},
        {"Rel.R00", NameMatch::folded, 8},      {"c.r00", NameMatch::none, 0},
        {"movie.avi.0011", NameMatch::none, 0}, {"CD1/x.r00", NameMatch::exact, 10},
        {"cd1/X.r00", NameMatch::folded, 10},   {"CD2\\y", NameMatch::prefix, 11},
    };
    std::vector<std::string> operands;
    for (const Case& c : cases)
        operands.push_back(c.operand);
    std::vector<OperandEntry> chosen(operands.size());
    for (const SplitEntry& entry : list)
        offer_to_operands(entry, operands, chosen);
    for (std::size_t i = 0; i < operands.size(); ++i) {
        EXPECT_EQ(chosen[i].how, cases[i].how) << operands[i];
        EXPECT_EQ(chosen[i].entry.listed_crc, cases[i].crc) << operands[i];
    }
}

} // namespace
} // namespace zantra
