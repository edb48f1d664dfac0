// glyphor: converts a 256x64, 24-bit BMP tileset into a raw Commodore
// 64 / VIC-20 charset. The driver owns every line the user sees, runs the
// reader, the packer and the writer in turn, and decides the exit status.

#include <cstdio>
#include <optional>
#include <string_view>

#include "charset_writer.h"
#include "driver.h"
#include "file_io.h"
#include "geometry.h"
#include "tileset_reader.h"

namespace glyphor {
namespace {

constexpr char banner_title[] = "    **** COMMODORE 64 / VIC-20 TOOL ****    ";
constexpr char banner_blank[] = "                                            ";
constexpr char banner_name[] = "                  GLYPHOR                   ";
constexpr char banner_subtitle[] = "  GENERATEUR DE CHARSET POUR COMMODORE 8-BIT";
constexpr char banner_credit[] = "   des pixels aux octets, tuile par tuile   ";
constexpr char banner_rule[] = "--------------------------------------------";

constexpr std::size_t banner_columns = 44;
static_assert(sizeof banner_title - 1 == banner_columns &&
              sizeof banner_blank - 1 == banner_columns &&
              sizeof banner_name - 1 == banner_columns &&
              sizeof banner_subtitle - 1 == banner_columns &&
              sizeof banner_credit - 1 == banner_columns &&
              sizeof banner_rule - 1 == banner_columns);

// Everything the program prints after the banner, one entry a message.
enum message {
    usage_1,
    usage_2,
    usage_3,
    count_range,
    open_failed,
    not_bmp,
    bad_geometry,
    actual_geometry,
    create_failed,
    write_failed,
    out_of_memory,
    success_1,
    success_2,
};

constexpr const char* message_text[] = {
    "Usage: %s <tileset.bmp> <sortie.bin> [nombre_de_tiles]\n",
    "Exemple 1: %s font.bmp charset.bin\n",
    "Exemple 2: %s font.bmp charset.bin 128\n",
    "Erreur: Le nombre de tiles doit etre entre 0 et 256.\n",
    "Erreur: Impossible d'ouvrir le fichier %s\n",
    "Erreur: Ce n'est pas un fichier BMP valide.\n",
    "Erreur: L'image doit faire exactement 256x64 pixels en 24 bits RGB.\n",
    // The height is shown unsigned: the absolute value of -2^31 does not fit an int.
    "Actuel: %dx%u, %d bits\n",
    "Erreur: Impossible de creer le fichier de sortie %s\n",
    "Erreur: Impossible d'ecrire le fichier de sortie %s\n",
    "Erreur: Memoire insuffisante.\n",
    "Succes ! Fichier %s genere avec %d tuiles (%d octets).\n",
    "Pret pour le retro-coding !\n\n",
};
static_assert(sizeof message_text / sizeof message_text[0] == success_2 + 1);

// What printf expects for each conversion a message text uses.
template <typename Value>
constexpr char conversion_for = '?';
template <>
constexpr char conversion_for<const char*> = 's';
template <>
constexpr char conversion_for<int> = 'd';
template <>
constexpr char conversion_for<unsigned> = 'u';

// True when text's conversions are exactly those the values call for, in
// order; a conversion with flags or a width is not one of them.
template <typename... Values>
constexpr bool conversions_match(std::string_view text) {
    constexpr char expected[] = {conversion_for<Values>..., '\0'};
    constexpr std::size_t count = sizeof...(Values);
    std::size_t next = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] != '%') continue;
        if (++at == text.size()) return false;  // a '%' that ends the text
        if (text[at] == '%') continue;
        if (next == count || text[at] != expected[next]) return false;
        ++next;
    }
    return next == count;
}

// Prints a message with its values. The texts stay in one table, and the
// compiler checks each call's values against the conversions of its text.
template <message key, typename... Values>
void say(Values... values) {
    static_assert(conversions_match<Values...>(message_text[key]),
                  "the values do not match the message's conversions");
    if constexpr (sizeof...(Values) == 0) {
        // A text without values is printed as it stands; checked above to
        // hold no conversion, it holds no '%' to be read as one either.
        static_assert(std::string_view{message_text[key]}.find('%') == std::string_view::npos);
        std::printf("%s", message_text[key]);
    } else {
        std::printf(message_text[key], values...);
    }
}

void print_banner() {
    std::printf("\n%s\n%s\n%s\n%s\n%s\n%s\n%s\n\n", banner_title, banner_blank, banner_name,
                banner_subtitle, banner_blank, banner_credit, banner_rule);
}

// Reads the count the way atoi does (leading white space, an optional sign,
// digits up to the first non-digit; no digits reads as 0) and returns it when
// it lies in 0..256. Values beyond the int range are out of range too: they
// never wrap around into it. Only ASCII characters count as blanks, signs or
// digits, in narrow and wide arguments alike.
std::optional<int> read_tile_count(const path_char* text) {
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
    bool negative = false;
    if (*text == '+' || *text == '-') negative = *text++ == '-';
    int value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > max_tiles) return std::nullopt;  // stays out of range, whatever follows
    }
    if (negative && value != 0) return std::nullopt;
    return value;
}

}  // namespace

// On Windows the two argument tables differ in type; elsewhere they are one table.
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters)
int run(int argc, const path_char* const* args, const char* const* shown) {
    print_banner();
    if (argc < 3 || argc > 4) {
        // A start-up may pass no argument 0 at all.
        const char* program = argc > 0 && shown[0] != nullptr ? shown[0] : "glyphor";
        say<usage_1>(program);
        say<usage_2>(program);
        say<usage_3>(program);
        return 1;
    }

    int tile_count = max_tiles;
    if (argc == 4) {
        const std::optional<int> count = read_tile_count(args[3]);
        if (!count) {
            say<count_range>();
            return 1;
        }
        tile_count = *count;
    }
    const char* const input_path = shown[1];
    const char* const output_path = shown[2];

    tileset tiles = load_tileset(args[1]);
    switch (tiles.outcome) {
        case load_outcome::loaded:
            break;
        case load_outcome::open_failed:
            say<open_failed>(input_path);
            return 1;
        case load_outcome::not_bmp:
            say<not_bmp>();
            return 1;
        case load_outcome::bad_geometry:
            say<bad_geometry>();
            say<actual_geometry>(static_cast<int>(tiles.width), static_cast<unsigned>(tiles.height),
                                 static_cast<int>(tiles.bits_per_pixel));
            return 1;
        case load_outcome::out_of_memory:
            say<out_of_memory>();
            return 1;
    }

    charset_buffer charset = pack_charset(tiles.pixels.get(), tiles.order, tile_count);
    tiles.pixels.reset();
    if (!charset) {
        say<out_of_memory>();
        return 1;
    }

    // A count of 0 converts but leaves the output path untouched.
    if (tile_count > 0) {
        switch (write_charset(args[2], charset.get(), tile_count)) {
            case write_outcome::written:
                break;
            case write_outcome::create_failed:
                say<create_failed>(output_path);
                return 1;
            case write_outcome::write_failed:
                say<write_failed>(output_path);
                return 1;
        }
    }
    charset.reset();

    say<success_1>(output_path, tile_count, tile_count * static_cast<int>(bytes_per_tile));
    say<success_2>();
    return 0;
}

}  // namespace glyphor

#ifndef GLYPHOR_NO_MAIN
#ifdef _WIN32
// The wide-character entry point (linked with -municode): the wide arguments
// name the files and give the count; their console text is what the
// messages print.
int wmain(int argc, wchar_t** argv);
int wmain(int argc, wchar_t** argv) {
    glyphor::report_failed_writes_instead_of_dying();
    const glyphor::console_arguments shown{argc, argv};
    if (shown.texts() == nullptr) {
        glyphor::print_banner();
        glyphor::say<glyphor::out_of_memory>();
        return 1;
    }
    return glyphor::run(argc, argv, shown.texts());
}
#else
int main(int argc, char** argv) {
    glyphor::report_failed_writes_instead_of_dying();
    return glyphor::run(argc, argv);
}
#endif
#endif
