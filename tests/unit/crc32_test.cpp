// The CRC-32 engine against known vectors and against zlib.

#include "checksum/crc32.h"
#include "checksum/file_checksum.h"
#include "harness.h"

#include "crc32_vectors.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

// zlib's own combination, with the offset width its header gives it here (on i686 with 64-bit
// file offsets, zlib.h turns the name crc32_combine into crc32_combine64, which would hide
// zantra's own under the same name).
namespace
{
uLong zlib_combine(uLong crc_a, uLong crc_b, std::int64_t length_b)
{
    return crc32_combine(crc_a, crc_b, length_b);
}
} // namespace
#undef crc32_combine

namespace zantra
{
namespace
{

std::uint32_t zlib_crc(const std::vector<unsigned char>& bytes)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes at most UINT_MAX bytes per call; the buffers here are far smaller.
    crc = crc32(crc, bytes.data(), static_cast<uInt>(bytes.size()));
    return static_cast<std::uint32_t>(crc);
}

std::vector<unsigned char> random_bytes(std::mt19937& generator, std::size_t length)
{
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<unsigned char> bytes(length);
    for (auto& b : bytes)
        b = static_cast<unsigned char>(byte(generator));
    return bytes;
}

TEST(Crc32, KnownVectors)
{
    for (const Crc32Vector& v : CRC32_VECTORS) {
        EXPECT_EQ(crc32_of_bytes(v.text.data(), v.text.size()), v.crc) << '"' << v.text << '"';
        EXPECT_EQ(crc32_feed_bytewise(CRC32_PRESET, v.text.data(), v.text.size()) ^ CRC32_PRESET,
                  v.crc);
    }
}

TEST(Crc32, FeedLeavesRegisterAloneForNothing)
{
    EXPECT_EQ(crc32_feed(0x12345678u, nullptr, 10), 0x12345678u);
    EXPECT_EQ(crc32_feed(0x12345678u, "abc", 0), 0x12345678u);
}

TEST(Crc32, AgreesWithZlibOnRandomBuffersFedInPieces)
{
    std::mt19937 generator(20261209);
    std::uniform_int_distribution<std::size_t> length_of(0, 70000);
    for (int round = 0; round < 200; ++round) {
        const auto bytes = random_bytes(generator, round < 64 ? static_cast<std::size_t>(round)
                                                              : length_of(generator));
        std::uniform_int_distribution<std::size_t> split_at(0, bytes.size());
        const std::size_t split = split_at(generator);
        std::uint32_t crc = crc32_feed(CRC32_PRESET, bytes.data(), split);
        crc = crc32_feed(crc, bytes.data() + split, bytes.size() - split);
        ASSERT_EQ(crc ^ CRC32_PRESET, zlib_crc(bytes)) << "length " << bytes.size();
    }
}

TEST(Crc32, CombineJoinsRandomSplitsAsZlibDoes)
{
    std::mt19937 generator(20261210);
    std::uniform_int_distribution<std::size_t> length_of(0, 70000);
    for (int round = 0; round < 200; ++round) {
        const auto bytes = random_bytes(generator, length_of(generator));
        std::uniform_int_distribution<std::size_t> split_at(0, bytes.size());
        const std::size_t split = split_at(generator);
        const std::size_t rest = bytes.size() - split;
        const std::uint32_t a = crc32_of_bytes(bytes.data(), split);
        const std::uint32_t b = crc32_of_bytes(bytes.data() + split, rest);
        const std::uint32_t joined = crc32_combine(a, b, rest);
        ASSERT_EQ(joined, zlib_crc(bytes)) << "split " << split << " of " << bytes.size();
        ASSERT_EQ(joined, zlib_combine(a, b, static_cast<std::int64_t>(rest)));
    }
    // Lengths of large files' pieces, beyond 32 bits too.
    for (const std::int64_t length : {std::int64_t{1} << 26, (std::int64_t{5} << 30) + 3}) {
        EXPECT_EQ(crc32_combine(0x12345678u, 0x9ABCDEF0u, static_cast<std::uint64_t>(length)),
                  zlib_combine(0x12345678u, 0x9ABCDEF0u, length))
            << length;
    }
}

TEST(Crc32OfFile, SizesAroundTheReadChunk)
{
    std::mt19937 generator(7);
    const std::size_t sizes[] = {
        0, 1, 9, READ_CHUNK - 1, READ_CHUNK, READ_CHUNK + 1, 2 * READ_CHUNK + 12345};
    for (std::size_t size : sizes) {
        const auto bytes = random_bytes(generator, size);
        const zantra_cli::ScratchFile file(std::string(bytes.begin(), bytes.end()));
        const auto crc = crc32_of_file(file.path);
        ASSERT_TRUE(crc.has_value()) << size;
        EXPECT_EQ(*crc, zlib_crc(bytes)) << size;
    }
}

TEST(Crc32OfFile, AllOnesIsAnOrdinaryValue)
{
    const zantra_cli::ScratchFile file(std::string(4, '\xFF'));
    const auto crc = crc32_of_file(file.path);
    ASSERT_TRUE(crc.has_value());
    EXPECT_EQ(*crc, CRC_UNREADABLE);
}

TEST(Crc32OfFile, UnreadableGivesNothingAndTheMessage)
{
    const std::string cases[] = {"/nonexistent/zantra/file", "/tmp", "/dev/null"};
    for (const std::string& path : cases) {
        testing::internal::CaptureStderr();
        const auto crc = crc32_of_file(path);
        const std::string message = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(crc.has_value()) << path;
        EXPECT_EQ(message, "\nFatal error: cannot read file: " + path + "\n");
    }
}

} // namespace
} // namespace zantra
