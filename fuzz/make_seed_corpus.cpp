// Writes the fuzzer's seed corpus into a folder: whole tilesets in each header
// version and row order, and near-misses of every kind the reader must refuse
// (short files, wrong signatures, wrong geometry, offsets that miss the
// pixels). Each seed is the tile count (two bytes, little-endian) followed by
// the file, as the fuzzer reads its input.
//
//   make_seed_corpus FOLDER

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bmp_writer.h"
#include "file_bytes.h"
#include "support.h"

namespace {

using glyphor::bmp::encode;
using glyphor::bmp::put_le16;
using glyphor::bmp::put_le32;
using bytes = std::vector<std::uint8_t>;

struct corpus {
    std::filesystem::path folder;
    bool ok = true;

    void add(const std::string& name, const bytes& file, std::uint16_t tile_count = 256) {
        bytes seed = {static_cast<std::uint8_t>(tile_count),
                      static_cast<std::uint8_t>(tile_count >> 8U)};
        seed.insert(seed.end(), file.begin(), file.end());
        ok = glyphor::write_file_bytes((folder / name).c_str(), seed) && ok;
    }
};

bytes patched32(bytes file, std::size_t at, std::uint32_t value) {
    put_le32(file, at, value);
    return file;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    corpus seeds{argv[1]};
    std::error_code error;
    std::filesystem::create_directories(seeds.folder, error);

    const glyphor::bmp::rgb_image image = glyphor::test::random_tileset(40);
    // Whole tilesets: each header version and row order, counts over every packing path.
    const std::uint16_t counts[] = {0, 1, 31, 32, 33, 100, 255, 256};
    std::size_t next_count = 0;
    for (const std::uint32_t header : {40U, 108U, 124U}) {
        for (const bool top_down : {false, true}) {
            const bytes file = encode(image, {.top_down = top_down, .info_header_size = header});
            for (int i = 0; i < 2; ++i) {
                const std::uint16_t count = counts[next_count++ % std::size(counts)];
                seeds.add("valid-" + std::to_string(header) +
                              (top_down ? "-top-down-" : "-bottom-up-") + std::to_string(count),
                          file, count);
            }
        }
    }
    const bytes good = encode(image);
    seeds.add("valid-gap-compressed", encode(image, {.compression = 3, .gap = 100}), 128);
    bytes trailing = good;
    trailing.insert(trailing.end(), 300, 0xEE);
    seeds.add("valid-trailing-bytes", trailing, 64);
    seeds.add("valid-offset-0", patched32(good, glyphor::bmp_field::pixel_offset, 0), 256);

    // Files that end too soon.
    for (const long size : {0L, 1L, 2L, 13L, 14L, 33L, 34L, 54L, 1000L}) {
        seeds.add("short-" + std::to_string(size), bytes(good.begin(), good.begin() + size));
    }
    seeds.add("short-pixels", bytes(good.begin(), good.end() - 1));

    // Wrong signatures.
    bytes wrong = good;
    wrong[0] = 'M';
    wrong[1] = 'B';
    seeds.add("signature-mb", wrong);
    bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    png.resize(good.size(), 0);
    seeds.add("signature-png", png);

    // Wrong geometry, and the near edges of the right one.
    for (const std::uint32_t width : {0U, 255U, 257U, 128U, 0xFFFFFF00U /* -256 */}) {
        seeds.add("width-" + std::to_string(width),
                  patched32(good, glyphor::bmp_field::width, width));
    }
    for (const std::uint32_t height : {0U, 63U, 65U, 0xFFFFFFC1U /* -63 */, 0x80000000U}) {
        seeds.add("height-" + std::to_string(height),
                  patched32(good, glyphor::bmp_field::height, height));
    }
    for (const std::uint16_t bits :
         {std::uint16_t{0}, std::uint16_t{8}, std::uint16_t{32}, std::uint16_t{0x0118}}) {
        bytes file = good;
        put_le16(file, glyphor::bmp_field::bits_per_pixel, bits);
        seeds.add("bits-" + std::to_string(bits), file);
    }

    // Offsets that miss the pixel block, or only just reach it.
    const std::uint32_t size = static_cast<std::uint32_t>(good.size());
    for (const std::uint32_t offset :
         {1U, 55U, size - 49151U, size - 1U, size, 0x7FFFFFFFU, 0x80000000U, 0xFFFFFFFFU}) {
        seeds.add("offset-" + std::to_string(offset),
                  patched32(good, glyphor::bmp_field::pixel_offset, offset));
    }

    if (!seeds.ok) {
        std::fprintf(stderr, "%s: cannot write the seeds into %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
