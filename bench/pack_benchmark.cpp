// Packing throughput of pack_charset, in pixels per second, on a tileset of
// random colours: the whole sheet, the upper half and a single tile.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "charset_writer.h"
#include "geometry.h"

namespace {

std::vector<std::uint8_t> random_pixel_block() {
    std::vector<std::uint8_t> block(glyphor::pixel_block_size);
    std::uint32_t state = 0x9E3779B9U;  // xorshift32: the same block on every run
    for (std::uint8_t& byte : block) {
        state ^= state << 13U;
        state ^= state >> 17U;
        state ^= state << 5U;
        byte = static_cast<std::uint8_t>(state >> 24U);
    }
    return block;
}

void pack_charset_pixels(benchmark::State& state) {
    const std::vector<std::uint8_t> block = random_pixel_block();
    const int tiles = static_cast<int>(state.range(0));
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores): the loop idiom
        const glyphor::charset_buffer charset =
            glyphor::pack_charset(block.data(), glyphor::row_order::bottom_up, tiles);
        benchmark::DoNotOptimize(charset.get());
        benchmark::ClobberMemory();
    }
    const double pixels_per_run =
        static_cast<double>(tiles) * glyphor::tile_size * glyphor::tile_size;
    state.counters["pixels"] = benchmark::Counter(
        pixels_per_run * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(pack_charset_pixels)->Arg(256)->Arg(128)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
