#include "support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <random>
#include <stdexcept>
#include <utility>

#include "file_bytes.h"

namespace glyphor::test {

namespace field = bmp_field;

temp_dir::temp_dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "glyphor-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

temp_dir::~temp_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::uint8_t> read_file(const std::string& path) {
    std::optional<std::vector<std::uint8_t>> bytes = read_file_bytes(path.c_str());
    if (!bytes) throw std::runtime_error("cannot read " + path);
    return std::move(*bytes);
}

bool file_exists(const std::string& path) {
    std::error_code ignored;
    return std::filesystem::symlink_status(path, ignored).type() !=
           std::filesystem::file_type::not_found;
}

bmp::rgb_image random_tileset(unsigned seed) {
    std::mt19937 random{seed};
    std::uniform_int_distribution<int> byte{0, 255};
    std::uniform_int_distribution<int> near_threshold{380, 388};
    bmp::rgb_image image{256, 64};
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 256; ++x) {
            bmp::rgb& pixel = image.at(x, y);
            if (byte(random) < 128) {
                pixel = {static_cast<std::uint8_t>(byte(random)),
                         static_cast<std::uint8_t>(byte(random)),
                         static_cast<std::uint8_t>(byte(random))};
                continue;
            }
            // Split a sum near 384 over the three channels.
            const int sum = near_threshold(random);
            const int red = std::uniform_int_distribution<int>{sum - 510, 255}(random);
            const int rest = sum - (red < 0 ? 0 : red);
            const int green = rest > 255 ? 255 : rest;
            pixel = {static_cast<std::uint8_t>(red < 0 ? 0 : red), static_cast<std::uint8_t>(green),
                     static_cast<std::uint8_t>(rest - green)};
        }
    }
    return image;
}

std::vector<std::uint8_t> expected_charset(const std::uint8_t* block, bool bottom_up,
                                           int tile_count) {
    std::vector<std::uint8_t> charset(static_cast<std::size_t>(tile_count) * 8, 0);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 256; ++x) {
            const int tile = y / 8 * 32 + x / 8;
            if (tile >= tile_count) continue;
            const int stored_row = bottom_up ? 63 - y : y;
            const std::uint8_t* pixel = block + static_cast<std::size_t>(stored_row) * 768 +
                                        static_cast<std::size_t>(x) * 3;
            if ((pixel[0] + pixel[1] + pixel[2]) / 3 >= 128) {
                charset[static_cast<std::size_t>(tile) * 8 + static_cast<std::size_t>(y % 8)] |=
                    static_cast<std::uint8_t>(0x80U >> (x % 8));
            }
        }
    }
    return charset;
}

std::vector<std::uint8_t> expected_charset(const std::vector<std::uint8_t>& bmp_file,
                                           int tile_count) {
    const std::uint32_t offset = bmp::get_le32(bmp_file, field::pixel_offset);
    const bool bottom_up = (bmp::get_le32(bmp_file, field::height) & 0x80000000U) == 0;
    if (bmp_file.size() < offset + 49152ULL) throw std::runtime_error("fixture too short");
    return expected_charset(bmp_file.data() + offset, bottom_up, tile_count);
}

std::vector<std::uint8_t> random_bytes(std::size_t n) {
    std::mt19937 random{static_cast<std::mt19937::result_type>(n)};
    std::vector<std::uint8_t> bytes(n);
    for (std::uint8_t& byte : bytes) byte = static_cast<std::uint8_t>(random());
    return bytes;
}

std::vector<tileset_case> tileset_cases() {
    using bytes = std::vector<std::uint8_t>;
    const bmp::rgb_image image = random_tileset(21);
    const bytes plain = bmp::encode(image);
    auto patched = [](bytes file, std::size_t at, std::uint32_t value) {
        bmp::put_le32(file, at, value);
        return file;
    };
    const std::uint32_t size = static_cast<std::uint32_t>(plain.size());
    bytes trailing = plain;
    trailing.insert(trailing.end(), 5000, 0xEE);  // bytes after the pixels are ignored
    // A PNG signature, then zeros. (Made at its full size at once: g++ 12 at -O3
    // takes the growth of an 8-byte vector for an overflow, -Warray-bounds.)
    bytes png(plain.size(), 0);
    constexpr std::uint8_t png_signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::copy(std::begin(png_signature), std::end(png_signature), png.begin());
    const bytes narrow = bmp::encode(bmp::rgb_image{128, 64});
    const std::vector<tile_count_case> all = {{"256", 256}};
    const std::vector<tile_count_case> none = {{"0", 0}};
    const load_outcome not_bmp = load_outcome::not_bmp;
    const load_outcome geometry = load_outcome::bad_geometry;
    return {
        // The count, read like atoi's and checked against 0..256.
        {"count.bmp",
         bmp::encode(random_tileset(20)),
         {{"256", 256},
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
          {"99999999999999999999999", -1}}},
        // Every accepted layout, and pixels wherever the offset points: in the
        // header itself, right after it, or past a gap of three pixel blocks.
        {"plain.bmp", plain, all},
        {"top-down.bmp", bmp::encode(image, {.top_down = true}), all},
        {"v4.bmp", bmp::encode(image, {.info_header_size = 108}), all},
        {"v5-top-down.bmp", bmp::encode(image, {.top_down = true, .info_header_size = 124}), all},
        {"gap.bmp", bmp::encode(image, {.compression = 1, .gap = 1024}), all},
        {"far-gap.bmp", bmp::encode(image, {.top_down = true, .gap = 150000}), {{"100", 100}}},
        {"trailing.bmp", trailing, all},
        {"white.bmp", bmp::encode(bmp::rgb_image{256, 64, {255, 255, 255}}), all},
        {"from-zero.bmp", patched(plain, field::pixel_offset, 0), {{"64", 64}}},
        {"offset-20.bmp", patched(plain, field::pixel_offset, 20), all},
        {"offset-33.bmp", patched(plain, field::pixel_offset, 33), all},
        {"offset-34.bmp", patched(plain, field::pixel_offset, 34), all},
        {"offset-35.bmp", patched(plain, field::pixel_offset, 35), all},
        // Files that hold no whole tileset.
        {"broken.png", png, all, not_bmp},
        {"header-cut.bmp", bytes(plain.begin(), plain.begin() + 33), all, not_bmp},
        {"pixels-cut.bmp", bytes(plain.begin(), plain.end() - 100), all, not_bmp},
        {"one-byte-short.bmp", bytes(plain.begin(), plain.end() - 1), all, not_bmp},
        {"offset-far.bmp", patched(plain, field::pixel_offset, 0x80000000U), all, not_bmp},
        {"offset-end.bmp", patched(plain, field::pixel_offset, size), all, not_bmp},
        {"offset-past-end.bmp", patched(plain, field::pixel_offset, size + 10), all, not_bmp},
        {"empty.bmp", {}, all, not_bmp},
        // Tilesets of another size or depth, refused whatever the count.
        {"32-bits.bmp", bmp::encode(bmp::rgb_image{256, 64}, {.bits_per_pixel = 32}), none,
         geometry, std::tuple{256, 64U, 32}},
        {"8-bits.bmp",
         bmp::encode(bmp::rgb_image{256, 64}, {.top_down = true, .bits_per_pixel = 8}), none,
         geometry, std::tuple{256, 64U, 8}},
        {"narrow.bmp", narrow, none, geometry, std::tuple{128, 64U, 24}},
        {"short.bmp", bmp::encode(bmp::rgb_image{256, 63}), none, geometry,
         std::tuple{256, 63U, 24}},
        // The header is 34 bytes: they alone are enough to find the geometry.
        {"header-only.bmp", bytes(narrow.data(), narrow.data() + field::read_size), all, geometry,
         std::tuple{128, 64U, 24}},
        {"negative-width.bmp", patched(plain, field::width, static_cast<std::uint32_t>(-256)), all,
         geometry, std::tuple{-256, 64U, 24}},
        // -2^31 rows have no 32-bit absolute value.
        {"tall.bmp", patched(plain, field::height, 0x80000000U), all, geometry,
         std::tuple{256, 0x80000000U, 24}},
    };
}

std::optional<piped_tileset> read_tileset_through_pipe(const std::uint8_t* bytes,
                                                       std::size_t size) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    const file_handle stream{fdopen(ends[0], "rb")};
    if (!stream) throw std::runtime_error("fdopen failed");
    const int capacity = fcntl(ends[1], F_SETPIPE_SZ, 1 << 20);
    const bool fits = capacity >= 0 && size <= static_cast<std::size_t>(capacity) &&
                      (size == 0 || write(ends[1], bytes, size) == static_cast<ssize_t>(size));
    close(ends[1]);
    if (!fits) return std::nullopt;
    piped_tileset piped{read_tileset(stream.get()), {}};
    std::uint8_t block[4096];
    for (ssize_t got = 0; (got = read(ends[0], block, sizeof block)) > 0;) {
        piped.left.insert(piped.left.end(), block, block + got);
    }
    return piped;
}

namespace {

std::string text_of(const std::string& path) {
    const std::optional<std::vector<std::uint8_t>> bytes = read_file_bytes(path.c_str());
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string{};
}

}  // namespace

run_result run_program(const std::vector<std::string>& command, const std::string& folder,
                       const run_options& how) {
    std::vector<std::string> words = command;
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    const temp_dir capture;
    const std::string out_path = how.output_file.empty() ? capture.file("stdout") : how.output_file;
    const std::string err_path = capture.file("stderr");
    // Both ends close at exec: the child keeps only its standard input.
    int pipe_ends[2] = {-1, -1};
    if (how.input && pipe2(pipe_ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    int output_ends[2] = {-1, -1};
    if (how.output_piped && pipe2(output_ends, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe2 failed");
    }
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int in = how.input ? pipe_ends[0] : open("/dev/null", O_RDONLY);
        int closed_pipe[2] = {-1, -1};
        if (how.output_closed && pipe(closed_pipe) == 0) close(closed_pipe[0]);
        const int out = how.output_closed ? closed_pipe[1]
                        : how.output_piped
                            ? output_ends[1]
                            : open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || chdir(folder.c_str()) != 0) _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        fcntl(0, F_SETFD, 0);  // the pipe may have been made as fd 0 itself, close-on-exec
        if (how.output_shut) close(1);
        if (how.file_size_limit != RLIM_INFINITY) {
            const rlimit limit{how.file_size_limit, how.file_size_limit};
            std::signal(SIGXFSZ, how.size_signal_ignored ? SIG_IGN : SIG_DFL);
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (how.data_limit != RLIM_INFINITY) {
            const rlimit limit{how.data_limit, how.data_limit};
            setrlimit(RLIMIT_DATA, &limit);
        }
        std::signal(SIGPIPE, SIG_DFL);  // the feeding below ignores it; the program must not
        execvp(argv[0], argv.data());
        _exit(127);
    }
    if (how.input) {
        // The program may stop reading early: that ends the feeding, not the test.
        close(pipe_ends[0]);
        std::signal(SIGPIPE, SIG_IGN);
        const file_handle feed{fdopen(pipe_ends[1], "wb")};
        if (!feed) close(pipe_ends[1]);  // then the program reads an empty file
        if (feed) std::fwrite(how.input->data(), 1, how.input->size(), feed.get());
    }
    run_result result;
    if (how.output_piped) {
        close(output_ends[1]);
        char block[4096];
        for (ssize_t got = 0; (got = read(output_ends[0], block, sizeof block)) > 0;) {
            result.out.append(block, static_cast<std::size_t>(got));
        }
        close(output_ends[0]);
    }
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    }
    if (!how.output_piped) result.out = text_of(out_path);
    result.err = text_of(err_path);
    return result;
}

}  // namespace glyphor::test
