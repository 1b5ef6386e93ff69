// CRC-32, portable part: the 256-entry table fold that every other fold must agree with,
// slicing-by-16, and the choice of the fold that crc32_feed uses on the running CPU.

#include "checksum/crc32.h"

#include "checksum/crc32_arch.h"

#include <array>
#include <atomic>
#include <bit>
#include <cstring>

namespace zantra
{
namespace
{

using CrcTables = std::array<std::array<std::uint32_t, 256>, 16>;

// Table 0, entry n: n put through eight shift-and-conditionally-XOR steps, the CRC of the byte n.
// Table k, entry n: the CRC of the byte n followed by k zero bytes, which slicing-by-16 needs to
// fold sixteen bytes with sixteen independent look-ups.
constexpr CrcTables make_tables()
{
    CrcTables tables{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t value = n;
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1u) != 0 ? (value >> 1) ^ CRC32_POLYNOMIAL : value >> 1;
        tables[0][n] = value;
    }
    for (std::size_t k = 1; k < tables.size(); ++k)
        for (std::size_t n = 0; n < 256; ++n) {
            const std::uint32_t previous = tables[k - 1][n];
            tables[k][n] = (previous >> 8) ^ tables[0][previous & 0xFFu];
        }
    return tables;
}

constexpr CrcTables CRC_TABLES = make_tables();

// The four bytes at `p` as a little-endian number, whatever the byte order of the machine.
std::uint32_t load_le32(const unsigned char* p) noexcept
{
    std::uint32_t value = 0;
    std::memcpy(&value, p, sizeof value);
    if constexpr (std::endian::native == std::endian::big)
        value = ((value & 0xFFu) << 24) | ((value & 0xFF00u) << 8) | ((value >> 8) & 0xFF00u) |
                (value >> 24);
    return value;
}

// Table `k`, indexed by byte `shift / 8` of `word`.
std::uint32_t look_up(std::size_t k, std::uint32_t word, int shift) noexcept
{
    return CRC_TABLES[k][(word >> shift) & 0xFFu];
}

std::uint32_t crc32_feed_bytewise_raw(std::uint32_t crc, const unsigned char* p,
                                      std::size_t length) noexcept
{
    for (std::size_t i = 0; i < length; ++i)
        crc = CRC_TABLES[0][(crc ^ p[i]) & 0xFFu] ^ (crc >> 8);
    return crc;
}

// The fold crc32_feed uses on this CPU: the last supported variant of this architecture,
// else slicing-by-16.
Crc32Variant choose_variant() noexcept
{
    const std::span<const Crc32Candidate> candidates = crc32_arch_candidates();
    for (auto it = candidates.rbegin(); it != candidates.rend(); ++it)
        if (it->cpu_has())
            return {it->name, it->fold, true};
    return {"slicing16", crc32_feed_slicing16, true};
}

std::uint32_t choose_and_feed(std::uint32_t crc, const void* bytes, std::size_t length) noexcept;

// Starts out as the chooser, which replaces itself with the chosen fold on the first call.
std::atomic<Crc32Fold> chosen_fold{choose_and_feed};

std::uint32_t choose_and_feed(std::uint32_t crc, const void* bytes, std::size_t length) noexcept
{
    const Crc32Fold fold = choose_variant().fold;
    chosen_fold.store(fold, std::memory_order_relaxed);
    return fold(crc, bytes, length);
}

} // namespace

std::uint32_t crc32_feed_bytewise(std::uint32_t crc, const void* bytes, std::size_t length) noexcept
{
    if (bytes == nullptr)
        return crc;
    return crc32_feed_bytewise_raw(crc, static_cast<const unsigned char*>(bytes), length);
}

std::uint32_t crc32_feed_slicing16(std::uint32_t crc, const void* bytes,
                                   std::size_t length) noexcept
{
    if (bytes == nullptr)
        return crc;
    const auto* p = static_cast<const unsigned char*>(bytes);
    for (; length >= 16; p += 16, length -= 16) {
        const std::uint32_t a = load_le32(p) ^ crc;
        const std::uint32_t b = load_le32(p + 4);
        const std::uint32_t c = load_le32(p + 8);
        const std::uint32_t d = load_le32(p + 12);
        crc = look_up(15, a, 0) ^ look_up(14, a, 8) ^ look_up(13, a, 16) ^ look_up(12, a, 24) ^
              look_up(11, b, 0) ^ look_up(10, b, 8) ^ look_up(9, b, 16) ^ look_up(8, b, 24) ^
              look_up(7, c, 0) ^ look_up(6, c, 8) ^ look_up(5, c, 16) ^ look_up(4, c, 24) ^
              look_up(3, d, 0) ^ look_up(2, d, 8) ^ look_up(1, d, 16) ^ look_up(0, d, 24);
    }
    return crc32_feed_bytewise_raw(crc, p, length);
}

// Appending B's length in zero bits to A multiplies A's register by x^(8 * length) modulo the
// polynomial; the preset and final XOR cancel between the two finished values, so what is
// left is B's CRC added to the shifted A. A length beyond 2^61 bytes wraps, far past any file.
std::uint32_t crc32_combine(std::uint32_t crc_a, std::uint32_t crc_b,
                            std::uint64_t length_b) noexcept
{
    return crc32_multiply_mod_p(crc32_x_pow_mod(length_b * 8u), crc_a) ^ crc_b;
}

std::uint32_t crc32_feed(std::uint32_t crc, const void* bytes, std::size_t length) noexcept
{
    if (bytes == nullptr || length == 0)
        return crc;
    return chosen_fold.load(std::memory_order_relaxed)(crc, bytes, length);
}

std::vector<Crc32Variant> crc32_compiled_variants()
{
    std::vector<Crc32Variant> variants = {{"bytewise", crc32_feed_bytewise, true},
                                          {"slicing16", crc32_feed_slicing16, true}};
    for (const Crc32Candidate& candidate : crc32_arch_candidates())
        variants.push_back({candidate.name, candidate.fold, candidate.cpu_has()});
    return variants;
}

std::vector<Crc32Variant> crc32_supported_variants()
{
    std::vector<Crc32Variant> variants = crc32_compiled_variants();
    std::erase_if(variants, [](const Crc32Variant& variant) { return !variant.supported; });
    return variants;
}

Crc32Variant crc32_chosen_variant() noexcept
{
    return choose_variant();
}

#if !defined(ZANTRA_CRC32_X86) && !defined(ZANTRA_CRC32_ARM)
std::span<const Crc32Candidate> crc32_arch_candidates() noexcept
{
    return {};
}
#endif

} // namespace zantra
