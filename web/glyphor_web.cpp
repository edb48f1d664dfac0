// The web page's module: the page hands it a file (or the pixels of an image
// the browser decoded), its name and the texts of the count, first tile and
// load address fields; it reads the tileset with glyphor's reader, packs it
// with glyphor's packer, words the outcome with glyphor's message table, draws
// glyphor-preview's picture of the charset and makes the file the fields ask
// for. The page only shows what it leaves here, and offers that file for
// download under the name it gives.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "bmp_writer.h"
#include "charset_picture.h"
#include "charset_text.h"
#include "charset_writer.h"
#include "geometry.h"
#include "messages.h"
#include "tile_count.h"
#include "tileset_reader.h"

// What the page calls, by these names. (Built for another machine, as for
// clang-tidy, they are plain C functions.)
#ifdef __wasm__
#define GLYPHOR_EXPORT(name) extern "C" __attribute__((export_name(#name)))
#else
#define GLYPHOR_EXPORT(name) extern "C"
#endif

namespace glyphor {
namespace {

// A picture the page puts on a canvas: 256x64 pixels of red, green, blue and
// alpha bytes, top row first.
constexpr std::size_t picture_size = static_cast<std::size_t>(tileset_width) * tileset_height * 4;
using picture = std::uint8_t[picture_size];

// Room the page writes into: size bytes, and a NUL after them for texts.
struct room {
    byte_buffer bytes;
    std::size_t size = 0;
    std::uint8_t* reserve(std::size_t new_size) {
        bytes.reset(static_cast<std::uint8_t*>(std::malloc(new_size + 1)));
        size = bytes ? new_size : 0;
        if (bytes) bytes[new_size] = 0;
        return bytes.get();
    }
    const char* text() const { return bytes ? reinterpret_cast<const char*>(bytes.get()) : ""; }
};

enum class input_kind { none, file, image, unreadable };

struct state {
    // What the page gave.
    input_kind kind = input_kind::none;
    room input;  // the file's bytes, or the image's pixels (red, green, blue, alpha)
    int image_width = 0;
    int image_height = 0;
    room name;
    room count;
    room first;    // the first tile field's text
    room address;  // the load address field's text
    // What the page shows.
    char message[2048] = {};
    std::size_t message_size = 0;
    char output_name[1024] = {};
    charset_buffer charset;
    std::size_t charset_bytes = 0;
    bool count_refused = false;
    int count_read = -1;  // the count as read, -1 when refused
    bool has_tileset = false;
    bool has_preview = false;
    // The file offered: what the fields ask for, its name, its line and bytes.
    file_fields fields;
    char offered_name[1024] = {};
    char offer[2048] = {};
    room offered;
    picture tileset_picture = {};
    picture preview_picture = {};
    // The bench's last view and text.
    picture machine_picture = {};
    char text[20480] = {};
};
state page;

// Adds text to the page's message, as printf prints it.
constexpr auto print = [](const char* format, auto... values) {
    char* at = page.message + page.message_size;
    const std::size_t left = sizeof page.message - page.message_size;
    const int written = std::snprintf(at, left, format, values...);
    if (written > 0) page.message_size += std::min(static_cast<std::size_t>(written), left - 1);
};

// Adds a message from the table to the page's text.
template <message key, typename... Values>
void say(Values... values) {
    say_through<key>(print, values...);
}

// The charset's file name: the tileset's, its extension (if any) replaced by .bin.
void name_output() {
    const char* name = page.name.text();
    const char* dot = std::strrchr(name, '.');
    const std::size_t stem =
        dot != nullptr && dot != name ? static_cast<std::size_t>(dot - name) : std::strlen(name);
    std::snprintf(page.output_name, sizeof page.output_name, "%.*s.bin", static_cast<int>(stem),
                  name);
}

// Sets pixel x, y of a picture.
void put_rgba(picture& to, int x, int y, bmp::rgb colour) {
    std::uint8_t* pixel =
        &to[(static_cast<std::size_t>(y) * tileset_width + static_cast<std::size_t>(x)) * 4];
    pixel[0] = colour.red;
    pixel[1] = colour.green;
    pixel[2] = colour.blue;
    pixel[3] = 0xFF;
}

void show_tileset(const tileset& tiles) {
    for (int y = 0; y < tileset_height; ++y) {
        const int stored = tiles.order == row_order::bottom_up ? tileset_height - 1 - y : y;
        const std::uint8_t* row =
            tiles.pixels.get() + static_cast<std::size_t>(stored) * row_stride;
        for (int x = 0; x < tileset_width; ++x) {
            const std::uint8_t* pixel = row + static_cast<std::size_t>(x) * bytes_per_pixel;
            put_rgba(page.tileset_picture, x, y, {pixel[2], pixel[1], pixel[0]});
        }
    }
    page.has_tileset = true;
}

void show_picture(picture& to, const bmp::rgb_image& image) {
    for (int y = 0; y < tileset_height; ++y) {
        for (int x = 0; x < tileset_width; ++x) {
            put_rgba(to, x, y, image.at(x, y));
        }
    }
}

void show_preview(std::size_t tiles) {
    show_picture(page.preview_picture, draw_charset(page.charset.get(), tiles));
    page.has_preview = true;
}

// The charset's tile count.
int packed_tiles() {
    return static_cast<int>(page.charset_bytes / bytes_per_tile);
}

// The bench's text, written afresh by write.
template <typename Write>
const char* bench_text(Write write) {
    text_out out{page.text, sizeof page.text};
    page.text[0] = '\0';
    write(out);
    return page.text;
}

// A BMP of the decoded image, as ImageMagick's "-type truecolor bmp:" writes
// one: 24 bits, the size the image has. Its pixels come from a canvas on which
// the image was drawn over black, so transparency is already composited as
// "-background black -alpha remove" does. An image of any other size is
// encoded as a header alone: the reader stops at its geometry.
std::vector<std::uint8_t> image_as_bmp() {
    const bool tileset_size =
        page.image_width == tileset_width && page.image_height == tileset_height;
    bmp::rgb_image image{tileset_size ? tileset_width : 0, tileset_size ? tileset_height : 0};
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const std::uint8_t* pixel =
                page.input.bytes.get() +
                (static_cast<std::size_t>(y) * tileset_width + static_cast<std::size_t>(x)) * 4;
            image.at(x, y) = {pixel[0], pixel[1], pixel[2]};
        }
    }
    std::vector<std::uint8_t> file = bmp::encode(image);
    bmp::put_le32(file, 18, static_cast<std::uint32_t>(page.image_width));
    bmp::put_le32(file, 22, static_cast<std::uint32_t>(page.image_height));
    return file;
}

// Reads bytes as glyphor reads a file of them.
tileset read_bytes(std::uint8_t* bytes, std::size_t size) {
    // An empty stream: nothing to read, as from an empty file (a memory
    // stream to read from needs at least one byte; one opened for writing
    // holds none until written).
    std::uint8_t none[1] = {};
    const file_handle file{size > 0 ? fmemopen(bytes, size, "rb") : fmemopen(none, 1, "w+")};
    if (!file) {
        tileset failed;
        failed.outcome = load_outcome::out_of_memory;
        return failed;
    }
    return read_tileset(file.get());
}

// Converts what the page gave, as glyphor converts a tileset file into the
// file output_name, and leaves what the page shows. 0 on success, 1 otherwise.
int convert_tileset() {
    page.message_size = 0;
    page.message[0] = '\0';
    page.charset.reset();
    page.charset_bytes = 0;
    page.has_tileset = false;
    page.has_preview = false;
    name_output();

    // glyphor refuses a count before it opens the tileset, and says only
    // that; the page still shows the tileset, which does not depend on it.
    const std::optional<int> tile_count = read_tile_count(page.count.text());
    page.count_read = tile_count.value_or(-1);
    page.count_refused = !tile_count;
    if (!tile_count) say<count_range>();
    if (page.kind == input_kind::none) return 1;
    if (page.kind == input_kind::unreadable) {
        if (tile_count) say<open_failed>(page.name.text());
        return 1;
    }

    std::vector<std::uint8_t> decoded;
    if (page.kind == input_kind::image) {
        if (page.image_width == tileset_width && page.image_height == tileset_height &&
            !page.input.bytes) {
            if (tile_count) say<out_of_memory>();  // no room was made for the pixels
            return 1;
        }
        decoded = image_as_bmp();
    }
    tileset tiles = page.kind == input_kind::image
                        ? read_bytes(decoded.data(), decoded.size())
                        : read_bytes(page.input.bytes.get(), page.input.size);
    if (!tile_count) {
        if (tiles.outcome == load_outcome::loaded) show_tileset(tiles);
        return 1;
    }
    if (say_load_failure(print, tiles, page.name.text())) return 1;
    show_tileset(tiles);
    page.charset = pack_charset(tiles.pixels.get(), tiles.order, *tile_count);
    if (!page.charset) {
        say<out_of_memory>();
        return 1;
    }
    page.charset_bytes = static_cast<std::size_t>(*tile_count) * bytes_per_tile;
    show_preview(static_cast<std::size_t>(*tile_count));
    say<success_1>(static_cast<const char*>(page.output_name), *tile_count,
                   *tile_count * static_cast<int>(bytes_per_tile));
    say<success_2>();
    return 0;
}

// Converts, then reads the file fields for the charset made and makes the
// file offered: the slice, after its load address (low byte first) if any.
int convert() {
    const int failed = convert_tileset();
    page.fields = read_file_fields(page.first.text(), page.address.text(), packed_tiles());
    const charset_slice& file = page.fields.file;
    std::snprintf(page.offered_name, sizeof page.offered_name, "%s", page.output_name);
    char* const end = page.offered_name + std::strlen(page.offered_name);
    if (file.origin >= 0 && end - page.offered_name >= 4 && std::strcmp(end - 4, ".bin") == 0)
        std::memcpy(end - 4, ".prg", 4);
    text_out line{page.offer, sizeof page.offer};
    page.offer[0] = '\0';
    const bool offered =
        write_offer(line, page.offered_name, page.fields, failed == 0 || page.message_size == 0);
    const std::size_t header = file.origin >= 0 ? 2 : 0;
    const std::size_t size = static_cast<std::size_t>(file.count) * bytes_per_tile;
    std::uint8_t* bytes = page.offered.reserve(offered ? header + size : 0);
    if (!offered || bytes == nullptr) return failed;
    if (header != 0) {
        bytes[0] = static_cast<std::uint8_t>(file.origin & 0xFF);
        bytes[1] = static_cast<std::uint8_t>(file.origin >> 8);
    }
    if (size != 0)
        std::memcpy(bytes + header,
                    page.charset.get() + static_cast<std::size_t>(file.first) * bytes_per_tile,
                    size);
    return failed;
}

}  // namespace
}  // namespace glyphor

using glyphor::page;

// The next tileset is a file of size bytes, written here by the page.
GLYPHOR_EXPORT(glyphor_file) std::uint8_t* glyphor_file(std::size_t size) {
    page.kind = glyphor::input_kind::file;
    return page.input.reserve(size);
}

// The next tileset is an image the browser decoded, width x height pixels.
// Room for its pixels (red, green, blue, alpha, top row first) when it has the
// tileset's size; null when it has not, as its pixels are not needed then.
GLYPHOR_EXPORT(glyphor_image) std::uint8_t* glyphor_image(int width, int height) {
    page.kind = glyphor::input_kind::image;
    page.image_width = width;
    page.image_height = height;
    const bool tileset_size = width == glyphor::tileset_width && height == glyphor::tileset_height;
    if (!tileset_size) {
        page.input.reserve(0);
        return nullptr;
    }
    return page.input.reserve(glyphor::picture_size);
}

// The next tileset is a file the browser could not read.
GLYPHOR_EXPORT(glyphor_unreadable) void glyphor_unreadable() {
    page.kind = glyphor::input_kind::unreadable;
}

// No tileset: the page is reading the next one.
GLYPHOR_EXPORT(glyphor_forget) void glyphor_forget() {
    page.kind = glyphor::input_kind::none;
    page.input.reserve(0);
}

// Room for the tileset's file name and for the count field's text, in UTF-8.
GLYPHOR_EXPORT(glyphor_name) std::uint8_t* glyphor_name(std::size_t size) {
    return page.name.reserve(size);
}
GLYPHOR_EXPORT(glyphor_count) std::uint8_t* glyphor_count(std::size_t size) {
    return page.count.reserve(size);
}
// Room for the first tile field's and the load address field's texts.
GLYPHOR_EXPORT(glyphor_first_field) std::uint8_t* glyphor_first_field(std::size_t size) {
    return page.first.reserve(size);
}
GLYPHOR_EXPORT(glyphor_address_field) std::uint8_t* glyphor_address_field(std::size_t size) {
    return page.address.reserve(size);
}

GLYPHOR_EXPORT(glyphor_convert) int glyphor_convert() {
    return glyphor::convert();
}

// What the last conversion leaves: the message, the charset and its file
// name, and the two pictures (null when there is nothing to show).
GLYPHOR_EXPORT(glyphor_message) const char* glyphor_message() {
    return page.message;
}
GLYPHOR_EXPORT(glyphor_message_size) std::size_t glyphor_message_size() {
    return page.message_size;
}
// 1 when the last conversion refused the count, 0 otherwise.
GLYPHOR_EXPORT(glyphor_count_refused) int glyphor_count_refused() {
    return page.count_refused ? 1 : 0;
}
// The count as glyphor read the field's text (0 to 256), -1 when refused.
GLYPHOR_EXPORT(glyphor_count_read) int glyphor_count_read() {
    return page.count_read;
}
// The charset's tiles (0 when none was made).
GLYPHOR_EXPORT(glyphor_tiles) int glyphor_tiles() {
    return glyphor::packed_tiles();
}
GLYPHOR_EXPORT(glyphor_output_name) const char* glyphor_output_name() {
    return page.output_name;
}
GLYPHOR_EXPORT(glyphor_tileset) const std::uint8_t* glyphor_tileset() {
    return page.has_tileset ? page.tileset_picture : nullptr;
}
GLYPHOR_EXPORT(glyphor_preview) const std::uint8_t* glyphor_preview() {
    return page.has_preview ? page.preview_picture : nullptr;
}
// Why the first tile field, or the load address field, is refused (empty
// when it is taken).
GLYPHOR_EXPORT(glyphor_first_refused) const char* glyphor_first_refused() {
    return page.fields.first_refused;
}
GLYPHOR_EXPORT(glyphor_address_refused) const char* glyphor_address_refused() {
    return page.fields.address_refused;
}
// The file offered: its name, the line saying what it is (or why there is
// none), and its bytes.
GLYPHOR_EXPORT(glyphor_offered_name) const char* glyphor_offered_name() {
    return page.offered_name;
}
GLYPHOR_EXPORT(glyphor_offer) const char* glyphor_offer() {
    return page.offer;
}
GLYPHOR_EXPORT(glyphor_offered) const std::uint8_t* glyphor_offered() {
    return page.offered.bytes.get();
}
GLYPHOR_EXPORT(glyphor_offered_size) std::size_t glyphor_offered_size() {
    return page.offered.size;
}

// The bench: what the page shows of the file the fields ask for (its slice
// and load address), from the last charset. Texts end with a NUL.
GLYPHOR_EXPORT(glyphor_source) const char* glyphor_source(int language) {
    return glyphor::bench_text([&](glyphor::text_out& out) {
        glyphor::write_source(out, static_cast<glyphor::dialect>(language & 3), page.charset.get(),
                              page.fields.file);
    });
}
GLYPHOR_EXPORT(glyphor_tile) const char* glyphor_tile(int tile) {
    return glyphor::bench_text([&](glyphor::text_out& out) {
        glyphor::describe_tile(out, page.charset.get(), glyphor::packed_tiles(), tile & 255,
                               page.fields.file);
    });
}
// What the load address means to the C64 (vic20 0) or the VIC-20 (1); empty
// without one.
GLYPHOR_EXPORT(glyphor_address) const char* glyphor_address(int vic20) {
    return glyphor::bench_text([&](glyphor::text_out& out) {
        const glyphor::charset_slice& file = page.fields.file;
        if (file.origin < 0) return;
        glyphor::explain_address(out, static_cast<unsigned>(file.origin),
                                 static_cast<unsigned>(file.count) * 8U, file.first, vic20 != 0);
    });
}
// The charset as the machine shows it (see machine_colours); null when there
// is no charset.
GLYPHOR_EXPORT(glyphor_machine)
const std::uint8_t* glyphor_machine(int vic20, int multicolour, int background, int extra1,
                                    int extra2, int character) {
    if (!page.has_preview) return nullptr;
    const auto colour = [](int value) { return static_cast<std::uint8_t>(value & 15); };
    const glyphor::machine_colours colours{vic20 != 0,     multicolour != 0, colour(background),
                                           colour(extra1), colour(extra2),   colour(character)};
    glyphor::show_picture(
        page.machine_picture,
        glyphor::draw_charset_on(colours, page.charset.get(),
                                 static_cast<std::size_t>(glyphor::packed_tiles())));
    return page.machine_picture;
}
