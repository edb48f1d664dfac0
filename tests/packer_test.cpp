#include <gtest/gtest.h>

#include <string>

#include "charset_writer.h"
#include "glyph_art.h"
#include "support.h"
#include "tileset_reader.h"

namespace glyphor {
namespace {

// The pixel block of an image, stored bottom-up or top-down.
std::vector<std::uint8_t> block_of(const bmp::rgb_image& image, bool top_down) {
    const std::vector<std::uint8_t> bytes = bmp::encode(image, {.top_down = top_down});
    return {bytes.end() - static_cast<std::ptrdiff_t>(pixel_block_size), bytes.end()};
}

std::vector<std::uint8_t> pack(const bmp::rgb_image& image, int tile_count, bool top_down = false) {
    const std::vector<std::uint8_t> block = block_of(image, top_down);
    const charset_buffer charset = pack_charset(
        block.data(), top_down ? row_order::top_down : row_order::bottom_up, tile_count);
    return {charset.get(), charset.get() + charset_size};
}

// Every colour, each once, with the eight pixels of a tile row taking turns
// at each position: light exactly when the three bytes add up to 384 or more.
TEST(packer, every_colour_follows_the_plain_average) {
    std::uint8_t row[24];
    int wrong = 0;
    for (std::uint32_t first = 0; first < (1U << 24); first += 8) {
        unsigned expected = 0;
        for (std::uint32_t pixel = 0; pixel < 8; ++pixel) {
            const std::uint32_t colour = first + (pixel + first / 8) % 8;
            for (std::uint32_t channel = 0; channel < 3; ++channel) {
                row[pixel * 3 + channel] = static_cast<std::uint8_t>(colour >> (8 * channel));
            }
            const unsigned sum = (colour & 0xFFU) + ((colour >> 8) & 0xFFU) + (colour >> 16);
            expected |= (sum >= 384 ? 0x80U : 0U) >> pixel;
        }
        if (pack_pixel_row(row) != expected && ++wrong <= 5) {
            ADD_FAILURE() << "colours from " << first << ": got " << int{pack_pixel_row(row)}
                          << ", expected " << expected;
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST(packer, matches_the_pixel_by_pixel_model_and_leaves_unemitted_tiles_zero) {
    for (const unsigned seed : {10U, 11U}) {
        const bmp::rgb_image image = test::random_tileset(seed);
        for (const int count : {0, 1, 7, 31, 32, 33, 128, 200, 255, 256}) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << " count " << count);
            std::vector<std::uint8_t> expected =
                test::expected_charset(block_of(image, false).data(), true, count);
            expected.resize(charset_size, 0);
            EXPECT_EQ(pack(image, count, false), expected);
            EXPECT_EQ(pack(image, count, true), expected);
        }
    }
}

// A folder under the output's name is not written over. (A missing folder
// and a full device, left as it was, are the command-line suite's to check:
// the program reaches them through this same writer.)
TEST(writer_test, refuses_a_folder_as_its_output) {
    const test::temp_dir dir;
    const std::uint8_t charset[charset_size] = {};
    EXPECT_EQ(write_charset(dir.path().c_str(), charset, 1), write_outcome::create_failed);
}

// The committed sample converts to exactly the glyphs drawn in its art file:
// tiles 0..127 as drawn, tiles 128..255 reversed.
TEST(sample_tileset, converts_to_the_drawn_glyphs_and_their_reverse) {
    const std::string folder = GLYPHOR_SAMPLE_DIR;
    std::string error;
    const std::vector<sample::glyph> glyphs =
        sample::read_glyph_art((folder + "/tileset.txt").c_str(), error);
    ASSERT_EQ(error, "");
    const tileset tiles = load_tileset((folder + "/tileset.bmp").c_str());
    ASSERT_EQ(tiles.outcome, load_outcome::loaded);
    EXPECT_EQ(tiles.order, row_order::bottom_up);
    const charset_buffer charset = pack_charset(tiles.pixels.get(), tiles.order, max_tiles);
    for (std::size_t tile = 0; tile < 256; ++tile) {
        const sample::glyph& drawn = glyphs[tile % 128];
        ASSERT_TRUE(drawn.present) << "tile " << tile % 128 << " is not drawn";
        for (std::size_t row = 0; row < 8; ++row) {
            EXPECT_EQ(charset[tile * 8 + row],
                      tile < 128 ? drawn.rows[row] : static_cast<std::uint8_t>(~drawn.rows[row]))
                << "tile " << tile << " row " << row;
        }
    }
}

}  // namespace
}  // namespace glyphor
