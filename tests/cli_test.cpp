// Runs the built program as a user would and checks its console text, exit
// status, standard error and output files.
//
//   cli_tests --program=PATH [--runner="wine"] [--argv0=TEXT] [--newline=crlf]
//             [--console-charset=NAME] [--system=windows]
//
// PATH is found as the shell finds a command: a name with a slash from the
// current folder, a bare name in the folders of the PATH variable; with
// --runner, which opens it as a file, from the current folder either way.
// Where there is no such program the suite stops at once, saying so. --runner
// is a command prefix (an emulator) put before the program; --argv0 is
// argument 0 as the program will see it (default: the program as found, an
// absolute path); --newline=crlf expects "\r\n" line ends, as a Windows
// console program writes them; --console-charset names (for iconv) the code
// page the program prints file names in, where it converts them (default:
// printed as given); --system=windows says the program is a Windows one,
// which has no SIGXFSZ to ignore and no /dev/stdin to read a pipe by (the
// suite leaves out the pipe test and says so).

#include <gtest/gtest.h>

#include <fcntl.h>
#include <iconv.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "file_bytes.h"
#include "support.h"

namespace glyphor {
namespace {

struct cli_options {
    std::string program;
    std::vector<std::string> runner;
    std::string argv0;
    bool crlf = false;
    std::string console_charset;
    bool windows = false;
};
cli_options options;

// A UTF-8 file name as the program prints it: unchanged, or in the console's
// charset with '?' for each character the charset cannot hold.
std::string shown(const std::string& name) {
    if (options.console_charset.empty()) return name;
    struct converter {
        iconv_t handle = iconv_open(options.console_charset.c_str(), "UTF-8");
        ~converter() {
            if (!failed()) iconv_close(handle);
        }
        // iconv_open reports failure as (iconv_t)-1.
        bool failed() const { return reinterpret_cast<std::intptr_t>(handle) == -1; }
    } converter;
    if (converter.failed()) {
        ADD_FAILURE() << "iconv knows no charset " << options.console_charset;
        return name;
    }
    std::string in = name;
    std::string out;
    char* next = in.data();
    std::size_t left = in.size();
    while (left > 0) {
        char block[64];
        char* end = block;
        std::size_t room = sizeof block;
        const std::size_t result = iconv(converter.handle, &next, &left, &end, &room);
        out.append(block, end);
        if (result != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
        if (errno != EILSEQ) break;  // a truncated character: nothing more to show
        out += '?';
        do {
            ++next;
            --left;
        } while (left > 0 && (static_cast<unsigned char>(*next) & 0xC0U) == 0x80U);
    }
    return out;
}

const std::string banner =
    "\n"
    "    **** COMMODORE 64 / VIC-20 TOOL ****    \n"
    "                                            \n"
    "                  GLYPHOR                   \n"
    "  GENERATEUR DE CHARSET POUR COMMODORE 8-BIT\n"
    "                                            \n"
    "   des pixels aux octets, tuile par tuile   \n"
    "--------------------------------------------\n"
    "\n";

std::string success(const std::string& output, int tiles) {
    return banner + "Succes ! Fichier " + output + " genere avec " + std::to_string(tiles) +
           " tuiles (" + std::to_string(tiles * 8) + " octets).\nPret pour le retro-coding !\n\n";
}

const std::string count_range = banner + "Erreur: Le nombre de tiles doit etre entre 0 et 256.\n";
const std::string not_bmp = banner + "Erreur: Ce n'est pas un fichier BMP valide.\n";

std::string bad_geometry(const std::string& actual) {
    return banner +
           "Erreur: L'image doit faire exactement 256x64 pixels en 24 bits RGB.\nActuel: " +
           actual + "\n";
}

using test::run_result;

// Runs the program in folder with args, set up as how says.
run_result run_in(const std::string& folder, const std::vector<std::string>& args,
                  const test::run_options& how = {}) {
    std::vector<std::string> words = options.runner;
    words.push_back(options.program);
    words.insert(words.end(), args.begin(), args.end());
    return test::run_program(words, folder, how);
}

std::string console(std::string text) {
    if (!options.crlf) return text;
    for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2) {
        text.insert(at, 1, '\r');
    }
    return text;
}

void expect_run(const run_result& result, const std::string& out, int status) {
    EXPECT_EQ(result.out, console(out));
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(result.err, "") << "nothing may go to standard error";
}

struct cli : ::testing::Test {
    test::temp_dir dir;
    std::string path(const std::string& name) const { return dir.file(name); }
    run_result run(const std::vector<std::string>& args, const test::run_options& how = {}) {
        return run_in(dir.path(), args, how);
    }
    void save(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
        ASSERT_TRUE(write_file_bytes(path(name).c_str(), bytes));
    }
    std::vector<std::string> folder_contents() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }
};

TEST_F(cli, wrong_argument_counts_print_the_banner_and_usage) {
    const std::string& name = options.argv0;
    const std::string usage = banner + "Usage: " + name +
                              " <tileset.bmp> <sortie.bin> [nombre_de_tiles]\nExemple 1: " + name +
                              " font.bmp charset.bin\nExemple 2: " + name +
                              " font.bmp charset.bin 128\n";
    for (const std::vector<std::string>& args : {std::vector<std::string>{},
                                                 {"in.bmp"},
                                                 {"in.bmp", "out.bin", "8", "extra"},
                                                 {"a", "b", "c", "d", "e"}}) {
        SCOPED_TRACE(args.size());
        expect_run(run(args), usage, 1);
    }
    EXPECT_TRUE(folder_contents().empty());
}

TEST_F(cli, tile_count_is_read_like_atoi_and_checked_before_any_file) {
    const std::vector<std::uint8_t> tileset = bmp::encode(test::random_tileset(20));
    save("in.bmp", tileset);
    const std::vector<std::uint8_t> all = test::expected_charset(tileset, 256);
    struct count_case {
        const char* argument;
        int tiles;  // -1: out of range
    };
    for (const count_case c : {count_case{"256", 256},
                               {"0", 0},
                               {"1", 1},
                               {"32", 32},
                               {"128", 128},
                               {"12abc", 12},
                               {" 7", 7},
                               {"+7", 7},
                               {"\t 0009x", 9},
                               {"abc", 0},
                               {"", 0},
                               {"-0", 0},
                               {"１２", 0},  // full-width digits are not digits
                               {"257", -1},
                               {"-1", -1},
                               {"2147483647", -1},
                               {"2147483648", -1},
                               {"4294967296", -1},
                               {"4294967552", -1},
                               {"-4294967296", -1},
                               {"99999999999999999999999", -1}}) {
        SCOPED_TRACE(std::string{"count \""} + c.argument + "\"");
        std::filesystem::remove(path("out.bin"));
        if (c.tiles < 0) {
            expect_run(run({"in.bmp", "out.bin", c.argument}), count_range, 1);
            expect_run(run({"missing.bmp", "out.bin", c.argument}), count_range, 1);
            EXPECT_FALSE(test::file_exists(path("out.bin")));
            continue;
        }
        expect_run(run({"in.bmp", "out.bin", c.argument}), success("out.bin", c.tiles), 0);
        if (c.tiles == 0) {
            EXPECT_FALSE(test::file_exists(path("out.bin")));
        } else {
            const std::ptrdiff_t size = std::ptrdiff_t{c.tiles} * 8;
            EXPECT_EQ(test::read_file(path("out.bin")),
                      std::vector<std::uint8_t>(all.begin(), all.begin() + size));
        }
    }
    // Two user arguments: the default count.
    expect_run(run({"in.bmp", "out.bin"}), success("out.bin", 256), 0);
    EXPECT_EQ(test::read_file(path("out.bin")), all);
}

TEST_F(cli, every_accepted_layout_converts_to_the_same_charset) {
    const bmp::rgb_image image = test::random_tileset(21);
    const std::vector<std::uint8_t> expected = test::expected_charset(bmp::encode(image), 256);
    std::vector<std::vector<std::uint8_t>> files = {
        bmp::encode(image, {.top_down = true}),
        bmp::encode(image, {.info_header_size = 108}),
        bmp::encode(image, {.top_down = true, .info_header_size = 124}),
        bmp::encode(image, {.compression = 1, .gap = 1024}),
    };
    files.push_back(bmp::encode(image));
    files.back().insert(files.back().end(), 5000, 0xEE);  // trailing bytes are ignored
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(i);
        save("in.bmp", files[i]);
        expect_run(run({"in.bmp", "out.bin"}), success("out.bin", 256), 0);
        EXPECT_EQ(test::read_file(path("out.bin")), expected);
    }

    // Solid sheets, and pixels taken from wherever the offset points, even the header.
    save("white.bmp", bmp::encode(bmp::rgb_image{256, 64, {255, 255, 255}}));
    expect_run(run({"white.bmp", "out.bin"}), success("out.bin", 256), 0);
    EXPECT_EQ(test::read_file(path("out.bin")), std::vector<std::uint8_t>(2048, 0xFF));
    std::vector<std::uint8_t> from_zero = bmp::encode(image);
    bmp::put_le32(from_zero, 10, 0);
    save("in.bmp", from_zero);
    expect_run(run({"in.bmp", "out.bin", "64"}), success("out.bin", 64), 0);
    const std::vector<std::uint8_t> header_pixels = test::expected_charset(from_zero, 64);
    EXPECT_EQ(test::read_file(path("out.bin")), header_pixels);
}

TEST_F(cli, unreadable_tilesets_are_reported_and_leave_no_output) {
    const std::vector<std::uint8_t> good = bmp::encode(test::random_tileset(22));
    std::filesystem::create_directory(path("folder.bmp"));
    expect_run(run({"missing.bmp", "out.bin"}),
               banner + "Erreur: Impossible d'ouvrir le fichier missing.bmp\n", 1);
    expect_run(run({"folder.bmp", "out.bin"}),
               banner + "Erreur: Impossible d'ouvrir le fichier folder.bmp\n", 1);

    std::vector<std::uint8_t> offset_far = good;
    bmp::put_le32(offset_far, 10, 0x80000000U);
    std::vector<std::uint8_t> offset_end = good;
    bmp::put_le32(offset_end, 10, static_cast<std::uint32_t>(good.size()));
    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    png.resize(good.size(), 0);
    for (const std::vector<std::uint8_t>& bytes :
         {png, std::vector<std::uint8_t>(good.begin(), good.begin() + 33),
          std::vector<std::uint8_t>(good.begin(), good.end() - 100), offset_far, offset_end,
          std::vector<std::uint8_t>{}}) {
        save("in.bmp", bytes);
        expect_run(run({"in.bmp", "out.bin"}), not_bmp, 1);
    }

    struct geometry_case {
        int width, height;
        std::uint16_t bits;
        const char* actual;
    };
    for (const geometry_case g : {geometry_case{256, 64, 32, "256x64, 32 bits"},
                                  {256, -64, 8, "256x64, 8 bits"},
                                  {128, 64, 24, "128x64, 24 bits"},
                                  {256, 63, 24, "256x63, 24 bits"}}) {
        save("in.bmp", bmp::encode(bmp::rgb_image{g.width, g.height < 0 ? -g.height : g.height},
                                   {.top_down = g.height < 0, .bits_per_pixel = g.bits}));
        expect_run(run({"in.bmp", "out.bin", "0"}), bad_geometry(g.actual), 1);
    }
    // The header is 34 bytes: they alone are enough to find the geometry.
    const std::vector<std::uint8_t> narrow = bmp::encode(bmp::rgb_image{128, 64});
    save("in.bmp", {narrow.begin(), narrow.begin() + 34});
    expect_run(run({"in.bmp", "out.bin"}), bad_geometry("128x64, 24 bits"), 1);
    std::vector<std::uint8_t> patched = good;
    bmp::put_le32(patched, 18, static_cast<std::uint32_t>(-256));
    save("in.bmp", patched);
    expect_run(run({"in.bmp", "out.bin"}), bad_geometry("-256x64, 24 bits"), 1);
    patched = good;
    bmp::put_le32(patched, 22, 0x80000000U);
    save("in.bmp", patched);
    expect_run(run({"in.bmp", "out.bin"}), bad_geometry("256x2147483648, 24 bits"), 1);

    EXPECT_EQ(folder_contents(), (std::vector<std::string>{"folder.bmp", "in.bmp"}));
}

// "convert art.png bmp:- | glyphor /dev/stdin charset.bin": a stream that
// cannot seek must give exactly what a file of the same bytes gives.
TEST_F(cli, a_tileset_through_a_pipe_gives_what_the_file_gives) {
    struct stat stdin_file {};  // lstat: the link itself, whatever this process's input is
    if (lstat("/dev/stdin", &stdin_file) != 0) GTEST_SKIP() << "this system has no /dev/stdin";
    const bmp::rgb_image image = test::random_tileset(27);
    const std::vector<std::uint8_t> plain = bmp::encode(image);
    auto with_offset = [&](std::uint32_t offset) {
        std::vector<std::uint8_t> bytes = plain;
        bmp::put_le32(bytes, 10, offset);
        return bytes;
    };
    const std::vector<std::vector<std::uint8_t>> files = {
        plain,                                                      // offset 54
        with_offset(0),                                             // the header is pixels too
        with_offset(20),                                            // inside the header
        with_offset(33),                                            // the last header byte
        with_offset(34),                                            // right after it
        with_offset(35),                                            // a gap of one byte
        bmp::encode(image, {.top_down = true, .gap = 150000}),      // a gap of three blocks
        std::vector<std::uint8_t>(plain.begin(), plain.end() - 1),  // ends one byte early
        std::vector<std::uint8_t>(plain.begin(), plain.begin() + 33),
        with_offset(static_cast<std::uint32_t>(plain.size() + 10)),  // ends before the pixels
        with_offset(0x80000000U),
        {},
    };
    const std::size_t loading = 7;  // the first seven load, the others hold no whole tileset
    auto charset = [&] {
        std::vector<std::uint8_t> bytes;
        if (test::file_exists(path("out.bin"))) bytes = test::read_file(path("out.bin"));
        std::filesystem::remove(path("out.bin"));
        return bytes;
    };
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(i);
        save("in.bmp", files[i]);
        const run_result from_file = run({"in.bmp", "out.bin"});
        const std::vector<std::uint8_t> file_charset = charset();
        const run_result from_pipe = run({"/dev/stdin", "out.bin"}, {.input = files[i]});
        EXPECT_EQ(from_file.status, i < loading ? 0 : 1);
        EXPECT_EQ(file_charset.size(), i < loading ? 2048U : 0U);
        EXPECT_EQ(from_pipe.status, from_file.status);
        EXPECT_EQ(from_pipe.out, from_file.out);
        EXPECT_EQ(from_pipe.err, from_file.err);
        EXPECT_EQ(charset(), file_charset);
    }
}

// A file's pixels may start as far as a signed 32-bit seek reaches, which is
// where a 32-bit long stops: 2^31 - 1 is read (from a sparse file), 2^31 is not.
TEST_F(cli, the_farthest_pixel_offset_is_the_largest_signed_32_bit_one) {
    const bmp::rgb_image image = test::random_tileset(28);
    const std::vector<std::uint8_t> plain = bmp::encode(image);
    const std::uint8_t* pixels = plain.data() + 54;
    for (const std::uint32_t offset : {0x7FFFFFFFU, 0x80000000U}) {
        SCOPED_TRACE(offset);
        std::vector<std::uint8_t> header(plain.begin(), plain.begin() + 54);
        bmp::put_le32(header, 10, offset);
        save("far.bmp", header);
        {
            const int file = open(path("far.bmp").c_str(), O_WRONLY);
            ASSERT_GE(file, 0);
            ASSERT_EQ(pwrite(file, pixels, pixel_block_size, off_t{offset}),
                      static_cast<ssize_t>(pixel_block_size));
            close(file);
        }
        if (offset == 0x7FFFFFFFU) {
            expect_run(run({"far.bmp", "out.bin"}), success("out.bin", 256), 0);
            EXPECT_EQ(test::read_file(path("out.bin")), test::expected_charset(pixels, true, 256));
        } else {
            expect_run(run({"far.bmp", "out.bin"}), not_bmp, 1);
        }
    }
}

// A reader that has gone away (a pipe closed early) ends no run by a signal:
// a charset written to it has failed (status 1); a charset written to a file
// has not, even though its console text is lost (status 0), nor where there
// is no standard output at all.
TEST_F(cli, a_closed_pipe_gives_status_1_or_0_as_the_charset_is_lost_or_not) {
    const std::vector<std::uint8_t> tileset = bmp::encode(test::random_tileset(29));
    save("in.bmp", tileset);
    run_result result = run({"in.bmp", "out.bin"}, {.output_closed = true});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(test::read_file(path("out.bin")), test::expected_charset(tileset, 256));
    // Under Wine /dev/stdout is not the program's own standard output.
    if (options.windows) return;
    result = run({"in.bmp", "/dev/stdout"}, {.output_closed = true});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "");
    // No standard output at all (`>&-`): the output is not taken for it.
    if (!options.runner.empty()) return;  // an emulator may take the number itself
    result = run({"in.bmp", "out.bin"}, {.output_shut = true});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(test::read_file(path("out.bin")), test::expected_charset(tileset, 256));
}

TEST_F(cli, count_zero_converts_but_leaves_the_output_path_alone) {
    save("in.bmp", bmp::encode(test::random_tileset(23)));
    save("out.bin", {'k', 'e', 'e', 'p'});
    expect_run(run({"in.bmp", "out.bin", "0"}), success("out.bin", 0), 0);
    EXPECT_EQ(test::read_file(path("out.bin")), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
    expect_run(run({"in.bmp", "no/such/folder/out.bin", "0"}), success("no/such/folder/out.bin", 0),
               0);
    save("bad.bmp", {'B', 'M'});
    expect_run(run({"bad.bmp", "out.bin", "0"}), not_bmp, 1);
}

// A failed write leaves the tileset as it was; a good one replaces it.
TEST_F(cli, the_tileset_may_be_replaced_by_its_own_charset) {
    const std::vector<std::uint8_t> tileset = bmp::encode(test::random_tileset(24));
    save("same.bmp", tileset);
    expect_run(run({"same.bmp", "same.bmp", "200"}, {.file_size_limit = 1000}),
               banner + "Erreur: Impossible d'ecrire le fichier de sortie same.bmp\n", 1);
    EXPECT_EQ(test::read_file(path("same.bmp")), tileset);
    expect_run(run({"same.bmp", "same.bmp", "100"}), success("same.bmp", 100), 0);
    EXPECT_EQ(test::read_file(path("same.bmp")), test::expected_charset(tileset, 100));
}

// The file or pipe the console text goes to cannot be the charset too: the
// text would be mixed into it, so it is refused before anything is written.
TEST_F(cli, the_console_file_or_pipe_is_refused_as_output_and_a_device_is_written) {
    const std::vector<std::uint8_t> tileset = bmp::encode(test::random_tileset(30));
    save("in.bmp", tileset);
    const std::string refused = banner + "Erreur: Impossible de creer le fichier de sortie ";
    expect_run(run({"in.bmp", "console.txt"}, {.output_file = path("console.txt")}),
               refused + "console.txt\n", 1);
    // Under Wine /dev/stdout is not the program's own standard output.
    if (options.windows) return;
    expect_run(run({"in.bmp", "/dev/stdout"}, {.output_file = path("console.txt")}),
               refused + "/dev/stdout\n", 1);
    expect_run(run({"in.bmp", "/dev/stdout", "3"}, {.output_piped = true}),
               refused + "/dev/stdout\n", 1);
    // A device takes both: /dev/null as the charset and as the console checks a tileset.
    expect_run(run({"in.bmp", "/dev/null"}, {.output_file = "/dev/null"}), "", 0);
}

// Names no single-byte ANSI code page holds whole: a Windows program must take
// its arguments and open its files in wide characters to reach them at all.
TEST_F(cli, file_names_beyond_the_ansi_code_page_open_and_print_as_the_console_can) {
    const std::string input = "日本語.bmp";
    const std::string output = "café-ταυτότητα.bin";
    const std::vector<std::uint8_t> tileset = bmp::encode(test::random_tileset(26));
    save(input, tileset);
    expect_run(run({input, output, "200"}), success(shown(output), 200), 0);
    EXPECT_EQ(test::read_file(path(output)), test::expected_charset(tileset, 200));

    expect_run(run({"ταυτότητα.bmp", output}),
               banner + "Erreur: Impossible d'ouvrir le fichier " + shown("ταυτότητα.bmp") + "\n",
               1);
    expect_run(
        run({input, "日本/out.bin"}),
        banner + "Erreur: Impossible de creer le fichier de sortie " + shown("日本/out.bin") + "\n",
        1);
    // A failed write keeps the old file under its wide name too, and leaves no other.
    expect_run(run({input, output}, {.file_size_limit = 1000}),
               banner + "Erreur: Impossible d'ecrire le fichier de sortie " + shown(output) + "\n",
               1);
    EXPECT_EQ(test::read_file(path(output)), test::expected_charset(tileset, 200));
    EXPECT_EQ(folder_contents(), (std::vector<std::string>{output, input}));
}

TEST_F(cli, output_failures_are_reported_and_leave_what_was_there) {
    save("in.bmp", bmp::encode(test::random_tileset(25)));
    expect_run(run({"in.bmp", "missing/out.bin"}),
               banner + "Erreur: Impossible de creer le fichier de sortie missing/out.bin\n", 1);

    // A disk that fills up part way: no file appears, and an old one stays as it was.
    const std::string write_failed = banner + "Erreur: Impossible d'ecrire le fichier de sortie ";
    expect_run(run({"in.bmp", "out.bin"}, {.file_size_limit = 1000}), write_failed + "out.bin\n",
               1);
    EXPECT_FALSE(test::file_exists(path("out.bin")));
    const std::vector<std::uint8_t> old = test::random_bytes(2048);
    save("old.bin", old);
    expect_run(run({"in.bmp", "old.bin"}, {.file_size_limit = 1000}), write_failed + "old.bin\n",
               1);
    EXPECT_EQ(test::read_file(path("old.bin")), old);
    EXPECT_EQ(folder_contents(), (std::vector<std::string>{"in.bmp", "old.bin"}));
    // `ulimit -f 1` as a shell leaves it: SIGXFSZ would end the program half
    // way through the write, silent. Windows has no such signal (and Wine would
    // be ended by it in the program's place): there the limit only fails writes.
    expect_run(run({"in.bmp", "out.bin"},
                   {.file_size_limit = 1024, .size_signal_ignored = options.windows}),
               write_failed + "out.bin\n", 1);
    EXPECT_FALSE(test::file_exists(path("out.bin")));

    // A full device: reported, and the device is not removed.
    struct stat device {};
    if (stat("/dev/full", &device) != 0) return;
    expect_run(run({"in.bmp", "/dev/full"}), write_failed + "/dev/full\n", 1);
    EXPECT_EQ(stat("/dev/full", &device), 0);
    EXPECT_TRUE(S_ISCHR(device.st_mode));
}

// Through a symbolic link the bytes replace the file the link names, in its
// own folder, or make it where there is none, and the link stays a link; a
// failed write leaves that file as it was. A link to a device leaves the device alone. Under Wine
// the links are Unix ones, which a Windows program sees as the files they name (and Wine cannot
// make Windows links): there this checks what Wine users get, not how the program follows a Windows
// link.
TEST_F(cli, a_link_stays_a_link_and_the_file_it_names_is_replaced_or_kept) {
    const std::vector<std::uint8_t> tileset = bmp::encode(test::random_tileset(27));
    save("in.bmp", tileset);
    std::filesystem::create_directory(path("out"));
    save("out/charset.bin", {'o', 'l', 'd'});
    std::filesystem::create_symlink("out/charset.bin", path("link.bin"));
    const std::string write_failed = banner + "Erreur: Impossible d'ecrire le fichier de sortie ";
    expect_run(run({"in.bmp", "link.bin"}, {.file_size_limit = 1000}), write_failed + "link.bin\n",
               1);
    EXPECT_EQ(test::read_file(path("out/charset.bin")), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    EXPECT_TRUE(std::filesystem::is_symlink(path("link.bin")));
    expect_run(run({"in.bmp", "link.bin"}), success("link.bin", 256), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(path("link.bin")));
    EXPECT_EQ(test::read_file(path("out/charset.bin")), test::expected_charset(tileset, 256));
    EXPECT_EQ(folder_contents(), (std::vector<std::string>{"in.bmp", "link.bin", "out"}));
    std::filesystem::remove(path("out/charset.bin"));  // a link that leads nowhere
    expect_run(run({"in.bmp", "link.bin"}), success("link.bin", 256), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(path("link.bin")));
    EXPECT_EQ(test::read_file(path("out/charset.bin")), test::expected_charset(tileset, 256));

    struct stat device {};
    if (stat("/dev/full", &device) != 0) return;
    std::filesystem::create_symlink("/dev/full", path("full.bin"));
    expect_run(run({"in.bmp", "full.bin"}), write_failed + "full.bin\n", 1);
    EXPECT_TRUE(std::filesystem::is_symlink(path("full.bin")));
    EXPECT_EQ(stat("/dev/full", &device), 0);
    EXPECT_TRUE(S_ISCHR(device.st_mode));
}

// The program as the shell finds it from the current folder, as an absolute
// path (the tests run it from folders of their own); empty when there is none.
std::string find_program(const std::string& name, bool by_runner) {
    namespace fs = std::filesystem;
    // By itself the program must be one this user may run; a runner only reads it.
    auto usable = [by_runner](const fs::path& path) {
        std::error_code error;
        return fs::is_regular_file(path, error) && (by_runner || access(path.c_str(), X_OK) == 0);
    };
    std::error_code error;
    if (by_runner || name.find('/') != std::string::npos) {
        const fs::path path = fs::absolute(name, error);
        return !error && usable(path) ? path.string() : std::string{};
    }
    // execvp's search: each folder of PATH in turn, an empty entry the current folder.
    const char* search = std::getenv("PATH");
    std::istringstream folders{search != nullptr ? search : "/bin:/usr/bin"};
    for (std::string folder; std::getline(folders, folder, ':');) {
        const fs::path path = fs::absolute(fs::path{folder.empty() ? "." : folder} / name, error);
        if (!error && usable(path)) return path.string();
    }
    return {};
}

}  // namespace
}  // namespace glyphor

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    using glyphor::options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* name) -> std::optional<std::string> {
            const std::string prefix = std::string{"--"} + name + "=";
            if (arg.rfind(prefix, 0) != 0) return std::nullopt;
            return arg.substr(prefix.size());
        };
        if (auto program = value("program")) {
            options.program = *program;
        } else if (auto runner = value("runner")) {
            std::istringstream words{*runner};
            for (std::string word; words >> word;) options.runner.push_back(word);
        } else if (auto argv0 = value("argv0")) {
            options.argv0 = *argv0;
        } else if (auto newline = value("newline")) {
            options.crlf = *newline == "crlf";
        } else if (auto charset = value("console-charset")) {
            options.console_charset = *charset;
        } else if (auto system = value("system")) {
            options.windows = *system == "windows";
        } else {
            std::fprintf(stderr, "unknown option %s\n", arg.c_str());
            return 2;
        }
    }
    if (options.program.empty() && !::testing::GTEST_FLAG(list_tests)) {
        std::fprintf(stderr,
                     "usage: %s --program=PATH [--runner=PREFIX] [--argv0=TEXT] "
                     "[--newline=crlf] [--console-charset=NAME] [--system=windows]\n",
                     argv[0]);
        return 2;
    }
    if (!::testing::GTEST_FLAG(list_tests)) {
        const std::string found = glyphor::find_program(options.program, !options.runner.empty());
        if (found.empty()) {
            std::fprintf(stderr, "program not found: %s\n", options.program.c_str());
            return 2;
        }
        options.program = found;
    }
    if (options.argv0.empty()) options.argv0 = options.program;
    // Windows has no /dev/stdin; under Wine the name reaches the Unix file of
    // Wine's server process, not the program's own standard input. The test
    // has nothing to run there, so it is not run, and the log says why.
    if (options.windows) {
        std::string& filter = ::testing::GTEST_FLAG(filter);
        filter += filter.find('-') == std::string::npos ? "-" : ":";
        filter += "cli.a_tileset_through_a_pipe_gives_what_the_file_gives";
        std::printf(
            "cli_tests: a Windows program has no /dev/stdin, so the test of a tileset "
            "through a pipe is not run\n");
    }
    return RUN_ALL_TESTS();
}
