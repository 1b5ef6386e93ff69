// Names from a list against the marker paths made of them, and the completion directory's
// name. Properties: an accepted marker path is the listed name and the suffix, at most 255
// bytes, with no "/", no backslash and no NUL, and its name is neither empty, "." nor "..";
// every local name that fits is accepted; a completion directory name is 27 bytes of the
// template's form for any counts.

#include "fuzz_check.h"
#include "list/list_table.h"
#include "site/markers.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace zantra
{
namespace
{

void check_marker_path(std::string_view name, std::string_view suffix)
{
    const auto path = marker_path(name, suffix);
    const bool local =
        !name.empty() && name != "." && name != ".." && name.find('/') == std::string_view::npos &&
        name.find('\\') == std::string_view::npos && name.find('\0') == std::string_view::npos;
    FUZZ_CHECK(is_local_name(name) == local);
    FUZZ_CHECK(path.has_value() == (local && name.size() + suffix.size() <= MARKER_PATH_MAX));
    if (!path)
        return;
    FUZZ_CHECK(path->size() <= MARKER_PATH_MAX);
    FUZZ_CHECK(path->find('/') == std::string::npos);
    FUZZ_CHECK(path->find('\\') == std::string::npos);
    FUZZ_CHECK(path->find('\0') == std::string::npos);
    FUZZ_CHECK(*path == std::string(name) + std::string(suffix));
}

void check_completion_name(long long present, long long listed)
{
    const int percent = completion_percent(present, listed);
    FUZZ_CHECK(percent >= 0 && percent <= 100);
    if (listed > 0 && present >= 0 && present <= listed && present <= (1LL << 40))
        FUZZ_CHECK(percent == static_cast<int>(present * 100 / listed));
    const std::string name = completion_dir_name(percent);
    FUZZ_CHECK(name.size() == std::strlen(COMPLETION_TEMPLATE));
    FUZZ_CHECK(is_completion_dir_entry(name, EntryType::directory));
    FUZZ_CHECK(is_local_name(name));
}

} // namespace
} // namespace zantra

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view name(reinterpret_cast<const char*>(data), size);
    zantra::check_marker_path(name, zantra::MISSING_SUFFIX);
    zantra::check_marker_path(name, zantra::BAD_SUFFIX);
    if (size >= 16) {
        long long present = 0, listed = 0;
        std::memcpy(&present, data, sizeof present);
        std::memcpy(&listed, data + 8, sizeof listed);
        // Counts the operations can reach: a run lists at most a few thousand files.
        zantra::check_completion_name(present % 100000, listed % 100000);
    }
    return 0;
}
