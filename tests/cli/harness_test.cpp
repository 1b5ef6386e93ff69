// The harness itself: the environment every child gets, so that the suite's reruns under
// another environment really run under it.

#include "harness.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace zantra_cli
{
namespace
{

struct EnvironmentRow {
    const char* what;
    std::vector<std::string> suite_env;
    std::vector<std::string> case_env;
    std::vector<std::string> expected;
};

TEST(ChildEnvironment, LaterSettingsReplaceEarlierOnes)
{
    const std::vector<EnvironmentRow> rows = {
        {"fixed settings alone", {}, {}, {"TZ=UTC", "LC_ALL=C", "PATH=/usr/bin:/bin"}},
        {"suite adds a name",
         {"POSIXLY_CORRECT=1"},
         {},
         {"TZ=UTC", "LC_ALL=C", "PATH=/usr/bin:/bin", "POSIXLY_CORRECT=1"}},
        {"suite replaces the locale",
         {"LC_ALL=C.UTF-8", "LANG=C.UTF-8"},
         {},
         {"TZ=UTC", "PATH=/usr/bin:/bin", "LC_ALL=C.UTF-8", "LANG=C.UTF-8"}},
        {"case replaces the suite",
         {"LC_ALL=C.UTF-8"},
         {"LC_ALL=POSIX", "TZ=EST5"},
         {"PATH=/usr/bin:/bin", "LC_ALL=POSIX", "TZ=EST5"}},
        {"a name that prefixes another is another name",
         {"LC=x"},
         {},
         {"TZ=UTC", "LC_ALL=C", "PATH=/usr/bin:/bin", "LC=x"}},
        {"an empty value is a value", {"TZ="}, {}, {"LC_ALL=C", "PATH=/usr/bin:/bin", "TZ="}},
    };
    for (const EnvironmentRow& row : rows)
        EXPECT_EQ(row.expected, child_environment(row.suite_env, row.case_env)) << row.what;
}

TEST(ChildEnvironment, WordWithoutEqualsSignFails)
{
    EXPECT_NONFATAL_FAILURE((void)child_environment({"POSIXLY_CORRECT"}, {}), "NAME=value");
    EXPECT_NONFATAL_FAILURE((void)child_environment({}, {"=1"}), "NAME=value");
}

} // namespace
} // namespace zantra_cli
