// Writes the tileset cases of the command-line suite (tests/cli_test.cpp) as
// files, for the web stage to give each to glyphor and to the page alike, and
// cases.json, which lists each file with the count to give with it.
//
//   make_cases FOLDER

#include <cstdio>
#include <string>
#include <vector>

#include "bmp_writer.h"
#include "file_bytes.h"
#include "support.h"

namespace {

using glyphor::bmp::encode;
using bytes = std::vector<std::uint8_t>;

// A count as a JSON string: quotes, backslashes and control characters escaped.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", byte);
        out += c == '"' || c == '\\' || byte < 0x20 ? std::string(escape) : std::string(1, c);
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
    bool saved = true;
    const auto write = [&](const std::string& name, const bytes& file) {
        saved = glyphor::write_file_bytes((folder + "/" + name).c_str(), file) && saved;
    };

    // The command-line suite's tileset cases, a line of cases.json for each count.
    std::string json;
    for (const glyphor::test::tileset_case& c : glyphor::test::tileset_cases()) {
        write(c.name, c.bytes);
        for (const glyphor::test::tile_count_case& count : c.counts) {
            json += json.empty() ? "[\n" : ",\n";
            json += "  {\"file\": " + quoted(c.name) + ", \"count\": " + quoted(count.text) + "}";
        }
    }
    json += "\n]\n";
    write("cases.json", bytes(json.begin(), json.end()));

    // A tileset near the threshold throughout, for the PNG cases.
    write("near.bmp", encode(glyphor::test::random_tileset(31)));
    if (!saved) {
        std::fprintf(stderr, "make_cases: cannot write the cases into %s\n", folder.c_str());
        return 1;
    }
    return 0;
}
