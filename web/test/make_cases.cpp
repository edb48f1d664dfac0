// Writes the tileset cases of the command-line suite (tests/cli_test.cpp) as
// files, for the web stage to give each to glyphor and to the page alike, and
// cases.json, which lists each file with the count to give with it.
//
//   make_cases FOLDER

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "bmp_writer.h"
#include "file_bytes.h"
#include "support.h"

namespace {

using glyphor::bmp::encode;
using glyphor::bmp::put_le32;
using glyphor::bmp::rgb_image;
using bytes = std::vector<std::uint8_t>;

struct web_case {
    std::string file;
    std::string count;
};

// A count as a JSON string.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_cases FOLDER\n");
        return 1;
    }
    const std::string folder = argv[1];
    std::vector<web_case> cases;
    bool saved = true;
    const auto add = [&](const std::string& name, const bytes& file,
                         const std::vector<std::string>& counts) {
        saved = glyphor::write_file_bytes((folder + "/" + name).c_str(), file) && saved;
        for (const std::string& count : counts) cases.push_back({name, count});
    };

    // The count field, read like the count argument.
    add("count.bmp", encode(glyphor::test::random_tileset(20)),
        {"256",
         "0",
         "1",
         "32",
         "128",
         "12abc",
         " 7",
         "+7",
         "\t 0009x",
         "abc",
         "",
         "-0",
         "１２",
         "257",
         "-1",
         "2147483647",
         "2147483648",
         "4294967296",
         "4294967552",
         "-4294967296",
         "99999999999999999999999"});

    // Every accepted layout.
    const rgb_image image = glyphor::test::random_tileset(21);
    add("top-down.bmp", encode(image, {.top_down = true}), {"256"});
    add("v4.bmp", encode(image, {.info_header_size = 108}), {"256"});
    add("v5-top-down.bmp", encode(image, {.top_down = true, .info_header_size = 124}), {"256"});
    add("gap.bmp", encode(image, {.compression = 1, .gap = 1024}), {"256"});
    add("far-gap.bmp", encode(image, {.top_down = true, .gap = 150000}), {"100"});
    bytes trailing = encode(image);
    trailing.insert(trailing.end(), 5000, 0xEE);
    add("trailing.bmp", trailing, {"256"});
    add("white.bmp", encode(rgb_image{256, 64, {255, 255, 255}}), {"256"});
    bytes from_zero = encode(image);
    put_le32(from_zero, 10, 0);
    add("from-zero.bmp", from_zero, {"64"});

    // Files that are no tileset.
    const bytes good = encode(glyphor::test::random_tileset(22));
    bytes offset_far = good;
    put_le32(offset_far, 10, 0x80000000U);
    bytes offset_end = good;
    put_le32(offset_end, 10, static_cast<std::uint32_t>(good.size()));
    // A PNG signature, then zeros. (Made at its full size at once: g++ 12 at -O3
    // takes the growth of an 8-byte vector for an overflow, -Warray-bounds.)
    bytes png(good.size(), 0);
    constexpr std::uint8_t png_signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::copy(std::begin(png_signature), std::end(png_signature), png.begin());
    add("broken.png", png, {"256"});
    add("header-cut.bmp", bytes(good.begin(), good.begin() + 33), {"256"});
    add("pixels-cut.bmp", bytes(good.begin(), good.end() - 100), {"256"});
    add("offset-far.bmp", offset_far, {"256"});
    add("offset-end.bmp", offset_end, {"256"});
    add("empty.bmp", {}, {"256"});

    // Tilesets of another size or depth.
    add("32-bits.bmp", encode(rgb_image{256, 64}, {.bits_per_pixel = 32}), {"0"});
    add("8-bits.bmp", encode(rgb_image{256, 64}, {.top_down = true, .bits_per_pixel = 8}), {"0"});
    add("narrow.bmp", encode(rgb_image{128, 64}), {"0"});
    add("short.bmp", encode(rgb_image{256, 63}), {"0"});
    const bytes narrow = encode(rgb_image{128, 64});
    add("header-only.bmp", bytes(narrow.begin(), narrow.begin() + 34), {"256"});
    bytes patched = good;
    put_le32(patched, 18, static_cast<std::uint32_t>(-256));
    add("negative-width.bmp", patched, {"256"});
    patched = good;
    put_le32(patched, 22, 0x80000000U);
    add("tall.bmp", patched, {"256"});

    // A tileset near the threshold throughout, for the PNG cases.
    add("near.bmp", encode(glyphor::test::random_tileset(31)), {});

    std::string json = "[\n";
    for (const web_case& c : cases) {
        json += "  {\"file\": " + quoted(c.file) + ", \"count\": " + quoted(c.count) + "}";
        json += &c == &cases.back() ? "\n" : ",\n";
    }
    json += "]\n";
    saved = glyphor::write_file_bytes((folder + "/cases.json").c_str(),
                                      bytes(json.begin(), json.end())) &&
            saved;
    if (!saved) {
        std::fprintf(stderr, "make_cases: cannot write the cases into %s\n", folder.c_str());
        return 1;
    }
    return 0;
}
