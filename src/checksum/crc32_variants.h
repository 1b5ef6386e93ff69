// The interchangeable implementations behind crc32_feed, listed so that tests and benchmarks
// can run each one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zantra
{

// A fold with the contract of crc32_feed.
using Crc32Fold = std::uint32_t (*)(std::uint32_t crc, const void* bytes,
                                    std::size_t length) noexcept;

// One implementation of crc32_feed: a short name for reports, its fold, and whether the running
// CPU (and its operating system) can execute it.
struct Crc32Variant {
    const char* name = nullptr;
    Crc32Fold fold = nullptr;
    bool supported = false;
};

// Every variant compiled into this program, slowest first, the byte-wise reference first; the
// ones the running CPU cannot execute are listed with `supported` false.
[[nodiscard]] std::vector<Crc32Variant> crc32_compiled_variants();

// Every variant the running CPU can execute, slowest first, the byte-wise reference first.
[[nodiscard]] std::vector<Crc32Variant> crc32_supported_variants();

// The variant crc32_feed uses on the running CPU: the fastest one supported, chosen once.
[[nodiscard]] Crc32Variant crc32_chosen_variant() noexcept;

} // namespace zantra
