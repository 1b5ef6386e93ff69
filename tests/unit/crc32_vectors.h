// Known CRC-32 values, checked against the engine's entry points and against every variant.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zantra
{

struct Crc32Vector {
    std::string text;
    std::uint32_t crc;
};

inline const std::vector<Crc32Vector> CRC32_VECTORS = {
    {"", 0x00000000u},
    {"a", 0xE8B7BE43u},
    {"abc", 0x352441C2u},
    {"123456789", 0xCBF43926u},
    {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
    {std::string("\xFF\xFF\xFF\xFF", 4), 0xFFFFFFFFu}, // an ordinary value, not "unreadable"
    {std::string(1000, '\0'), 0x060B1780u},
};

} // namespace zantra
