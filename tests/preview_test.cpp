// Runs glyphor-preview as a user would: charsets of every accepted size come
// back byte for byte through glyphor, and files of any other size are refused
// without a picture being written.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <cstdlib>
#include <random>
#include <string>

#include "bmp_writer.h"
#include "file_bytes.h"
#include "support.h"

namespace glyphor {
namespace {

struct preview : ::testing::Test {
    test::temp_dir dir;

    // Runs program with args (paths in dir); returns the exit status.
    int run(const char* program, const std::string& args) {
        const std::string command = std::string{GLYPHOR_TEST_RUNNER} + " '" + program + "' " +
                                    args + " >'" + dir.file("stdout") + "' 2>'" +
                                    dir.file("stderr") + "'";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    int run_preview(const std::string& charset, const std::string& picture) {
        return run(GLYPHOR_PREVIEW_PROGRAM,
                   "'" + dir.file(charset) + "' '" + dir.file(picture) + "'");
    }
    int run_glyphor(const std::string& picture, const std::string& charset,
                    const std::string& count = "") {
        return run(GLYPHOR_PROGRAM,
                   "'" + dir.file(picture) + "' '" + dir.file(charset) + "' " + count);
    }
    std::string text(const std::string& name) const {
        const std::vector<std::uint8_t> bytes = test::read_file(dir.file(name));
        return {bytes.begin(), bytes.end()};
    }
    void save(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
        ASSERT_TRUE(write_file_bytes(dir.file(name).c_str(), bytes));
    }
};

// The colour of pixel (x, y), top row 0, of a bottom-up 24-bit 256x64 picture.
bmp::rgb pixel_at(const std::vector<std::uint8_t>& picture, int x, int y) {
    const std::size_t at = bmp::get_le32(picture, 10) + static_cast<std::size_t>(63 - y) * 768 +
                           static_cast<std::size_t>(x) * 3;
    return {picture.at(at + 2), picture.at(at + 1), picture.at(at)};
}

TEST_F(preview, charsets_of_every_size_come_back_through_glyphor) {
    std::mt19937 random{50};
    for (const int tiles : {1, 2, 31, 32, 33, 100, 255, 256}) {
        SCOPED_TRACE(tiles);
        std::vector<std::uint8_t> charset(static_cast<std::size_t>(tiles) * 8);
        for (std::uint8_t& byte : charset) byte = static_cast<std::uint8_t>(random());
        save("charset.bin", charset);
        ASSERT_EQ(run_preview("charset.bin", "preview.bmp"), 0) << text("stderr");
        EXPECT_EQ(text("stderr"), "");

        ASSERT_EQ(run_glyphor("preview.bmp", "back.bin", std::to_string(tiles)), 0);
        EXPECT_EQ(test::read_file(dir.file("back.bin")), charset);

        // The tiles the file does not hold are hatched, not black, yet read as empty.
        const std::vector<std::uint8_t> picture = test::read_file(dir.file("preview.bmp"));
        for (int tile = tiles; tile < 256; ++tile) {
            bool hatched = false;
            for (int y = 0; y < 8; ++y) {
                for (int x = 0; x < 8; ++x) {
                    hatched |= pixel_at(picture, tile % 32 * 8 + x, tile / 32 * 8 + y) !=
                               bmp::rgb{0, 0, 0};
                }
            }
            EXPECT_TRUE(hatched) << "tile " << tile;
        }
        ASSERT_EQ(run_glyphor("preview.bmp", "all.bin"), 0);
        charset.resize(2048, 0);
        EXPECT_EQ(test::read_file(dir.file("all.bin")), charset);
    }
}

TEST_F(preview, files_of_no_charset_size_are_refused_and_nothing_is_written) {
    struct bad_file {
        std::size_t size;
        const char* says;
    };
    for (const bad_file bad : {bad_file{0, "is empty"},
                               {7, "is 7 bytes, not a whole number of 8-byte tiles"},
                               {9, "is 9 bytes"},
                               {2047, "is 2047 bytes"},
                               {2049, "is larger than 2048 bytes"},
                               {100000, "is larger than 2048 bytes"}}) {
        SCOPED_TRACE(bad.size);
        save("charset.bin", std::vector<std::uint8_t>(bad.size, 0xAA));
        EXPECT_EQ(run_preview("charset.bin", "preview.bmp"), 1);
        EXPECT_NE(text("stderr").find(bad.says), std::string::npos) << text("stderr");
        EXPECT_EQ(text("stdout"), "");
        EXPECT_FALSE(test::file_exists(dir.file("preview.bmp")));
    }

    EXPECT_EQ(run_preview("missing.bin", "preview.bmp"), 1);
    EXPECT_NE(text("stderr").find("cannot read"), std::string::npos);
    save("charset.bin", std::vector<std::uint8_t>(8, 0xAA));
    EXPECT_EQ(run_preview("charset.bin", "no/such/folder.bmp"), 1);
    EXPECT_NE(text("stderr").find("cannot write"), std::string::npos);
    EXPECT_EQ(run(GLYPHOR_PREVIEW_PROGRAM, "'" + dir.file("charset.bin") + "'"), 1);
    EXPECT_NE(text("stderr").find("usage: glyphor-preview"), std::string::npos);
    EXPECT_FALSE(test::file_exists(dir.file("preview.bmp")));
}

}  // namespace
}  // namespace glyphor
