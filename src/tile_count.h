// The tile count argument, read by one rule wherever it is given: on the
// command line or in the web page's count field.
#pragma once

#include <optional>

#include "geometry.h"

namespace glyphor {

// Reads the count the way atoi does (leading white space, an optional sign,
// digits up to the first non-digit; no digits reads as 0) and returns it when
// it lies in 0..256. Values beyond the int range are out of range too: they
// never wrap around into it. Only ASCII characters count as blanks, signs or
// digits, in narrow and wide texts alike.
template <typename Char>
std::optional<int> read_tile_count(const Char* text) {
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

}  // namespace glyphor
