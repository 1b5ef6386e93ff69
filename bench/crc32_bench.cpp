// Throughput of every CRC-32 variant the CPU supports, and of zlib's crc32 for comparison, over
// runs of 4 KiB, 1 MiB and 64 MiB. Figures only: nothing here judges them.

#include "checksum/crc32.h"
#include "checksum/crc32_variants.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <string>

namespace
{

constexpr std::size_t RUN_LENGTHS[] = {4u << 10, 1u << 20, 64u << 20};
constexpr std::size_t LARGEST_RUN = 64u << 20;

// Page-aligned random bytes, plus 64 so that a run may start at any offset within a cache line.
const unsigned char* random_buffer()
{
    static const auto buffer = [] {
        void* memory = std::aligned_alloc(4096, LARGEST_RUN + 4096);
        std::mt19937_64 generator(1);
        auto* bytes = static_cast<unsigned char*>(memory);
        for (std::size_t i = 0; i < LARGEST_RUN + 4096; ++i)
            bytes[i] = static_cast<unsigned char>(generator() >> 56);
        return std::unique_ptr<unsigned char, decltype(&std::free)>(bytes, std::free);
    }();
    return buffer.get();
}

// Folds state.range(0) bytes starting state.range(1) bytes into the buffer, again and again.
void bench_fold(benchmark::State& state, zantra::Crc32Fold fold)
{
    const auto length = static_cast<std::size_t>(state.range(0));
    const unsigned char* start = random_buffer() + state.range(1);
    std::uint32_t crc = zantra::CRC32_PRESET;
    for (auto _ : state) {
        crc = fold(crc, start, length);
        benchmark::DoNotOptimize(crc);
    }
    const double bytes = static_cast<double>(state.iterations()) * static_cast<double>(length);
    state.counters["GB"] = benchmark::Counter(bytes / 1e9, benchmark::Counter::kIsRate);
}

std::uint32_t zlib_fold(std::uint32_t crc, const void* bytes, std::size_t length) noexcept
{
    // zlib applies the preset and final XOR itself; undoing them keeps the register form.
    return static_cast<std::uint32_t>(crc32(crc ^ 0xFFFFFFFFu, static_cast<const Bytef*>(bytes),
                                            static_cast<uInt>(length))) ^
           0xFFFFFFFFu;
}

void register_fold(const std::string& name, zantra::Crc32Fold fold)
{
    auto* bench = benchmark::RegisterBenchmark(name.c_str(), bench_fold, fold);
    for (std::size_t length : RUN_LENGTHS)
        bench->Args({static_cast<std::int64_t>(length), 0});
    // A start one byte past a cache line, as a malloc'd read buffer often has.
    bench->Args({1 << 20, 1})->Args({1 << 20, 16});
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    for (const zantra::Crc32Variant& variant : zantra::crc32_supported_variants())
        register_fold(std::string("crc32/") + variant.name, variant.fold);
    register_fold("crc32/zlib", zlib_fold);
    register_fold(std::string("crc32_feed (") + zantra::crc32_chosen_variant().name + ")",
                  zantra::crc32_feed);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
