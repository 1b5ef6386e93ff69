// CRC-32 on aarch64 with the ARMv8 CRC32 instructions, which use this CRC's polynomial (the
// CRC32C ones do not). One instruction folds eight bytes but waits for the one before, so long
// runs are cut into three stripes folded side by side, and the stripes' registers joined by
// multiplying each by the power of x that moves it past the stripes after it.

#include "checksum/crc32_arch.h"
#include "platform/platform.h"

#if defined(ZANTRA_CRC32_ARM)

#include <array>
#include <bit>
#include <cstring>

// clang's builtin takes the target attribute; its __crc32d needs CRC enabled for the whole file.
#if defined(__clang__)
#define ZANTRA_TARGET_CRC __attribute__((target("crc")))
#define ZANTRA_CRC32B __builtin_arm_crc32b
#define ZANTRA_CRC32D __builtin_arm_crc32d
#else
#define ZANTRA_TARGET_CRC __attribute__((target("+crc")))
#define ZANTRA_CRC32B __builtin_aarch64_crc32b
#define ZANTRA_CRC32D __builtin_aarch64_crc32x
#endif

namespace zantra
{
namespace
{

// Stripe length: long enough that joining three registers is cheap beside folding the stripes,
// short enough that runs of a few KiB are cut into stripes at all.
constexpr std::size_t STRIPE = 1024;

// Multiplying by a constant modulo the polynomial is linear, so it is four look-ups, one per
// byte of the register: entry [i][b] is (b << 8i) times the constant.
using MultiplyTables = std::array<std::array<std::uint32_t, 256>, 4>;

constexpr MultiplyTables make_multiply_tables(std::uint32_t factor)
{
    MultiplyTables tables{};
    for (std::uint32_t i = 0; i < 4; ++i)
        for (std::uint32_t b = 0; b < 256; ++b)
            tables[i][b] = crc32_multiply_mod_p(b << (8 * i), factor);
    return tables;
}

constexpr MultiplyTables PAST_ONE_STRIPE = make_multiply_tables(crc32_x_pow_mod(8 * STRIPE));
constexpr MultiplyTables PAST_TWO_STRIPES = make_multiply_tables(crc32_x_pow_mod(16 * STRIPE));

std::uint32_t multiply(const MultiplyTables& tables, std::uint32_t crc) noexcept
{
    return tables[0][crc & 0xFFu] ^ tables[1][(crc >> 8) & 0xFFu] ^ tables[2][(crc >> 16) & 0xFFu] ^
           tables[3][crc >> 24];
}

// The eight bytes at `p` as a little-endian number, the order the instruction takes them in.
std::uint64_t load_le64(const unsigned char* p) noexcept
{
    std::uint64_t value = 0;
    std::memcpy(&value, p, sizeof value);
    if constexpr (std::endian::native == std::endian::big)
        value = __builtin_bswap64(value);
    return value;
}

ZANTRA_TARGET_CRC std::uint32_t crc32_feed_armv8(std::uint32_t crc, const void* bytes,
                                                 std::size_t length) noexcept
{
    if (bytes == nullptr)
        return crc;
    const auto* p = static_cast<const unsigned char*>(bytes);
    for (; length > 0 && (reinterpret_cast<std::uintptr_t>(p) & 7u) != 0; ++p, --length)
        crc = ZANTRA_CRC32B(crc, *p);
    for (; length >= 32; p += 32, length -= 32) {
        crc = ZANTRA_CRC32D(crc, load_le64(p));
        crc = ZANTRA_CRC32D(crc, load_le64(p + 8));
        crc = ZANTRA_CRC32D(crc, load_le64(p + 16));
        crc = ZANTRA_CRC32D(crc, load_le64(p + 24));
    }
    for (; length >= 8; p += 8, length -= 8)
        crc = ZANTRA_CRC32D(crc, load_le64(p));
    for (; length > 0; ++p, --length)
        crc = ZANTRA_CRC32B(crc, *p);
    return crc;
}

ZANTRA_TARGET_CRC std::uint32_t crc32_feed_armv8_3way(std::uint32_t crc, const void* bytes,
                                                      std::size_t length) noexcept
{
    if (bytes == nullptr)
        return crc;
    const auto* p = static_cast<const unsigned char*>(bytes);
    for (; length > 0 && (reinterpret_cast<std::uintptr_t>(p) & 7u) != 0; ++p, --length)
        crc = ZANTRA_CRC32B(crc, *p);
    for (; length >= 3 * STRIPE; p += 3 * STRIPE, length -= 3 * STRIPE) {
        std::uint32_t first = crc;
        std::uint32_t second = 0;
        std::uint32_t third = 0;
        for (std::size_t i = 0; i < STRIPE; i += 8) {
            first = ZANTRA_CRC32D(first, load_le64(p + i));
            second = ZANTRA_CRC32D(second, load_le64(p + STRIPE + i));
            third = ZANTRA_CRC32D(third, load_le64(p + 2 * STRIPE + i));
        }
        crc = multiply(PAST_TWO_STRIPES, first) ^ multiply(PAST_ONE_STRIPE, second) ^ third;
    }
    return crc32_feed_armv8(crc, p, length);
}

// The AT_HWCAP bit of the CRC32 instructions, the same on Linux and FreeBSD.
constexpr unsigned long HWCAP_CRC32_BIT = 1ul << 7;

bool has_crc32_instructions() noexcept
{
    return (hardware_capabilities() & HWCAP_CRC32_BIT) != 0;
}

constexpr Crc32Candidate ARM_CANDIDATES[] = {
    {"armv8-crc32", crc32_feed_armv8, has_crc32_instructions},
    {"armv8-crc32-3way", crc32_feed_armv8_3way, has_crc32_instructions},
};

} // namespace

std::span<const Crc32Candidate> crc32_arch_candidates() noexcept
{
    return ARM_CANDIDATES;
}

} // namespace zantra

#endif
