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

    // The command-line suite's tileset cases, each with its counts.
    for (const glyphor::test::tileset_case& c : glyphor::test::tileset_cases()) {
        std::vector<std::string> counts;
        for (const glyphor::test::tile_count_case& count : c.counts) counts.push_back(count.text);
        add(c.name, c.bytes, counts);
    }

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
