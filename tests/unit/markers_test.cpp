// Marker names, the completion percentage and the completion directory's name.

#include "site/books.h"
#include "site/markers.h"

#include <limits>

#include <gtest/gtest.h>

#include <string>

namespace zantra
{
namespace
{

TEST(Markers, OnlyLocalNamesGetMarkers)
{
    struct Case {
        std::string name;
        bool local;
    };
    const Case cases[] = {
        {"test.r00", true}, {"test.r00 ", true},
        {"-dash", true},    {"%n%s", true},
        {".hidden", true},  {"...", true},
        {"", false},        {".", false},
        {"..", false},      {"sub/x.r00", false},
        {"../x", false},    {"/etc/passwd", false},
        {"x/", false},      {std::string("nul\0byte", 8), false},
        {"a\\b", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(is_local_name(c.name), c.local) << c.name;
        EXPECT_EQ(marker_path(c.name, MISSING_SUFFIX).has_value(), c.local) << c.name;
    }
    EXPECT_EQ(marker_path("test.r00 ", BAD_SUFFIX), std::optional<std::string>("test.r00 .bad"));
}

TEST(Markers, MarkerPathsFit255Bytes)
{
    EXPECT_TRUE(marker_path(std::string(247, 'n'), MISSING_SUFFIX).has_value());
    EXPECT_FALSE(marker_path(std::string(248, 'n'), MISSING_SUFFIX).has_value());
    EXPECT_TRUE(marker_path(std::string(251, 'n'), BAD_SUFFIX).has_value());
    EXPECT_FALSE(marker_path(std::string(252, 'n'), BAD_SUFFIX).has_value());
}

TEST(Markers, CompletionPercentAndName)
{
    struct Case {
        long long present, listed;
        int percent;
        std::string name;
    };
    const Case cases[] = {
        {3, 4, 75, "[075%]-[-all.files.CRC.ok-]"},  {2, 3, 66, "[066%]-[-all.files.CRC.ok-]"},
        {0, 0, 0, "[000%]-[-all.files.CRC.ok-]"},   {4, 4, 100, "[100%]-[-all.files.CRC.ok-]"},
        {5, 4, 100, "[100%]-[-all.files.CRC.ok-]"}, {-3, 4, 0, "[000%]-[-all.files.CRC.ok-]"},
        {1, 100, 1, "[001%]-[-all.files.CRC.ok-]"}, {1, -1, 0, "[000%]-[-all.files.CRC.ok-]"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(completion_percent(c.present, c.listed), c.percent)
            << c.present << "/" << c.listed;
        EXPECT_EQ(completion_dir_name(completion_percent(c.present, c.listed)), c.name);
    }
}

TEST(Markers, CompletionDirectoryEntries)
{
    struct Case {
        std::string name;
        EntryType type;
        bool completion;
    };
    const Case cases[] = {
        {"[075%]-[-all.files.CRC.ok-]", EntryType::directory, true},
        {"[075%]-[-all.files.CRC.ok-]", EntryType::unknown, true},
        {"[075%]-[-all.files.CRC.ok-]", EntryType::regular, false},
        {"[075%]-[-all.files.CRC.ok-]", EntryType::other, false},
        {"[xyz!]-[-all.files.CRC.ok-]", EntryType::directory,
         true}, // the percentage is not examined
        {"(075%]-[-all.files.CRC.ok-]", EntryType::directory, false},
        {"[075%]-[-all.files.CRC.ok-]x", EntryType::directory, false},
        {"[75%]-[-all.files.CRC.ok-]", EntryType::directory, false},
        {"[075%]-[-ALL.files.CRC.ok-]", EntryType::directory, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(is_completion_dir_entry(c.name, c.type), c.completion) << c.name;
}

// Upload times may be anywhere in time_t's range; the difference saturates, never overflows.
TEST(Books, MillisecondsSinceFarTimes)
{
    const struct timespec now = {1700000000, 500000000};
    const long long far = 1000000000000LL;
    EXPECT_EQ(milliseconds_since({1699999999, 0}, now), 1500);
    EXPECT_EQ(milliseconds_since({1700000001, 0}, now), -500);
    EXPECT_EQ(milliseconds_since({-(1LL << 62), 0}, now), far);
    EXPECT_EQ(milliseconds_since({std::numeric_limits<time_t>::min(), 0}, now), far);
    EXPECT_EQ(milliseconds_since({std::numeric_limits<time_t>::max(), 999999999}, now), -far);
}

} // namespace
} // namespace zantra
