// How a program's messages are printed from its table (glyphor's in
// messages.h, glyphor-preview's beside it): each table is an enum of keys,
// its texts, and text_of(key); each use names its message and passes its
// values, and the compiler checks the values against the text.
#pragma once

#include <cstddef>
#include <string_view>

namespace glyphor {

// What printf expects for each conversion a message text uses.
template <typename Value>
inline constexpr char conversion_for = '?';
template <>
inline constexpr char conversion_for<const char*> = 's';
template <>
inline constexpr char conversion_for<int> = 'd';
template <>
inline constexpr char conversion_for<unsigned> = 'u';

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

// The text of message key, as a printf format for exactly these values. A
// text without values holds no '%' at all, so it may be printed as it stands.
// The text is text_of(key), from the table beside key's enum.
template <auto key, typename... Values>
constexpr const char* message_format() {
    static_assert(conversions_match<Values...>(text_of(key)),
                  "the values do not match the message's conversions");
    static_assert(sizeof...(Values) > 0 ||
                  std::string_view{text_of(key)}.find('%') == std::string_view::npos);
    return text_of(key);
}

// Words a message with its values through print, which takes a printf format
// and its values as printf does (std::printf itself, or one that keeps the text).
template <auto key, typename Print, typename... Values>
void say_through(Print& print, Values... values) {
    if constexpr (sizeof...(Values) == 0) {
        print("%s", message_format<key>());
    } else {
        print(message_format<key, Values...>(), values...);
    }
}

}  // namespace glyphor
