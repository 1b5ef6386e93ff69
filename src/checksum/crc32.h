// CRC-32 (IEEE 802.3, reflected polynomial 0xEDB88320) of byte runs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zantra
{

// The value that progress lines show for a file that could not be read.
inline constexpr std::uint32_t CRC_UNREADABLE = 0xFFFFFFFFu;

// Register preset and final XOR of the standard CRC-32.
inline constexpr std::uint32_t CRC32_PRESET = 0xFFFFFFFFu;

// Folds `length` bytes into the register `crc` and returns the new register. Applies neither
// the preset nor the final XOR; returns `crc` unchanged when `bytes` is null or `length` is 0.
// This is the one entry point every caller uses.
[[nodiscard]] std::uint32_t crc32_feed(std::uint32_t crc, const void* bytes,
                                       std::size_t length) noexcept;

// The byte-at-a-time 256-entry table fold: the reference every faster fold must agree with.
[[nodiscard]] std::uint32_t crc32_feed_bytewise(std::uint32_t crc, const void* bytes,
                                                std::size_t length) noexcept;

// The finished CRC-32 of a run A followed by a run B, from the finished CRC-32 of each and the
// length of B: the CRC of A shifted by B's length, then joined to B's. Cannot fail.
[[nodiscard]] std::uint32_t crc32_combine(std::uint32_t crc_a, std::uint32_t crc_b,
                                          std::uint64_t length_b) noexcept;

// Finished CRC-32 (preset and final XOR applied) of one buffer.
[[nodiscard]] inline std::uint32_t crc32_of_bytes(const void* bytes, std::size_t length) noexcept
{
    return crc32_feed(CRC32_PRESET, bytes, length) ^ CRC32_PRESET;
}

} // namespace zantra
