// Runs the built program as a user would and checks its console text, exit
// status, standard error and output files. Its options are those of main's usage.

#include <gtest/gtest.h>

#include <iconv.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>

#include "file_bytes.h"
#include "messages.h"
#include "support.h"

namespace glyphor {
namespace {

struct cli_options {
    std::string program;              // --program, as find_program finds it
    std::vector<std::string> runner;  // --runner: a command prefix (an emulator) put before it
    std::string argv0;                // --argv0: argument 0 as it sees it (default: as found)
    bool crlf = false;                // --newline=crlf: "\r\n" line ends, as on a Windows console
    std::string console_charset;      // iconv's name of the code page file names are printed in
    bool windows = false;             // --system=windows: no SIGXFSZ to ignore, no /dev/stdin
};
cli_options options;

// A UTF-8 file name as the program prints it: unchanged, or in the console's
// charset with '?' for each character the charset cannot hold.
std::string shown(const std::string& name) {
    if (options.console_charset.empty()) return name;
    iconv_t opened = iconv_open(options.console_charset.c_str(), "UTF-8");
    // iconv_open reports failure as (iconv_t)-1.
    if (reinterpret_cast<std::intptr_t>(opened) == -1) {
        ADD_FAILURE() << "iconv knows no charset " << options.console_charset;
        return name;
    }
    const std::unique_ptr<void, int (*)(iconv_t)> converter{opened, iconv_close};
    std::string in = name;
    std::string out;
    char* next = in.data();
    std::size_t left = in.size();
    while (left > 0) {
        char block[64];
        char* end = block;
        std::size_t room = sizeof block;
        const std::size_t result = iconv(opened, &next, &left, &end, &room);
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

using test::run_result;
using test::said;

// The whole console text of a run that ends with message key, naming file as
// the console shows it.
template <message key, typename... File>
std::string says(const File&... file) {
    return banner + said<key>(shown(file).c_str()...);
}

std::string success(const std::string& output, int tiles) {
    return banner + said<success_1>(shown(output).c_str(), tiles, tiles * 8) + said<success_2>();
}

void expect_run(const run_result& result, std::string out, int status) {
    for (std::size_t at = 0; options.crlf && (at = out.find('\n', at)) != std::string::npos;
         at += 2) {
        out.insert(at, 1, '\r');
    }
    EXPECT_EQ(result.out, out);
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(result.err, "") << "nothing may go to standard error";
}

// A run's arguments, what it must print and return, and how it is set up.
struct run_case {
    std::vector<std::string> args;
    std::string says;
    int status;
    test::run_options how = {};
};

struct cli : ::testing::Test {
    test::temp_dir dir;
    std::string path(const std::string& name) const { return dir.file(name); }
    // Runs the program in the test's folder with args, set up as how says.
    run_result run(const std::vector<std::string>& args, const test::run_options& how = {}) {
        std::vector<std::string> words = options.runner;
        words.push_back(options.program);
        words.insert(words.end(), args.begin(), args.end());
        return test::run_program(words, dir.path(), how);
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

// Each tileset case with each of its counts, then with the default count from
// a file and through a pipe ("convert art.png bmp:- | glyphor /dev/stdin
// charset.bin"), which cannot seek and must give exactly what the file gives.
// A count outside 0..256 is refused before any file is opened.
TEST_F(cli, every_tileset_case_with_its_counts_from_a_file_and_a_pipe) {
    for (const test::tileset_case& c : test::tileset_cases()) {
        SCOPED_TRACE(c.name);
        save("in.bmp", c.bytes);
        for (std::size_t i = 0; i <= c.counts.size(); ++i) {
            const bool by_default = i == c.counts.size();
            // A lone "256" gives what the default gives: the default stands for it.
            if (!by_default && c.counts.size() == 1 && c.counts[i].text == "256") continue;
            const int tiles = by_default ? 256 : c.counts[i].tiles;
            std::vector<std::string> args = {"in.bmp", "out.bin"};
            if (!by_default) args.push_back(c.counts[i].text);
            SCOPED_TRACE("count \"" + (by_default ? "(none)" : args[2]) + "\"");
            const bool converts = tiles >= 0 && c.outcome == load_outcome::loaded;
            const std::string said_text =
                tiles < 0                            ? says<count_range>()
                : c.outcome == load_outcome::not_bmp ? says<not_bmp>()
                : c.outcome == load_outcome::bad_geometry
                    ? banner + said<bad_geometry>() +
                          std::apply([](auto... v) { return said<actual_geometry>(v...); }, c.found)
                    : success("out.bin", tiles);
            std::vector<std::string> inputs = {"in.bmp"};
            if (tiles < 0) inputs.emplace_back("missing.bmp");
            // Windows has no /dev/stdin: main says so once.
            if (by_default && !options.windows) inputs.emplace_back("/dev/stdin");
            for (const std::string& input : inputs) {
                args[0] = input;
                expect_run(run(args, {.input = input == "/dev/stdin" ? std::optional{c.bytes}
                                                                     : std::nullopt}),
                           said_text, converts ? 0 : 1);
                if (converts && tiles > 0) {
                    EXPECT_EQ(test::read_file(path("out.bin")),
                              test::expected_charset(c.bytes, tiles));
                } else {
                    EXPECT_FALSE(test::file_exists(path("out.bin")));
                }
                std::filesystem::remove(path("out.bin"));
            }
        }
    }
    EXPECT_EQ(folder_contents(), std::vector<std::string>{"in.bmp"});
}

// A file's pixels may start as far as a signed 32-bit seek reaches, which is
// where a 32-bit long stops: 2^31 - 1 is read (from a sparse file), 2^31 is not.
TEST_F(cli, the_farthest_pixel_offset_is_the_largest_signed_32_bit_one) {
    const bmp::rgb_image image = test::random_tileset(28);
    const std::vector<std::uint8_t> plain = bmp::encode(image);
    const std::ptrdiff_t start = bmp::get_le32(plain, bmp_field::pixel_offset);
    const std::uint8_t* pixels = plain.data() + start;
    for (const std::uint32_t offset : {0x7FFFFFFFU, 0x80000000U}) {
        SCOPED_TRACE(offset);
        const bool reached = offset == 0x7FFFFFFFU;
        std::vector<std::uint8_t> header(plain.begin(), plain.begin() + start);
        bmp::put_le32(header, bmp_field::pixel_offset, offset);
        save("far.bmp", header);
        {
            const file_handle far{std::fopen(path("far.bmp").c_str(), "r+b")};
            ASSERT_TRUE(far && fseeko(far.get(), off_t{offset}, SEEK_SET) == 0);
            ASSERT_EQ(std::fwrite(pixels, 1, pixel_block_size, far.get()), pixel_block_size);
        }
        expect_run(run({"far.bmp", "out.bin"}), reached ? success("out.bin", 256) : says<not_bmp>(),
                   reached ? 0 : 1);
        if (reached) {
            EXPECT_EQ(test::read_file(path("out.bin")), test::expected_charset(pixels, true, 256));
        }
    }
}

// The console's own file or pipe cannot be the charset too: the text would be
// mixed into it, so it is refused before anything is written; a device takes
// both (/dev/null as both checks a tileset). A reader that has gone away (a
// pipe closed early) ends no run by a signal: a charset written to it has
// failed (status 1), one written to a file has not, though the console text is
// lost (status 0); with no standard output at all (`>&-`) the output is not
// taken for it. Under Wine /dev/stdout is not the program's own standard
// output: the rows that name a device are left out there.
TEST_F(cli, the_console_is_no_output_and_a_closed_one_fails_only_a_charset_sent_to_it) {
    const std::vector<std::uint8_t> tileset = bmp::encode(test::random_tileset(29));
    save("in.bmp", tileset);
    const test::run_options closed{.output_closed = true};
    const test::run_options to_file{.output_file = path("console.txt")};
    const test::run_options piped{.output_piped = true};
    for (const run_case& c : std::vector<run_case>{
             {{"in.bmp", "out.bin"}, "", 0, closed},
             {{"in.bmp", "console.txt"}, says<create_failed>("console.txt"), 1, to_file},
             {{"in.bmp", "/dev/stdout"}, "", 1, closed},
             {{"in.bmp", "/dev/stdout"}, says<create_failed>("/dev/stdout"), 1, to_file},
             {{"in.bmp", "/dev/stdout", "3"}, says<create_failed>("/dev/stdout"), 1, piped},
             {{"in.bmp", "/dev/null"}, "", 0, {.output_file = "/dev/null"}},
             {{"in.bmp", "out.bin"}, "", 0, {.output_shut = true}}}) {
        if (options.windows && c.args[1].rfind("/dev/", 0) == 0) continue;
        if (c.how.output_shut && !options.runner.empty()) continue;  // an emulator may take fd 1
        SCOPED_TRACE(c.args[1] + (c.how.output_closed ? ", closed" : ""));
        expect_run(run(c.args, c.how), c.says, c.status);
    }
    EXPECT_EQ(test::read_file(path("out.bin")), test::expected_charset(tileset, 256));
}

// A failed write (past a file-size limit, as on a full disk) leaves every file
// as it was and adds none; a good one replaces the file the name leads to: the
// tileset itself, a name no single-byte ANSI code page holds whole (which a
// Windows program must take and open in wide characters), or the file a
// symbolic link names, in its own folder, the link staying a link. Under Wine
// the links are Unix ones, which a Windows program sees as the files they name
// (and Wine cannot make Windows links): there this checks what Wine users get,
// not how the program follows a Windows link.
TEST_F(cli, a_failed_write_keeps_every_file_and_a_good_one_replaces_the_named_one) {
    const std::vector<std::uint8_t> tileset = bmp::encode(test::random_tileset(24));
    const std::vector<std::uint8_t> old = test::random_bytes(2048);
    struct output_case {
        std::string input, output, file;  // file: what output leads to, "" where there is none
        int tiles;
    };
    for (const output_case& c : {output_case{"in.bmp", "out.bin", "", 256},
                                 {"in.bmp", "old.bin", "old.bin", 256},
                                 {"same.bmp", "same.bmp", "same.bmp", 100},
                                 {"日本語.bmp", "café-ταυτότητα.bin", "café-ταυτότητα.bin", 200},
                                 {"in.bmp", "link.bin", "out/charset.bin", 256}}) {
        SCOPED_TRACE(c.output);
        for (const std::string& name : folder_contents()) std::filesystem::remove_all(path(name));
        save(c.input, tileset);
        const bool link = !c.file.empty() && c.file != c.output;
        if (link) std::filesystem::create_directory(path("out"));
        if (link) std::filesystem::create_symlink(c.file, path(c.output));
        if (!c.file.empty() && c.file != c.input) save(c.file, old);
        const std::vector<std::uint8_t> before =
            c.file.empty() ? old : test::read_file(path(c.file));
        const std::vector<std::string> names = folder_contents();
        // `ulimit -f 1` as a shell leaves it: SIGXFSZ would end the program half
        // way through the write, silent. Windows has no such signal (and Wine would
        // be ended by it in the program's place): there the limit only fails writes.
        expect_run(run({c.input, c.output},
                       {.file_size_limit = 1000, .size_signal_ignored = options.windows}),
                   says<write_failed>(c.output), 1);
        EXPECT_EQ(folder_contents(), names);
        if (!c.file.empty()) {
            EXPECT_EQ(test::read_file(path(c.file)), before);
        }
        expect_run(run({c.input, c.output, std::to_string(c.tiles)}), success(c.output, c.tiles),
                   0);
        EXPECT_EQ(test::read_file(path(c.file.empty() ? c.output : c.file)),
                  test::expected_charset(tileset, c.tiles));
        EXPECT_EQ(std::filesystem::is_symlink(path(c.output)), link);
        EXPECT_EQ(folder_contents().size(), names.size() + (c.file.empty() ? 1 : 0));
    }
    // The last row's link, once it leads nowhere: the file is made where it points.
    std::filesystem::remove(path("out/charset.bin"));
    expect_run(run({"in.bmp", "link.bin"}), success("link.bin", 256), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(path("link.bin")));
    EXPECT_EQ(test::read_file(path("out/charset.bin")), test::expected_charset(tileset, 256));
}

// What cannot be opened, created or written is said, and a wrong number of
// arguments with the usage; a device is not removed, nor a link to it; with a
// count of 0 the output's name is not even looked at.
TEST_F(cli, failures_are_said_and_leave_what_was_there) {
    save("in.bmp", bmp::encode(test::random_tileset(25)));
    save("bad.bmp", {'B', 'M'});
    save("out.bin", {'k', 'e', 'e', 'p'});
    std::filesystem::create_directory(path("folder.bmp"));
    std::filesystem::create_symlink("/dev/full", path("full.bin"));
    struct stat device {};
    const bool full_device = stat("/dev/full", &device) == 0;
    const std::string& name = options.argv0;
    const std::string usage = banner + said<usage_1>(name.c_str()) + said<usage_2>(name.c_str()) +
                              said<usage_3>(name.c_str());
    std::vector<run_case> failures = {
        {{}, usage, 1},
        {{"in.bmp"}, usage, 1},
        {{"in.bmp", "out.bin", "8", "extra"}, usage, 1},
        {{"a", "b", "c", "d", "e"}, usage, 1},
        {{"missing.bmp", "x.bin"}, says<open_failed>("missing.bmp"), 1},
        {{"folder.bmp", "x.bin"}, says<open_failed>("folder.bmp"), 1},
        {{"ταυτότητα.bmp", "x.bin"}, says<open_failed>("ταυτότητα.bmp"), 1},
        {{"in.bmp", "missing/out.bin"}, says<create_failed>("missing/out.bin"), 1},
        {{"in.bmp", "日本/out.bin"}, says<create_failed>("日本/out.bin"), 1},
        {{"in.bmp", "out.bin", "0"}, success("out.bin", 0), 0},
        {{"in.bmp", "no/such/folder/out.bin", "0"}, success("no/such/folder/out.bin", 0), 0},
        {{"bad.bmp", "out.bin", "0"}, says<not_bmp>(), 1},
    };
    for (const char* full : {"/dev/full", "full.bin"}) {
        if (full_device) failures.push_back({{"in.bmp", full}, says<write_failed>(full), 1});
    }
    for (const run_case& f : failures) {
        SCOPED_TRACE(::testing::PrintToString(f.args));
        expect_run(run(f.args), f.says, f.status);
    }
    EXPECT_EQ(test::read_file(path("out.bin")), (std::vector<std::uint8_t>{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(folder_contents(),
              (std::vector<std::string>{"bad.bmp", "folder.bmp", "full.bin", "in.bmp", "out.bin"}));
    EXPECT_TRUE(std::filesystem::is_symlink(path("full.bin")));
    EXPECT_TRUE(!full_device || (stat("/dev/full", &device) == 0 && S_ISCHR(device.st_mode)));
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
    // Wine's server process, not the program's own standard input: the
    // tilesets are not given through a pipe there, and the log says so.
    if (options.windows) {
        std::printf(
            "cli_tests: a Windows program has no /dev/stdin, so no tileset is given "
            "through a pipe\n");
    }
    return RUN_ALL_TESTS();
}
