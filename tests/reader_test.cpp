#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "file_bytes.h"
#include "support.h"
#include "tileset_reader.h"

namespace glyphor {
namespace {

using test::temp_dir;

struct reader_test : ::testing::Test {
    temp_dir dir;
    std::string path = dir.file("tiles.bmp");

    tileset load(const std::vector<std::uint8_t>& bytes) {
        EXPECT_TRUE(write_file_bytes(path.c_str(), bytes));
        return load_tileset(path.c_str());
    }
};

TEST_F(reader_test, loads_pixels_exactly_as_stored_for_each_header_version_and_row_order) {
    const bmp::rgb_image image = test::random_tileset(1);
    struct variant {
        std::uint32_t info_header_size;
        bool top_down;
        std::uint32_t gap;
    };
    for (const variant v : {variant{40, false, 0}, variant{40, true, 0}, variant{108, false, 0},
                            variant{124, true, 0}, variant{40, false, 1024}}) {
        SCOPED_TRACE(v.info_header_size);
        const std::vector<std::uint8_t> bytes = bmp::encode(
            image, {.top_down = v.top_down, .info_header_size = v.info_header_size, .gap = v.gap});
        const tileset tiles = load(bytes);
        ASSERT_EQ(tiles.outcome, load_outcome::loaded);
        EXPECT_EQ(tiles.order, v.top_down ? row_order::top_down : row_order::bottom_up);
        const std::size_t offset = 14 + v.info_header_size + v.gap;
        ASSERT_EQ(bytes.size(), offset + pixel_block_size);
        EXPECT_EQ(std::memcmp(tiles.pixels.get(), bytes.data() + offset, pixel_block_size), 0);
    }
}

TEST_F(reader_test, trusts_the_offset_and_ignores_unchecked_fields_and_trailing_bytes) {
    std::vector<std::uint8_t> bytes =
        bmp::encode(test::random_tileset(2), {.compression = 3});  // bit fields: still plain rows
    bmp::put_le32(bytes, 2, 0xFFFFFFFF);                           // file size
    bmp::put_le32(bytes, 14, 7);                                   // header size
    bmp::put_le16(bytes, 26, 9);                                   // planes
    bytes.insert(bytes.end(), 100, 0xAB);                          // bytes after the pixels
    tileset tiles = load(bytes);
    ASSERT_EQ(tiles.outcome, load_outcome::loaded);
    EXPECT_EQ(std::memcmp(tiles.pixels.get(), bytes.data() + 54, pixel_block_size), 0);

    // Offset 0: the block starts with the file header itself.
    bmp::put_le32(bytes, 10, 0);
    tiles = load(bytes);
    ASSERT_EQ(tiles.outcome, load_outcome::loaded);
    EXPECT_EQ(std::memcmp(tiles.pixels.get(), bytes.data(), pixel_block_size), 0);
}

TEST_F(reader_test, geometry_mismatches_report_what_was_found) {
    struct variant {
        int width;
        int height;
        std::uint16_t bits;
        std::int32_t stored_width;
        std::uint32_t shown_height;
    };
    for (const variant v : {variant{256, 64, 32, 256, 64}, variant{256, -64, 8, 256, 64},
                            variant{128, 64, 24, 128, 64}, variant{256, 65, 24, 256, 65},
                            variant{256, 0, 24, 256, 0}}) {
        SCOPED_TRACE(testing::Message() << v.width << "x" << v.height << "x" << v.bits);
        const int rows = v.height < 0 ? -v.height : v.height;
        const tileset tiles = load(bmp::encode(
            bmp::rgb_image{v.width, rows}, {.top_down = v.height < 0, .bits_per_pixel = v.bits}));
        EXPECT_EQ(tiles.outcome, load_outcome::bad_geometry);
        EXPECT_EQ(tiles.width, v.stored_width);
        EXPECT_EQ(tiles.height, v.shown_height);
        EXPECT_EQ(tiles.bits_per_pixel, v.bits);
        EXPECT_EQ(tiles.pixels, nullptr);
    }

    std::vector<std::uint8_t> bytes = bmp::encode(bmp::rgb_image{256, 64});
    bmp::put_le32(bytes, 18, static_cast<std::uint32_t>(-256));
    EXPECT_EQ(load(bytes).width, -256);
    bmp::put_le32(bytes, 18, 256);
    bmp::put_le32(bytes, 22, 0x80000000U);  // -2^31 has no 32-bit absolute value
    const tileset tiles = load(bytes);
    EXPECT_EQ(tiles.outcome, load_outcome::bad_geometry);
    EXPECT_EQ(tiles.height, 2147483648U);
}

TEST_F(reader_test, files_that_do_not_hold_a_whole_tileset_are_not_bmp) {
    const std::vector<std::uint8_t> good = bmp::encode(test::random_tileset(3));
    std::vector<std::vector<std::uint8_t>> bad;
    bad.push_back({});                                  // empty
    bad.emplace_back(good.begin(), good.begin() + 33);  // one header byte short
    bad.emplace_back(good.begin(), good.end() - 1);     // one pixel byte short
    bad.push_back(good);
    bad.back()[1] = 'N';                               // wrong signature
    std::vector<std::uint8_t> text(good.size(), 'x');  // a text file of the right size
    bad.push_back(text);
    for (const std::uint32_t offset :
         {55U, static_cast<std::uint32_t>(good.size()), 0x7FFFFFFFU, 0x80000000U, 0xFFFFFFFFU}) {
        bad.push_back(good);
        bmp::put_le32(bad.back(), 10, offset);
    }
    for (std::size_t i = 0; i < bad.size(); ++i) {
        SCOPED_TRACE(i);
        const tileset tiles = load(bad[i]);
        EXPECT_EQ(tiles.outcome, load_outcome::not_bmp);
        EXPECT_EQ(tiles.pixels, nullptr);
    }
}

// What follows the pixels in a pipe belongs to whoever reads it next: the
// reader takes the header, the gap and the pixels, and not one byte more.
TEST_F(reader_test, a_pipe_is_read_up_to_the_end_of_the_pixels_and_no_further) {
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

TEST_F(reader_test, missing_files_and_folders_do_not_open) {
    EXPECT_EQ(load_tileset(dir.file("missing.bmp").c_str()).outcome, load_outcome::open_failed);
    EXPECT_EQ(load_tileset(dir.path().c_str()).outcome, load_outcome::open_failed);
}

}  // namespace
}  // namespace glyphor
