// libFuzzer target: arbitrary bytes go through the reader exactly as a file on
// disk would (a memory-backed file opened by path), then through the packer.
//
// Input: two bytes choosing the tile count (little-endian, modulo 257, so every
// count from 0 to 256 is reachable), then the whole tileset file.
//
// The same bytes also go through a pipe, as "glyphor /dev/stdin" reads them,
// and must give the file's verdict and pixels.
//
// Besides the sanitizers' checks, every outcome is compared with what the file
// holds: the reader must accept exactly the files that carry a 256x64, 24-bit
// header and a whole pixel block at their offset, and the packer must agree
// with the test model, pixel by pixel, for the chosen count and for a second
// count drawn from the pixels.

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "bmp_fields.h"
#include "charset_writer.h"
#include "support.h"
#include "tileset_reader.h"

namespace {

int tileset_file = -1;
std::string tileset_path;

void check(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "tileset_fuzzer: %s\n", what);
    std::abort();
}

// An unsigned little-endian field of the given width.
std::uint32_t le(const std::uint8_t* at, int bytes) {
    std::uint32_t value = 0;
    for (int i = bytes; i-- > 0;) value = (value << 8U) | at[i];
    return value;
}

void replace_file_contents(const std::uint8_t* bytes, std::size_t size) {
    check(ftruncate(tileset_file, 0) == 0, "cannot empty the memory file");
    for (std::size_t done = 0; done < size;) {
        const ssize_t wrote =
            pwrite(tileset_file, bytes + done, size - done, static_cast<off_t>(done));
        check(wrote > 0, "cannot fill the memory file");
        done += static_cast<std::size_t>(wrote);
    }
}

// The reader's verdict on a file, worked out from its bytes alone.
void check_outcome(const glyphor::tileset& tiles, const std::uint8_t* file, std::size_t size) {
    using glyphor::load_outcome;
    namespace field = glyphor::bmp_field;
    if (size < field::read_size || file[field::signature] != 'B' ||
        file[field::signature + 1] != 'M') {
        check(tiles.outcome == load_outcome::not_bmp, "a file without a whole BM header");
        return;
    }
    const std::uint32_t width = le(file + field::width, 4);
    const std::uint32_t height = le(file + field::height, 4);
    const std::uint32_t height_magnitude = (height & 0x80000000U) != 0 ? 0U - height : height;
    const std::uint32_t bits = le(file + field::bits_per_pixel, 2);
    if (width != glyphor::tileset_width || height_magnitude != glyphor::tileset_height ||
        bits != glyphor::tileset_bits_per_pixel) {
        check(tiles.outcome == load_outcome::bad_geometry, "a file of the wrong geometry");
        check(static_cast<std::uint32_t>(tiles.width) == width &&
                  tiles.height == height_magnitude && tiles.bits_per_pixel == bits,
              "geometry reported other than stored");
        return;
    }
    const std::uint32_t offset = le(file + field::pixel_offset, 4);
    if (offset > 0x7FFFFFFFU || size < std::size_t{offset} + glyphor::pixel_block_size) {
        check(tiles.outcome == load_outcome::not_bmp, "a file without a whole pixel block");
        return;
    }
    check(tiles.outcome == load_outcome::loaded, "a whole tileset was refused");
    check(tiles.order == ((height & 0x80000000U) != 0 ? glyphor::row_order::top_down
                                                      : glyphor::row_order::bottom_up),
          "row order other than the height's sign");
    check(std::memcmp(tiles.pixels.get(), file + offset, glyphor::pixel_block_size) == 0,
          "pixel block other than the bytes at the offset");
}

// Packs the loaded pixels for tile_count tiles: the first tile_count * 8 bytes
// must be the model's (the full charset), and the rest stay zero.
void check_packing(const glyphor::tileset& tiles, int tile_count,
                   const std::vector<std::uint8_t>& model) {
    const glyphor::charset_buffer charset =
        glyphor::pack_charset(tiles.pixels.get(), tiles.order, tile_count);
    check(charset != nullptr, "no charset buffer");
    const std::size_t emitted = static_cast<std::size_t>(tile_count) * glyphor::bytes_per_tile;
    check(std::memcmp(charset.get(), model.data(), emitted) == 0, "charset other than the model's");
    for (std::size_t i = emitted; i < glyphor::charset_size; ++i) {
        check(charset[i] == 0, "bits set in a tile past the count");
    }
}

// Reads the file's bytes through a pipe, which cannot seek: everything the
// reader hands back must be what it made of the file. Inputs larger than the
// pipe can hold at once are left to the file.
void check_pipe_agrees(const glyphor::tileset& from_file, const std::uint8_t* file,
                       std::size_t size) {
    const std::optional<glyphor::test::piped_tileset> piped =
        glyphor::test::read_tileset_through_pipe(file, size);
    if (!piped) return;
    const glyphor::tileset& from_pipe = piped->tiles;
    check(from_pipe.outcome == from_file.outcome && from_pipe.width == from_file.width &&
              from_pipe.height == from_file.height &&
              from_pipe.bits_per_pixel == from_file.bits_per_pixel &&
              from_pipe.order == from_file.order,
          "a pipe read other than the file");
    check((from_pipe.pixels == nullptr) == (from_file.pixels == nullptr) &&
              (from_pipe.pixels == nullptr ||
               std::memcmp(from_pipe.pixels.get(), from_file.pixels.get(),
                           glyphor::pixel_block_size) == 0),
          "pixels through a pipe other than the file's");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    tileset_file = memfd_create("tileset.bmp", 0);
    check(tileset_file >= 0, "cannot create the memory file");
    tileset_path = "/proc/self/fd/" + std::to_string(tileset_file);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return -1;  // not even a tile count: keep it out of the corpus
    const int tile_count = static_cast<int>(le(data, 2) % 257);
    const std::uint8_t* file = data + 2;
    const std::size_t file_size = size - 2;
    replace_file_contents(file, file_size);

    glyphor::tileset tiles = glyphor::load_tileset(tileset_path.c_str());
    check_outcome(tiles, file, file_size);
    check_pipe_agrees(tiles, file, file_size);
    if (tiles.outcome != glyphor::load_outcome::loaded) {
        check(tiles.pixels == nullptr, "pixels handed back with a failure");
        return 0;
    }

    const std::vector<std::uint8_t> model = glyphor::test::expected_charset(
        tiles.pixels.get(), tiles.order == glyphor::row_order::bottom_up, glyphor::max_tiles);
    check_packing(tiles, tile_count, model);
    // The count bytes are two among some 49,000 and rarely mutated, and the
    // corpus keeps few counts since they add no new code paths. A second count
    // that moves with every change to the pixels reaches all 257 in a short run.
    unsigned pixel_sum = 0;
    for (std::size_t i = 0; i < glyphor::pixel_block_size; ++i) pixel_sum += tiles.pixels[i];
    check_packing(tiles, static_cast<int>((static_cast<unsigned>(tile_count) + pixel_sum) % 257),
                  model);
    return 0;
}
