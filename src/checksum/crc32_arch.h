// What the portable CRC-32 code and the per-architecture folds share. Not for callers of the
// engine: they use crc32_feed.
#pragma once

#include "checksum/crc32_variants.h"

#include <cstddef>
#include <cstdint>
#include <span>

// Which architecture's folds are compiled in. Building with ZANTRA_CRC32_PORTABLE_ONLY defined
// leaves them out, to measure the portable fold in the whole program.
#if defined(__x86_64__) && !defined(ZANTRA_CRC32_PORTABLE_ONLY)
#define ZANTRA_CRC32_X86 1
#elif defined(__aarch64__) && !defined(ZANTRA_CRC32_PORTABLE_ONLY)
#define ZANTRA_CRC32_ARM 1
#endif

namespace zantra
{

// The reflected CRC-32 polynomial: bit 31 - k holds the coefficient of x^k, x^32 implied.
inline constexpr std::uint32_t CRC32_POLYNOMIAL = 0xEDB88320u;

// The product a * b modulo the polynomial, both operands and the result in the register's
// reflected form (bit 31 is the coefficient of x^0, bit 0 that of x^31).
[[nodiscard]] constexpr std::uint32_t crc32_multiply_mod_p(std::uint32_t a,
                                                           std::uint32_t b) noexcept
{
    std::uint32_t product = 0;
    for (std::uint32_t bit = 1u << 31; bit != 0; bit >>= 1) {
        if ((a & bit) != 0)
            product ^= b;
        b = (b & 1u) != 0 ? (b >> 1) ^ CRC32_POLYNOMIAL : b >> 1; // b *= x
    }
    return product;
}

// x^n modulo the polynomial, in the register's reflected form.
[[nodiscard]] constexpr std::uint32_t crc32_x_pow_mod(std::uint64_t n) noexcept
{
    std::uint32_t result = 1u << 31; // 1
    std::uint32_t square = 1u << 30; // x, then x^2, x^4, ...
    for (; n != 0; n >>= 1) {
        if ((n & 1u) != 0)
            result = crc32_multiply_mod_p(result, square);
        square = crc32_multiply_mod_p(square, square);
    }
    return result;
}

// Slicing-by-16 fold with the contract of crc32_feed: the portable fast fold, with which the
// faster ones also finish their short ends.
[[nodiscard]] std::uint32_t crc32_feed_slicing16(std::uint32_t crc, const void* bytes,
                                                 std::size_t length) noexcept;

// A variant of this architecture with the test that tells whether the running CPU and its
// operating system can execute it.
struct Crc32Candidate {
    const char* name;
    Crc32Fold fold;
    bool (*cpu_has)() noexcept;
};

// This architecture's accelerated variants, slowest first; empty where there are none.
[[nodiscard]] std::span<const Crc32Candidate> crc32_arch_candidates() noexcept;

} // namespace zantra
