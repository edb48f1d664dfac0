// Every line glyphor shows, one table for all that show them: the program
// prints them, the web page shows them, the tests and the test stages take
// them from here. Each use names its message and passes its values; the
// compiler checks the values against the text.
#pragma once

#include <cstddef>
#include <string_view>

#include "message_format.h"
#include "tileset_reader.h"

namespace glyphor {

// What the program prints first, whatever follows: 44 columns between blank lines.
inline constexpr char banner[] =
    "\n"
    "    **** COMMODORE 64 / VIC-20 TOOL ****    \n"
    "                                            \n"
    "                  GLYPHOR                   \n"
    "  GENERATEUR DE CHARSET POUR COMMODORE 8-BIT\n"
    "                                            \n"
    "   des pixels aux octets, tuile par tuile   \n"
    "--------------------------------------------\n"
    "\n";
static_assert([] {
    const std::string_view lines{banner + 1, sizeof banner - 3};
    for (std::size_t at = 0; at < lines.size(); at += 45) {
        if (lines.find('\n', at) != at + 44) return false;
    }
    return lines.size() == std::size_t{7} * 45;
}());

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
    old_kept,
    out_of_memory,
    success_1,
    success_2,
};

inline constexpr const char* message_text[] = {
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
    "L'ancien fichier est garde sous %s\n",
    "Erreur: Memoire insuffisante.\n",
    "Succes ! Fichier %s genere avec %d tuiles (%d octets).\n",
    "Pret pour le retro-coding !\n\n",
};
static_assert(sizeof message_text / sizeof message_text[0] == success_2 + 1);
constexpr const char* text_of(message key) {
    return message_text[key];
}

// Says through print why a tileset was not loaded, naming it input_name where
// that is said; true when there was something to say, false when it was loaded.
template <typename Print>
bool say_load_failure(Print& print, const tileset& tiles, const char* input_name) {
    switch (tiles.outcome) {
        case load_outcome::loaded:
            return false;
        case load_outcome::open_failed:
            say_through<open_failed>(print, input_name);
            return true;
        case load_outcome::not_bmp:
            say_through<not_bmp>(print);
            return true;
        case load_outcome::bad_geometry:
            say_through<bad_geometry>(print);
            say_through<actual_geometry>(print, static_cast<int>(tiles.width),
                                         static_cast<unsigned>(tiles.height),
                                         static_cast<int>(tiles.bits_per_pixel));
            return true;
        case load_outcome::out_of_memory:
            say_through<out_of_memory>(print);
            return true;
    }
    return false;
}

}  // namespace glyphor
