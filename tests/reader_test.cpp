#include <gtest/gtest.h>

#include <cstring>

#include "file_bytes.h"
#include "support.h"
#include "tileset_reader.h"

namespace glyphor {
namespace {

// The suite's tileset cases, and more that only the reader is given: fields
// it does not check, other signatures, offsets no file reaches, other heights.
TEST(reader_test, each_case_loads_as_stored_or_is_refused_with_what_was_found) {
    const test::temp_dir dir;
    const std::string path = dir.file("tiles.bmp");
    std::vector<test::tileset_case> cases = test::tileset_cases();
    std::vector<std::uint8_t> good = bmp::encode(test::random_tileset(2), {.compression = 3});
    auto add = [&](const char* name, std::size_t at, std::uint32_t value,
                   load_outcome outcome = load_outcome::not_bmp) {
        cases.push_back({name, good, {}, outcome});
        bmp::put_le32(cases.back().bytes, at, value);
    };
    namespace field = bmp_field;
    add("bit fields, no file size", field::file_size, 0xFFFFFFFFU, load_outcome::loaded);
    add("header size 7", field::info_header_size, 7, load_outcome::loaded);
    add("9 planes", field::planes, 9U | (24U << 16U), load_outcome::loaded);  // then 24 bits
    add("signature BN", field::signature, (bmp::get_le32(good, 0) & 0xFFFF00FFU) | 0x4E00U);
    add("offset 55", field::pixel_offset, 55);
    add("offset 2^31 - 1", field::pixel_offset, 0x7FFFFFFFU);
    add("offset 2^32 - 1", field::pixel_offset, 0xFFFFFFFFU);
    cases.push_back(
        {"text", std::vector<std::uint8_t>(good.size(), 'x'), {}, load_outcome::not_bmp});
    for (const int height : {65, 0}) {
        cases.push_back({"256 x " + std::to_string(height),
                         bmp::encode(bmp::rgb_image{256, height}),
                         {},
                         load_outcome::bad_geometry,
                         {256, static_cast<std::uint32_t>(height), 24}});
    }
    for (const test::tileset_case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(write_file_bytes(path.c_str(), c.bytes));
        const tileset tiles = load_tileset(path.c_str());
        ASSERT_EQ(tiles.outcome, c.outcome);
        EXPECT_EQ(tiles.pixels == nullptr, c.outcome != load_outcome::loaded);
        if (c.outcome == load_outcome::bad_geometry) {
            EXPECT_EQ(std::tuple(tiles.width, tiles.height, int{tiles.bits_per_pixel}), c.found);
        } else if (c.outcome == load_outcome::loaded) {
            const std::uint32_t offset = bmp::get_le32(c.bytes, field::pixel_offset);
            const bool top_down = (bmp::get_le32(c.bytes, field::height) & 0x80000000U) != 0;
            EXPECT_EQ(tiles.order, top_down ? row_order::top_down : row_order::bottom_up);
            EXPECT_EQ(std::memcmp(tiles.pixels.get(), c.bytes.data() + offset, pixel_block_size),
                      0);
        }
    }
}

// What follows the pixels in a pipe belongs to whoever reads it next: the
// reader takes the header, the gap and the pixels, and not one byte more.
TEST(reader_test, a_pipe_is_read_up_to_the_end_of_the_pixels_and_no_further) {
    const std::vector<std::uint8_t> trailer = {'n', 'e', 'x', 't'};
    for (const std::uint32_t gap : {0U, 3000U}) {
        SCOPED_TRACE(gap);
        std::vector<std::uint8_t> bytes = bmp::encode(test::random_tileset(4), {.gap = gap});
        const std::size_t offset = bytes.size() - pixel_block_size;
        bytes.insert(bytes.end(), trailer.begin(), trailer.end());
        const std::optional<test::piped_tileset> piped =
            test::read_tileset_through_pipe(bytes.data(), bytes.size());
        ASSERT_TRUE(piped) << "the pipe must hold the whole file";
        ASSERT_EQ(piped->tiles.outcome, load_outcome::loaded);
        EXPECT_EQ(std::memcmp(piped->tiles.pixels.get(), bytes.data() + offset, pixel_block_size),
                  0);
        EXPECT_EQ(piped->left, trailer);
    }
}

}  // namespace
}  // namespace glyphor
