#include "checksum/crc32.h"

#include <array>

namespace zantra
{
namespace
{

constexpr std::uint32_t POLYNOMIAL = 0xEDB88320u;

// Entry n is n put through eight shift-and-conditionally-XOR steps.
constexpr std::array<std::uint32_t, 256> make_table()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t value = n;
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1u) != 0 ? (value >> 1) ^ POLYNOMIAL : value >> 1;
        table[n] = value;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> CRC_TABLE = make_table();

} // namespace

std::uint32_t crc32_feed_bytewise(std::uint32_t crc, const void* bytes, std::size_t length) noexcept
{
    if (bytes == nullptr)
        return crc;
    const auto* p = static_cast<const unsigned char*>(bytes);
    for (std::size_t i = 0; i < length; ++i)
        crc = CRC_TABLE[(crc ^ p[i]) & 0xFFu] ^ (crc >> 8);
    return crc;
}

std::uint32_t crc32_feed(std::uint32_t crc, const void* bytes, std::size_t length) noexcept
{
    return crc32_feed_bytewise(crc, bytes, length);
}

} // namespace zantra
