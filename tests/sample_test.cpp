#include <gtest/gtest.h>

#include <string>

#include "charset_writer.h"
#include "glyph_art.h"
#include "tileset_reader.h"

namespace glyphor {
namespace {

// The committed sample converts to exactly the glyphs drawn in its art file:
// tiles 0..127 as drawn, tiles 128..255 reversed.
TEST(sample_tileset, converts_to_the_drawn_glyphs_and_their_reverse) {
    const std::string folder = GLYPHOR_SAMPLE_DIR;
    std::string error;
    const std::vector<sample::glyph> glyphs =
        sample::read_glyph_art((folder + "/tileset.txt").c_str(), error);
    ASSERT_EQ(error, "");
    for (std::size_t tile = 0; tile < 128; ++tile) {
        EXPECT_TRUE(glyphs[tile].present) << "tile " << tile << " is not drawn";
    }

    const tileset tiles = load_tileset((folder + "/tileset.bmp").c_str());
    ASSERT_EQ(tiles.outcome, load_outcome::loaded);
    EXPECT_EQ(tiles.order, row_order::bottom_up);
    const charset_buffer charset = pack_charset(tiles.pixels.get(), tiles.order, max_tiles);
    for (std::size_t tile = 0; tile < 256; ++tile) {
        for (std::size_t row = 0; row < 8; ++row) {
            const std::uint8_t drawn = glyphs[tile % 128].rows[row];
            EXPECT_EQ(charset[tile * 8 + row],
                      tile < 128 ? drawn : static_cast<std::uint8_t>(~drawn))
                << "tile " << tile << " row " << row;
        }
    }
}

}  // namespace
}  // namespace glyphor
