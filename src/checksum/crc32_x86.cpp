// CRC-32 on x86-64 by folding with carry-less multiplication: PCLMULQDQ on 128-bit lanes, and
// VPCLMULQDQ on 256-bit (AVX2) or 512-bit (AVX-512) vectors where the CPU and the operating
// system allow them. SSE4.2's crc32 instruction is no use here: it computes CRC-32C, whose
// polynomial differs.
//
// A 16-byte block read little-endian is a polynomial of degree 127 whose highest coefficient is
// bit 0 of its first byte. Its share of the CRC does not change when it is replaced by anything
// congruent modulo the polynomial, so a block B followed by `d` more bits can be moved those
// `d` bits on as B * x^d mod P and XORed into the block found there. With B split into a low
// half L (the higher powers) and a high half H, B * x^d = L * x^(d+64) + H * x^d; each half is
// multiplied by a 32-bit remainder, and the 96-bit products land in the 128-bit register in
// place. Several blocks are folded side by side so that the multiplications overlap. The last
// block and the few bytes after it go through the tables, which turns a 128-bit remainder into
// the 32-bit register.

#include "checksum/crc32_arch.h"

#if defined(ZANTRA_CRC32_X86)

#include <array>
#include <cpuid.h>
#include <cstring>
#include <immintrin.h>

#define ZANTRA_TARGET_PCLMUL __attribute__((target("pclmul")))
#define ZANTRA_TARGET_VPCLMUL_256 __attribute__((target("avx2,vpclmulqdq,pclmul")))
#define ZANTRA_TARGET_VPCLMUL_512                                                                  \
    __attribute__((target("avx512f,avx512vl,avx512bw,avx2,vpclmulqdq,pclmul")))

namespace zantra
{
namespace
{

// The two multipliers that move a 16-byte block `bits` further along the message: the low half
// is multiplied by x^(bits+63) and the high half by x^(bits-1), the reflected carry-less
// product supplying the missing x. Each 32-bit remainder sits in the upper half of its 64-bit
// operand, as the reflected form of a polynomial of degree below 64 requires.
struct FoldMultipliers {
    std::uint64_t low;
    std::uint64_t high;
};

constexpr FoldMultipliers fold_multipliers(unsigned bits)
{
    return {std::uint64_t{crc32_x_pow_mod(bits + 63u)} << 32,
            std::uint64_t{crc32_x_pow_mod(bits - 1u)} << 32};
}

// Multipliers that fold block i of `count` blocks of `bits` bits onto the last of them.
template <std::size_t count>
constexpr std::array<FoldMultipliers, count - 1> onto_last(unsigned bits)
{
    std::array<FoldMultipliers, count - 1> multipliers{};
    for (std::size_t i = 0; i + 1 < count; ++i)
        multipliers[i] = fold_multipliers(static_cast<unsigned>(count - 1 - i) * bits);
    return multipliers;
}

// 128-bit lanes: eight blocks folded side by side, 128 bytes a step.
constexpr std::size_t LANES_128 = 8;
constexpr FoldMultipliers STEP_128 = fold_multipliers(128 * LANES_128);
constexpr FoldMultipliers NEXT_128 = fold_multipliers(128);
constexpr auto COMBINE_128 = onto_last<LANES_128>(128);

// 256-bit vectors: four side by side, 128 bytes a step.
constexpr std::size_t LANES_256 = 4;
constexpr FoldMultipliers STEP_256 = fold_multipliers(256 * LANES_256);
constexpr FoldMultipliers NEXT_256 = fold_multipliers(256);
constexpr auto COMBINE_256 = onto_last<LANES_256>(256);

// 512-bit vectors: four side by side, 256 bytes a step.
constexpr std::size_t LANES_512 = 4;
constexpr FoldMultipliers STEP_512 = fold_multipliers(512 * LANES_512);
constexpr FoldMultipliers NEXT_512 = fold_multipliers(512);
constexpr auto COMBINE_512 = onto_last<LANES_512>(512);
constexpr auto QUARTERS_512 = onto_last<4>(128);

// Shorter runs than these are folded by the next narrower variant.
constexpr std::size_t MIN_LENGTH_128 = 64;
constexpr std::size_t MIN_LENGTH_256 = 256;
constexpr std::size_t MIN_LENGTH_512 = 512;

ZANTRA_TARGET_PCLMUL inline __m128i load_128(const unsigned char* p)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

ZANTRA_TARGET_PCLMUL inline __m128i multipliers_128(FoldMultipliers m)
{
    return _mm_set_epi64x(static_cast<long long>(m.high), static_cast<long long>(m.low));
}

// `x` moved on by the distance `k` was made for.
ZANTRA_TARGET_PCLMUL inline __m128i fold_128(__m128i x, __m128i k)
{
    return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

// Folds the 16-byte blocks of the `length` bytes at `p` onto `x`, and returns the register for
// `x` followed by those bytes.
ZANTRA_TARGET_PCLMUL inline std::uint32_t finish_128(__m128i x, const unsigned char* p,
                                                     std::size_t length)
{
    const __m128i next = multipliers_128(NEXT_128);
    for (; length >= 16; p += 16, length -= 16)
        x = _mm_xor_si128(fold_128(x, next), load_128(p));
    alignas(16) unsigned char last[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(last), x);
    return crc32_feed_slicing16(crc32_feed_slicing16(0, last, sizeof last), p, length);
}

// The first 16 bytes at `p` with the register XORed into their first four.
ZANTRA_TARGET_PCLMUL inline __m128i first_128(std::uint32_t crc, const unsigned char* p)
{
    return _mm_xor_si128(load_128(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
}

ZANTRA_TARGET_PCLMUL std::uint32_t crc32_feed_pclmul(std::uint32_t crc, const void* bytes,
                                                     std::size_t length) noexcept
{
    if (bytes == nullptr || length < MIN_LENGTH_128)
        return crc32_feed_slicing16(crc, bytes, length);
    const auto* p = static_cast<const unsigned char*>(bytes);
    if (length < 16 * LANES_128)
        return finish_128(first_128(crc, p), p + 16, length - 16);

    __m128i x[LANES_128];
    x[0] = first_128(crc, p);
    for (std::size_t i = 1; i < LANES_128; ++i)
        x[i] = load_128(p + 16 * i);
    p += 16 * LANES_128;
    length -= 16 * LANES_128;
    const __m128i step = multipliers_128(STEP_128);
    for (; length >= 16 * LANES_128; p += 16 * LANES_128, length -= 16 * LANES_128)
        for (std::size_t i = 0; i < LANES_128; ++i)
            x[i] = _mm_xor_si128(fold_128(x[i], step), load_128(p + 16 * i));

    __m128i sum = x[LANES_128 - 1];
    for (std::size_t i = 0; i + 1 < LANES_128; ++i)
        sum = _mm_xor_si128(sum, fold_128(x[i], multipliers_128(COMBINE_128[i])));
    return finish_128(sum, p, length);
}

ZANTRA_TARGET_VPCLMUL_256 inline __m256i load_256(const unsigned char* p)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

ZANTRA_TARGET_VPCLMUL_256 inline __m256i multipliers_256(FoldMultipliers m)
{
    const auto low = static_cast<long long>(m.low);
    const auto high = static_cast<long long>(m.high);
    return _mm256_set_epi64x(high, low, high, low);
}

ZANTRA_TARGET_VPCLMUL_256 inline __m256i fold_256(__m256i x, __m256i k)
{
    return _mm256_xor_si256(_mm256_clmulepi64_epi128(x, k, 0x00),
                            _mm256_clmulepi64_epi128(x, k, 0x11));
}

ZANTRA_TARGET_VPCLMUL_256 std::uint32_t crc32_feed_vpclmul_256(std::uint32_t crc, const void* bytes,
                                                               std::size_t length) noexcept
{
    if (bytes == nullptr || length < MIN_LENGTH_256)
        return crc32_feed_pclmul(crc, bytes, length);
    const auto* p = static_cast<const unsigned char*>(bytes);

    __m256i x[LANES_256];
    x[0] = _mm256_xor_si256(load_256(p),
                            _mm256_zextsi128_si256(_mm_cvtsi32_si128(static_cast<int>(crc))));
    for (std::size_t i = 1; i < LANES_256; ++i)
        x[i] = load_256(p + 32 * i);
    p += 32 * LANES_256;
    length -= 32 * LANES_256;
    const __m256i step = multipliers_256(STEP_256);
    for (; length >= 32 * LANES_256; p += 32 * LANES_256, length -= 32 * LANES_256)
        for (std::size_t i = 0; i < LANES_256; ++i)
            x[i] = _mm256_xor_si256(fold_256(x[i], step), load_256(p + 32 * i));

    __m256i sum = x[LANES_256 - 1];
    for (std::size_t i = 0; i + 1 < LANES_256; ++i)
        sum = _mm256_xor_si256(sum, fold_256(x[i], multipliers_256(COMBINE_256[i])));
    const __m256i next = multipliers_256(NEXT_256);
    for (; length >= 32; p += 32, length -= 32)
        sum = _mm256_xor_si256(fold_256(sum, next), load_256(p));

    const __m128i half =
        _mm_xor_si128(_mm256_extracti128_si256(sum, 1),
                      fold_128(_mm256_castsi256_si128(sum), multipliers_128(NEXT_128)));
    return finish_128(half, p, length);
}

ZANTRA_TARGET_VPCLMUL_512 inline __m512i load_512(const unsigned char* p)
{
    return _mm512_loadu_si512(p);
}

ZANTRA_TARGET_VPCLMUL_512 inline __m512i multipliers_512(FoldMultipliers m)
{
    const auto low = static_cast<long long>(m.low);
    const auto high = static_cast<long long>(m.high);
    return _mm512_set_epi64(high, low, high, low, high, low, high, low);
}

// `x` moved on by the distance `k` was made for, XORed with `data`.
ZANTRA_TARGET_VPCLMUL_512 inline __m512i fold_512(__m512i x, __m512i k, __m512i data)
{
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00),
                                     _mm512_clmulepi64_epi128(x, k, 0x11), data, 0x96);
}

// 128-bit quarter `n` of `x`. The zero-masked extraction, which means the same with a full
// mask, keeps g++ 12 from warning about the undefined vector in its unmasked form (GCC PR 105593).
template <int n> ZANTRA_TARGET_VPCLMUL_512 inline __m128i quarter_512(__m512i x)
{
    return _mm512_maskz_extracti32x4_epi32(0xF, x, n);
}

ZANTRA_TARGET_VPCLMUL_512 std::uint32_t crc32_feed_vpclmul_512(std::uint32_t crc, const void* bytes,
                                                               std::size_t length) noexcept
{
    if (bytes == nullptr || length < MIN_LENGTH_512)
        return crc32_feed_vpclmul_256(crc, bytes, length);
    const auto* p = static_cast<const unsigned char*>(bytes);

    // Loads that straddle two cache lines cost a fifth of the speed, so the run is read from the
    // cache line it starts in, the bytes before its start masked to zero: leading zero bytes
    // leave a CRC unchanged once the register is folded into the first bytes of the run.
    const auto head = static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(p) & 63u);
    p -= head;
    length += head;
    alignas(64) unsigned char seed[128] = {};
    std::memcpy(seed + head, &crc, sizeof crc); // x86 is little-endian, as the register's bytes
    __m512i x[LANES_512];
    x[0] = _mm512_xor_si512(_mm512_maskz_loadu_epi8(~std::uint64_t{0} << head, p), load_512(seed));
    x[1] = _mm512_xor_si512(load_512(p + 64), load_512(seed + 64));
    for (std::size_t i = 2; i < LANES_512; ++i)
        x[i] = load_512(p + 64 * i);
    p += 64 * LANES_512;
    length -= 64 * LANES_512;
    const __m512i step = multipliers_512(STEP_512);
    for (; length >= 64 * LANES_512; p += 64 * LANES_512, length -= 64 * LANES_512)
        for (std::size_t i = 0; i < LANES_512; ++i)
            x[i] = fold_512(x[i], step, load_512(p + 64 * i));

    __m512i sum = x[LANES_512 - 1];
    for (std::size_t i = 0; i + 1 < LANES_512; ++i)
        sum = fold_512(x[i], multipliers_512(COMBINE_512[i]), sum);
    const __m512i next = multipliers_512(NEXT_512);
    for (; length >= 64; p += 64, length -= 64)
        sum = fold_512(sum, next, load_512(p));

    __m128i quarter = quarter_512<3>(sum);
    quarter =
        _mm_xor_si128(quarter, fold_128(quarter_512<0>(sum), multipliers_128(QUARTERS_512[0])));
    quarter =
        _mm_xor_si128(quarter, fold_128(quarter_512<1>(sum), multipliers_128(QUARTERS_512[1])));
    quarter =
        _mm_xor_si128(quarter, fold_128(quarter_512<2>(sum), multipliers_128(QUARTERS_512[2])));
    return finish_128(quarter, p, length);
}

// What CPUID and XGETBV report, read once.
struct X86Features {
    bool pclmul = false;
    bool vpclmul_256 = false; // AVX2 and VPCLMULQDQ, YMM state enabled by the OS
    bool vpclmul_512 = false; // AVX-512 F/VL/BW and VPCLMULQDQ, ZMM state enabled by the OS
};

// The extended control register 0: which register states the operating system saves.
std::uint64_t read_xcr0() noexcept
{
    std::uint32_t low = 0;
    std::uint32_t high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (std::uint64_t{high} << 32) | low;
}

X86Features detect_features() noexcept
{
    constexpr unsigned LEAF1_ECX_PCLMUL = 1u << 1, LEAF1_ECX_OSXSAVE = 1u << 27,
                       LEAF1_ECX_AVX = 1u << 28;
    constexpr unsigned LEAF7_EBX_AVX2 = 1u << 5, LEAF7_EBX_AVX512F = 1u << 16,
                       LEAF7_EBX_AVX512VL = 1u << 31, LEAF7_EBX_AVX512BW = 1u << 30,
                       LEAF7_ECX_VPCLMULQDQ = 1u << 10;
    constexpr std::uint64_t XCR0_SSE_YMM = 0x6, XCR0_OPMASK_ZMM = 0xE0;

    X86Features features;
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0)
        return features;
    features.pclmul = (c & LEAF1_ECX_PCLMUL) != 0;
    if ((c & LEAF1_ECX_OSXSAVE) == 0 || (c & LEAF1_ECX_AVX) == 0)
        return features;
    const std::uint64_t xcr0 = read_xcr0();
    unsigned b7 = 0, c7 = 0;
    if (__get_cpuid_count(7, 0, &a, &b7, &c7, &d) == 0)
        return features;
    const bool vpclmul = features.pclmul && (c7 & LEAF7_ECX_VPCLMULQDQ) != 0;
    const bool ymm = (xcr0 & XCR0_SSE_YMM) == XCR0_SSE_YMM;
    const bool zmm = ymm && (xcr0 & XCR0_OPMASK_ZMM) == XCR0_OPMASK_ZMM;
    features.vpclmul_256 = vpclmul && ymm && (b7 & LEAF7_EBX_AVX2) != 0;
    features.vpclmul_512 = features.vpclmul_256 && zmm && (b7 & LEAF7_EBX_AVX512F) != 0 &&
                           (b7 & LEAF7_EBX_AVX512VL) != 0 && (b7 & LEAF7_EBX_AVX512BW) != 0;
    return features;
}

const X86Features& features() noexcept
{
    static const X86Features detected = detect_features();
    return detected;
}

bool has_pclmul() noexcept
{
    return features().pclmul;
}

bool has_vpclmul_256() noexcept
{
    return features().vpclmul_256;
}

bool has_vpclmul_512() noexcept
{
    return features().vpclmul_512;
}

constexpr Crc32Candidate X86_CANDIDATES[] = {
    {"pclmul", crc32_feed_pclmul, has_pclmul},
    {"vpclmul-avx2", crc32_feed_vpclmul_256, has_vpclmul_256},
    {"vpclmul-avx512", crc32_feed_vpclmul_512, has_vpclmul_512},
};

} // namespace

std::span<const Crc32Candidate> crc32_arch_candidates() noexcept
{
    return X86_CANDIDATES;
}

} // namespace zantra

#endif
