// Runs the black-box tests that GoogleTest's flags select, less those the environment's
// ZANTRA_TEST_LEAVE_OUT names (GoogleTest patterns separated by ':', such as
// "Cases/WriteFault.Run/ListWriteFailsInTheHeader"). A run that selects no test fails, so that
// a filter naming no table cannot pass.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    const char* leave_out = std::getenv("ZANTRA_TEST_LEAVE_OUT");
    if (leave_out != nullptr && *leave_out != '\0') {
        const std::string filter = GTEST_FLAG_GET(filter);
        GTEST_FLAG_SET(filter,
                       filter + (filter.find('-') == std::string::npos ? "-" : ":") + leave_out);
    }
    const int status = RUN_ALL_TESTS();
    if (status == 0 && !GTEST_FLAG_GET(list_tests) &&
        testing::UnitTest::GetInstance()->test_to_run_count() == 0) {
        std::fprintf(stderr, "no test matches the filter \"%s\"\n", GTEST_FLAG_GET(filter).c_str());
        return 1;
    }
    return status;
}
