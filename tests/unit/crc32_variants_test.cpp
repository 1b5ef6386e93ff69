// Every CRC-32 variant compiled in, run against the byte-wise reference from one table of cases.

#include "checksum/crc32.h"
#include "checksum/crc32_arch.h"
#include "checksum/crc32_variants.h"

#include "crc32_vectors.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace zantra
{

// Names the variant in GoogleTest's messages, where it would otherwise print the record's bytes.
void PrintTo(const Crc32Variant& variant, std::ostream* out);

void PrintTo(const Crc32Variant& variant, std::ostream* out)
{
    *out << variant.name;
}

namespace
{

// Large enough for runs of a few MiB at any start offset below 64.
constexpr std::size_t POOL_SIZE = (4u << 20) + 64;

const std::vector<unsigned char>& random_pool()
{
    static const std::vector<unsigned char> pool = [] {
        std::mt19937_64 generator(0x5eed);
        std::vector<unsigned char> bytes(POOL_SIZE);
        for (auto& b : bytes)
            b = static_cast<unsigned char>(generator() >> 56);
        return bytes;
    }();
    return pool;
}

// One run of the pool: where it starts, how long it is, the register it is fed into, and where
// it is cut when fed in two pieces.
struct RunCase {
    std::size_t offset;
    std::size_t length;
    std::uint32_t initial;
    std::size_t split;
};

// Every length up to 1100 (all the short ends and thresholds of the folds), then lengths up to
// 4 MiB; offsets below 64 so that every vector alignment is met; random registers and cuts.
std::vector<RunCase> make_cases()
{
    std::mt19937_64 generator(20261209);
    std::uniform_int_distribution<std::size_t> offset_of(0, 63);
    std::uniform_int_distribution<std::uint32_t> register_of;
    std::vector<std::size_t> lengths;
    for (std::size_t length = 0; length <= 1100; ++length)
        lengths.push_back(length);
    std::uniform_int_distribution<std::size_t> medium(1101, 70000);
    std::uniform_int_distribution<std::size_t> large(70001, 4u << 20);
    for (int i = 0; i < 40; ++i)
        lengths.push_back(medium(generator));
    for (int i = 0; i < 6; ++i)
        lengths.push_back(large(generator));
    lengths.push_back(4u << 20);

    std::vector<RunCase> cases;
    for (std::size_t length : lengths) {
        std::uniform_int_distribution<std::size_t> split_of(0, length);
        cases.push_back(
            {offset_of(generator), length, register_of(generator), split_of(generator)});
    }
    return cases;
}

const std::vector<RunCase>& run_cases()
{
    static const std::vector<RunCase> cases = make_cases();
    return cases;
}

// The reference register for each case, computed once for all variants.
const std::vector<std::uint32_t>& reference_results()
{
    static const std::vector<std::uint32_t> results = [] {
        std::vector<std::uint32_t> crcs;
        for (const RunCase& c : run_cases())
            crcs.push_back(
                crc32_feed_bytewise(c.initial, random_pool().data() + c.offset, c.length));
        return crcs;
    }();
    return results;
}

class Crc32Variants : public testing::TestWithParam<Crc32Variant>
{
  protected:
    void SetUp() override
    {
        if (!GetParam().supported)
            GTEST_SKIP() << "this CPU cannot run the " << GetParam().name << " variant";
    }
};

TEST_P(Crc32Variants, KnownVectors)
{
    const Crc32Fold fold = GetParam().fold;
    for (const Crc32Vector& v : CRC32_VECTORS)
        EXPECT_EQ(fold(CRC32_PRESET, v.text.data(), v.text.size()) ^ CRC32_PRESET, v.crc)
            << "length " << v.text.size();
}

TEST_P(Crc32Variants, LeavesRegisterAloneForNothing)
{
    const Crc32Fold fold = GetParam().fold;
    EXPECT_EQ(fold(0x12345678u, nullptr, 0), 0x12345678u);
    EXPECT_EQ(fold(0x12345678u, nullptr, 4096), 0x12345678u);
    EXPECT_EQ(fold(0x9ABCDEF0u, random_pool().data(), 0), 0x9ABCDEF0u);
}

TEST_P(Crc32Variants, AgreesWithReferenceInOnePiece)
{
    const Crc32Fold fold = GetParam().fold;
    const std::vector<RunCase>& cases = run_cases();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const RunCase& c = cases[i];
        ASSERT_EQ(fold(c.initial, random_pool().data() + c.offset, c.length),
                  reference_results()[i])
            << "offset " << c.offset << " length " << c.length << " register " << c.initial;
    }
}

TEST_P(Crc32Variants, AgreesWithReferenceInTwoPieces)
{
    const Crc32Fold fold = GetParam().fold;
    const std::vector<RunCase>& cases = run_cases();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const RunCase& c = cases[i];
        const unsigned char* start = random_pool().data() + c.offset;
        const std::uint32_t head = fold(c.initial, start, c.split);
        ASSERT_EQ(fold(head, start + c.split, c.length - c.split), reference_results()[i])
            << "offset " << c.offset << " length " << c.length << " split " << c.split;
    }
}

// The name of a variant as a test name: letters and digits only.
std::string test_name(const testing::TestParamInfo<Crc32Variant>& info)
{
    std::string name = info.param.name;
    for (char& ch : name)
        if (ch == '-')
            ch = '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(AllCompiled, Crc32Variants, testing::ValuesIn(crc32_compiled_variants()),
                         test_name);

TEST(Crc32Dispatch, ChoosesTheLastSupportedVariantAndSaysWhichRan)
{
    const std::vector<Crc32Variant> supported = crc32_supported_variants();
    ASSERT_GE(supported.size(), 2u);
    EXPECT_STREQ(supported.front().name, "bytewise");
    const Crc32Variant chosen = crc32_chosen_variant();
    EXPECT_STREQ(chosen.name, supported.back().name);
    EXPECT_EQ(chosen.fold, supported.back().fold);
    for (const Crc32Variant& variant : supported)
        std::printf("CRC-32 variant supported: %s%s\n", variant.name,
                    variant.fold == chosen.fold ? " (chosen)" : "");
    const std::vector<unsigned char>& pool = random_pool();
    EXPECT_EQ(crc32_feed(0x1234u, pool.data() + 3, 100000),
              crc32_feed_bytewise(0x1234u, pool.data() + 3, 100000));
}

// A one bit followed by zero bytes: byte 0 holding 1 << b is x^(8n - 1 - b) over an n-byte run,
// and the register of a run M fed from 0 is M * x^32 mod P. So the reference fold gives x^k
// mod P for every k >= 32 without the code under test.
TEST(Crc32Algebra, PowersOfXMatchTheReferenceFold)
{
    for (std::uint64_t k = 32; k < 4200; k += 1 + k / 64) {
        const std::uint64_t bits = k - 32 + 1; // a run of n bytes with 8n - 1 - b = k - 32
        const std::size_t n = static_cast<std::size_t>((bits + 7) / 8);
        const auto b = static_cast<unsigned>(8 * n - 1 - (k - 32));
        std::vector<unsigned char> run(n, 0);
        run[0] = static_cast<unsigned char>(1u << b);
        EXPECT_EQ(crc32_x_pow_mod(k), crc32_feed_bytewise(0, run.data(), run.size())) << k;
    }
}

// Feeding A then B equals A's register moved on by |B| bytes plus B fed from 0.
TEST(Crc32Algebra, MultiplyModPJoinsTwoRuns)
{
    const std::vector<unsigned char>& pool = random_pool();
    std::mt19937 generator(99);
    std::uniform_int_distribution<std::size_t> length_of(0, 5000);
    for (int round = 0; round < 50; ++round) {
        const std::size_t a = length_of(generator);
        const std::size_t b = length_of(generator);
        const std::uint32_t whole = crc32_feed_bytewise(CRC32_PRESET, pool.data(), a + b);
        const std::uint32_t first = crc32_feed_bytewise(CRC32_PRESET, pool.data(), a);
        const std::uint32_t second = crc32_feed_bytewise(0, pool.data() + a, b);
        EXPECT_EQ(crc32_multiply_mod_p(first, crc32_x_pow_mod(8 * std::uint64_t{b})) ^ second,
                  whole)
            << a << " + " << b;
    }
}

} // namespace
} // namespace zantra
