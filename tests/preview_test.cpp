// Runs glyphor-preview as a user would: charsets of every accepted size come
// back byte for byte through glyphor, and files of any other size are refused
// without a picture being written.

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "bmp_writer.h"
#include "charset_picture.h"
#include "charset_text.h"
#include "file_bytes.h"
#include "preview_messages.h"
#include "support.h"

namespace glyphor {
namespace {

using namespace preview_says;  // what the program says, from its own table
using test::said;

struct preview : ::testing::Test {
    test::temp_dir dir;
    test::run_result last;

    // Runs program with args, file names in dir, set up as how says; returns
    // the exit status.
    int run(const char* program, const std::vector<std::string>& args,
            const test::run_options& how = {}) {
        std::vector<std::string> command;
        std::istringstream runner{GLYPHOR_TEST_RUNNER};
        for (std::string word; runner >> word;) command.push_back(word);
        command.emplace_back(program);
        command.insert(command.end(), args.begin(), args.end());
        last = test::run_program(command, dir.path(), how);
        return last.status;
    }
    void save(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
        ASSERT_TRUE(write_file_bytes(dir.file(name).c_str(), bytes));
    }
};

constexpr bmp::rgb white{255, 255, 255}, black{0, 0, 0}, dark_red{0x90, 0, 0};

// The colour of pixel (x, y), top row 0, of a bottom-up 24-bit 256x64 picture.
bmp::rgb pixel_at(const std::vector<std::uint8_t>& picture, int x, int y) {
    const std::size_t at = bmp::get_le32(picture, bmp_field::pixel_offset) +
                           static_cast<std::size_t>(63 - y) * 768 + static_cast<std::size_t>(x) * 3;
    return {picture.at(at + 2), picture.at(at + 1), picture.at(at)};
}

// Each charset drawn into a file and, as in "glyphor-preview /dev/stdin
// /dev/stdout | convert bmp:- preview.png", through pipes both ways: the
// picture alone on standard output, the message on standard error.
TEST_F(preview, charsets_of_every_size_come_back_through_glyphor) {
    for (const int tiles : {1, 2, 31, 32, 33, 100, 255, 256}) {
        SCOPED_TRACE(tiles);
        std::vector<std::uint8_t> charset = test::random_bytes(static_cast<std::size_t>(tiles) * 8);
        save("charset.bin", charset);
        const auto shows = [tiles](const char* out, const char* in) {
            return tiles == 1 ? said<shows_one_tile>(out, in) : said<shows_tiles>(out, tiles, in);
        };
        ASSERT_EQ(run(GLYPHOR_PREVIEW_PROGRAM, {"charset.bin", "preview.bmp"}), 0) << last.err;
        EXPECT_EQ(last.out, "");
        EXPECT_EQ(last.err, shows("preview.bmp", "charset.bin"));
        const std::vector<std::uint8_t> picture = test::read_file(dir.file("preview.bmp"));
        ASSERT_EQ(run(GLYPHOR_PREVIEW_PROGRAM, {"/dev/stdin", "/dev/stdout"}, {.input = charset}),
                  0);
        EXPECT_EQ(last.out, std::string(picture.begin(), picture.end()));
        EXPECT_EQ(last.err, shows("/dev/stdout", "/dev/stdin"));

        // Set bits white, clear bits black; the tiles the file does not hold
        // hatched in dark red stripes two pixels wide, running down to the
        // left: not black, yet read as empty.
        int wrong = 0;
        for (int at = 0; at < 256 * 64; ++at) {
            const int x = at % 256, y = at / 256, tile = y / 8 * 32 + x / 8;
            const bool set =
                tile < tiles && (charset.data()[tile * 8 + y % 8] & (0x80U >> x % 8)) != 0;
            const bool stripe = tile >= tiles && (x + y) % 4 < 2;
            wrong += pixel_at(picture, x, y) == (stripe ? dark_red : set ? white : black) ? 0 : 1;
        }
        EXPECT_EQ(wrong, 0) << "pixels not as drawn";
        ASSERT_EQ(run(GLYPHOR_PROGRAM, {"preview.bmp", "all.bin"}), 0);
        charset.resize(2048, 0);
        EXPECT_EQ(test::read_file(dir.file("all.bin")), charset);
    }
}

// Files of no charset size, a charset that cannot be read or written, a
// wrong argument count: status 1, one line saying so, and no picture.
TEST_F(preview, files_of_no_charset_size_are_refused_and_nothing_is_written) {
    const std::vector<std::string> usual = {"charset.bin", "preview.bmp"};
    const std::vector<std::string> to_stdout = {"charset.bin", "/dev/stdout"};
    struct refusal {
        std::size_t size;  // of charset.bin
        std::vector<std::string> args;
        std::string says;
        test::run_options how = {};
    };
    const std::string unwritten = said<write_failed>("preview.bmp");
    const refusal cases[] = {
        {0, usual, said<empty>("charset.bin")},
        {7, usual, said<not_whole_tiles>("charset.bin", 7)},
        {9, usual, said<not_whole_tiles>("charset.bin", 9)},
        {2047, usual, said<not_whole_tiles>("charset.bin", 2047)},
        {2049, usual, said<too_large>("charset.bin")},
        {100000, usual, said<too_large>("charset.bin")},
        {8, {"missing.bin", "preview.bmp"}, said<read_failed>("missing.bin")},
        // A reader that has gone: a failed write, said so, not an end by a signal.
        {8, to_stdout, said<write_failed>("/dev/stdout"), {.output_closed = true}},
        {8, {"charset.bin", "no/such/folder.bmp"}, said<write_failed>("no/such/folder.bmp")},
        // Past a file-size limit the write fails like one to a full disk: the
        // signal that would end the program half way is not left to do so.
        {8, usual, unwritten, {.file_size_limit = 1024, .size_signal_ignored = false}},
        {8, {"charset.bin"}, said<usage>()},
    };
    for (const refusal& bad : cases) {
        SCOPED_TRACE(testing::Message() << bad.says << " (" << bad.size << " bytes)");
        save("charset.bin", std::vector<std::uint8_t>(bad.size, 0xAA));
        EXPECT_EQ(run(GLYPHOR_PREVIEW_PROGRAM, bad.args, bad.how), 1);
        EXPECT_EQ(last.err, bad.says);
        EXPECT_EQ(last.out, "");
        EXPECT_FALSE(test::file_exists(dir.file("preview.bmp")));
    }
}

// Left out of the sanitizers' builds: their allocators own malloc.
#if GLYPHOR_ALLOCATION_FAILURE_TESTS
// Memory that runs out at any point ends the run with a message and status
// 1, never by a signal: the limit rises from where the program cannot even
// start to where it draws the picture.
TEST_F(preview, running_out_of_memory_is_reported_not_an_abort) {
    save("charset.bin", test::random_bytes(2048));
    const std::string ran_out = said<out_of_memory>();
    int ran_out_count = 0;
    bool started = false;
    for (rlim_t limit = rlim_t{64} << 10U; limit <= rlim_t{2} << 20U; limit += rlim_t{16} << 10U) {
        SCOPED_TRACE(limit);
        last = test::run_program({GLYPHOR_PREVIEW_PROGRAM, "charset.bin", "preview.bmp"},
                                 dir.path(), {.data_limit = limit});
        if (last.status == 127 && last.err.rfind(ran_out.substr(0, ran_out.find(' ')), 0) != 0) {
            continue;  // not the program's name first, as in its texts: the loader failed
        }
        // Linked statically (a Release build), the C library's own start-up
        // ends by a signal, saying nothing, below the least memory it needs;
        // once the program has started at a lower limit, a signal is a failure.
        if (!started && last.status == -1 && last.out.empty() && last.err.empty()) {
            continue;
        }
        started = true;
        if (last.status == 0) break;
        EXPECT_EQ(last.status, 1);
        EXPECT_TRUE(last.err == ran_out || last.err == said<read_failed>("charset.bin"))
            << last.err;
        ran_out_count += last.err == ran_out ? 1 : 0;
        EXPECT_FALSE(test::file_exists(dir.file("preview.bmp")));
    }
    EXPECT_EQ(last.status, 0) << "never drew the picture: " << last.err;
    EXPECT_GT(ran_out_count, 0);
}
#endif

// The web page's bench: a character row's pixels (colour numbers, left first) as each machine
// shows them (C64 $D021, $D022, $D023, colour RAM; VIC-20 screen, border, auxiliary, colour
// RAM), what a load address means to each (a line a value or warning), the file fields offer.
TEST(bench, machines_show_rows_by_their_rules_and_explain_an_address_and_the_file) {
    // clang-format off
    struct row { machine_colours colours; std::uint8_t bits; unsigned shown[8]; };
    const row rows[] = {
        {{false, false, 6, 2, 5, 14}, 0xA5, {14, 6, 14, 6, 6, 14, 6, 14}},  // hires
        {{false, false, 0, 2, 5, 9}, 0xF0, {9, 9, 9, 9, 0, 0, 0, 0}},       // mode off: all 16
        {{false, true, 6, 2, 5, 3}, 0x1B, {6, 6, 6, 3, 3, 6, 3, 3}},        // colour 0-7: hires
        {{false, true, 6, 2, 5, 9}, 0x1B, {6, 6, 2, 2, 5, 5, 1, 1}},        // 00 01 10 11
        {{false, true, 6, 2, 5, 15}, 0xE4, {7, 7, 5, 5, 2, 2, 6, 6}},       // 11: colour bits 0-2
        {{true, false, 3, 2, 1, 6}, 0x81, {6, 3, 3, 3, 3, 3, 3, 6}},        // VIC-20 hires
        {{true, false, 3, 2, 1, 13}, 0x1B, {3, 3, 2, 2, 5, 5, 1, 1}},       // colour 8-15: multi
        {{true, false, 0, 10, 15, 8}, 0x6C, {2, 2, 0, 0, 15, 15, 0, 0}},    // border bits 0-2
    };
    struct address { unsigned at, size; int first, lines; std::vector<const char*> says; };
    const address addresses[] = {
        {0x2000, 2048, 0, 2, {"$D018 = $18 (POKE 53272,24) with the screen at $0400; bank 0 ($0000-$3FFF): $DD00 bits 0-1 = 3", "cannot fetch them at $2000"}},
        {0x1000, 2048, 0, 3, {"$D018 = $14", "at $1000-$1FFF the C64's VIC sees the character ROM", "$9005 = $FC (POKE 36869,252) with the screen at $1E00 (unexpanded); $CC (204)"}},
        {0x1C00, 512, 0, 4, {"$9005 = $FF (POKE 36869,255)"}},
        {0x1C00, 2048, 0, 6, {"from tile 128 on, the bytes lie at $2000", "$1E00-$1FF9 covers tiles 64 on"}},
        {0x2100, 2048, 0, 3, {"2 KiB boundary; $D018 = $18 shows the one at $2000"}},
        {0xF800, 2048, 0, 2, {"$D018 = $1E (POKE 53272,30) with the screen at $C400; bank 3 ($C000-$FFFF): $DD00 bits 0-1 = 0"}},
        {0xC000, 2048, 0, 3, {"$D018 = $10", "share $C400-$C7E7"}},
        {0x9800, 2048, 0, 3, {"bank 2", "at $9000-$9FFF"}},
        {0x0000, 2048, 64, 4, {"$9005 = $F8 (POKE 36869,248)", "from tile 192 on", "share $0400-$07E7"}},
    };
    const struct fields { const char *first, *at; int tiles; bool made; const char* offer; } offers[] = {
        {" 64 ", "0x1c00\t", 256, true, "Offered: t, 1,538 bytes, for $1C00-$21FF, tiles 64 to 255"},
        {"255", "$fff8", 256, true, "Offered: t, 10 bytes, for $FFF8-$FFFF, tiles 255 to 255"},
        {"", "63489", 256, true, "Nothing offered. Load address $F801: the charset's 2048 bytes would run past $FFFF (the last address that fits them is $F800)."},
        {"300", "$F900", 256, true, "Nothing offered. Load address $F900: the charset's 2048 bytes would run past $FFFF (the last address that fits them is $F800)."},
        {"", " $1g", 256, true, "Nothing offered. Load address $1g: write it as $2000, 0x2000 or 8192."},
        {"1e2", "0X2000", 200, true, "Nothing offered. First tile 1e2: write a tile number from 0 to 199."},
        {"", "abc", 0, false, "Nothing offered. glyphor made no charset."},
    };
    // clang-format on
    std::vector<std::uint8_t> charset = test::random_bytes(2048);
    int tile = 0;  // each row in row 5 of a tile of its own
    for (const row& r : rows) {
        charset[static_cast<std::size_t>(tile = (tile + 37) % 256) * 8 + 5] = r.bits;
        const bmp::rgb_image image = draw_charset_on(r.colours, charset.data(), 256);
        for (int x = 0; x < 8; ++x)
            EXPECT_TRUE(image.at(tile % 32 * 8 + x, tile / 32 * 8 + 5) ==
                        machine_rgb(r.colours.vic20, r.shown[x]))
                << "tile " << tile << " pixel " << x;
    }
    char text[2048];
    for (const address& a : addresses) {
        text_out out{text, sizeof text};
        explain_address(out, a.at, a.size, a.first, false);
        explain_address(out, a.at, a.size, a.first, true);
        const std::string said(text, out.size);
        for (const char* part : a.says) EXPECT_NE(said.find(part), std::string::npos) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), a.lines) << said;
    }
    for (const fields& f : offers) {
        text_out line{text, sizeof text};
        EXPECT_EQ(write_offer(line, "t", read_file_fields(f.first, f.at, f.tiles), f.made),
                  f.offer[0] == 'O');
        EXPECT_EQ(std::string(text, line.size), f.offer);
    }
    // Tile 37 (row 5 $A5 above) of a file of tiles 10 to 199 loaded at $2000.
    text_out about{text, sizeof text};
    describe_tile(about, charset.data(), 200, 37, {10, 190, 0x2000});
    EXPECT_NE(std::string(text).find("Offset 218 in the file, address $20D8\n"), std::string::npos);
    EXPECT_NE(std::string(text).find("\n$A5 %10100101\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace glyphor
