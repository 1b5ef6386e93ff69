#include "ops/operations.h"
namespace zantra
{
int run_test_files(const RunOptions&)
{
    return 1;
}
int run_test_list(const RunOptions&)
{
    return 1;
}
int run_count_missing(const RunOptions&)
{
    return 1;
}
} // namespace zantra
