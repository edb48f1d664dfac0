#include "charset_text.h"

#include <string_view>

namespace glyphor {

const char* screen_code_name(int tile) {
    // Screen codes 0-63 in the ROM's order; 28, 30 and 31 are not ASCII.
    static constexpr char ascii[] =
        "@ABCDEFGHIJKLMNOPQRSTUVWXYZ[ ]   !\"#$%&'()*+,-./0123456789:;<=>?";
    static_assert(sizeof ascii == 65);
    // Each as a text of its own, in read-only memory.
    static constexpr auto one = [] {
        struct {
            char text[64][2];
        } texts{};
        for (int code = 0; code < 64; ++code) texts.text[code][0] = ascii[code];
        return texts;
    }();
    switch (tile) {
        case 28:
            return "\xC2\xA3";  // pound sign
        case 30:
            return "\xE2\x86\x91";  // up arrow
        case 31:
            return "\xE2\x86\x90";  // left arrow
        case 32:
            return "space";
        default:
            break;
    }
    if (tile < 0 || tile > 63) return nullptr;
    return one.text[tile];
}

void write_source(text_out& out, dialect language, const std::uint8_t* charset,
                  const charset_slice& file) {
    const char* const byte = language == dialect::acme ? "!byte" : ".byte";
    const char* const comment = language == dialect::kick ? "//" : ";";
    if (file.origin >= 0)
        out.add(language == dialect::ca65 ? "        .org $%04lX\n" : "        * = $%04lX\n",
                file.origin);
    for (int tile = file.first; tile < file.first + file.count; ++tile) {
        const std::uint8_t* row = charset + static_cast<std::size_t>(tile) * 8;
        out.add("        %s $%02X,$%02X,$%02X,$%02X,$%02X,$%02X,$%02X,$%02X  %s tile %d ($%02X)",
                byte, row[0], row[1], row[2], row[3], row[4], row[5], row[6], row[7], comment, tile,
                tile);
        const char* name = screen_code_name(tile);
        if (name != nullptr) out.add(" %s", name);
        out.add("%s", "\n");
    }
}

void describe_tile(text_out& out, const std::uint8_t* charset, int tiles, int tile,
                   const charset_slice& file) {
    out.add("Tile %d ($%02X)", tile, tile);
    const char* name = screen_code_name(tile);
    if (name != nullptr) out.add(": screen code character %s", name);
    if (tile >= 128) out.add(": reverse of %d", tile - 128);
    if (tile < file.first || tile >= file.first + file.count) {
        out.add("%s", "\nNot in the file\n");
    } else {
        const long offset = (tile - file.first) * 8L;
        out.add("\nOffset %ld in the file", offset + (file.origin >= 0 ? 2 : 0));
        if (file.origin >= 0) out.add(", address $%04lX", file.origin + offset);
        out.add("%s", "\n");
    }
    if (tile >= tiles) return;
    for (int y = 0; y < 8; ++y) {
        const unsigned row =
            charset[static_cast<std::size_t>(tile) * 8 + static_cast<std::size_t>(y)];
        out.add("$%02X %%", row);
        for (unsigned bit = 0x80; bit != 0; bit >>= 1U) out.add("%c", (row & bit) != 0 ? '1' : '0');
        out.add("%s", "\n");
    }
}

namespace {

// Whether bytes from..to-1 and first..last (inclusive) share an address.
bool overlaps(unsigned from, unsigned to, unsigned first, unsigned last) {
    return from <= last && to > first;
}

void explain_vic20(text_out& out, unsigned address, unsigned end, int first) {
    // The VIC-20's VIC fetches from its own RAM ($0000-$03FF, $1000-$1FFF)
    // and the character ROM ($8000-$8FFF), a charset from a 1 KiB step of its
    // address space ($9005 bits 0-3), in which $1000 is step 12.
    const bool low = address < 0x400;
    const bool high = address >= 0x1000 && address < 0x2000;
    if ((!low && !high) || (address & 0x3FFU) != 0) {
        out.add(
            "Warning: the VIC-20's VIC takes characters only from a 1 KiB boundary in its "
            "own RAM ($1000-$1FFF, or $0000): it cannot fetch them at $%04X\n",
            address);
        return;
    }
    const unsigned step = (address >> 10U) | 8U;
    out.add(
        "VIC-20: $9005 = $%02X (POKE 36869,%u) with the screen at $1E00 (unexpanded); $%02X "
        "(%u) with it at $1000 (8K or more added)\n",
        0xF0U | step, 0xF0U | step, 0xC0U | step, 0xC0U | step);
    const unsigned seen = low ? 0x400 : 0x2000;  // the first address past the RAM it sees
    if (end > seen)
        out.add(
            "Warning: from tile %d on, the bytes lie at $%04X and above, which the VIC-20's "
            "VIC does not fetch\n",
            first + static_cast<int>((seen - address) / 8), seen);
    if (high && overlaps(address, end, 0x1E00, 0x1FF9))
        out.add("Warning: the unexpanded VIC-20's screen at $1E00-$1FF9 covers tiles %d on\n",
                first + static_cast<int>(address >= 0x1E00 ? 0 : (0x1E00 - address) / 8));
}

}  // namespace

void explain_address(text_out& out, unsigned address, unsigned size, int first, bool vic20) {
    const unsigned end = address + std::max(size, 1U);  // one past the last byte
    if (vic20) return explain_vic20(out, address, end, first);

    // The C64's VIC sees one 16 KiB bank ($DD00 bits 0-1: 3 for bank 0) and
    // takes the charset from a 2 KiB step of it ($D018 bits 1-3), the screen
    // here from the bank's $0400 ($D018 bits 4-7: 1).
    const unsigned bank = address >> 14U;
    const unsigned base = bank << 14U;
    const unsigned d018 = 0x10U | ((address >> 10U) & 0x0EU);
    out.add(
        "C64: $D018 = $%02X (POKE 53272,%u) with the screen at $%04X; bank %u ($%04X-$%04X): "
        "$DD00 bits 0-1 = %u\n",
        d018, d018, base + 0x400, bank, base, base + 0x3FFF, 3 - bank);
    if ((address & 0x7FFU) != 0)
        out.add(
            "Warning: the C64 takes a charset only from a 2 KiB boundary; $D018 = $%02X shows "
            "the one at $%04X\n",
            d018, address & ~0x7FFU);
    for (const unsigned rom : {0x1000U, 0x9000U}) {
        if (overlaps(address, end, rom, rom + 0xFFF))
            out.add(
                "Warning: at $%04X-$%04X the C64's VIC sees the character ROM, not these bytes\n",
                rom, rom + 0xFFF);
    }
    if (overlaps(address, end, base + 0x400, base + 0x7E7))
        out.add(
            "Warning: these bytes share $%04X-$%04X with that screen: move the screen (the "
            "high 4 bits of $D018)\n",
            base + 0x400, base + 0x7E7);
}

namespace {

// A field's text without the spaces around it.
std::string_view trimmed(const char* typed) {
    constexpr const char* space = " \t\n\v\f\r";
    const std::string_view text(typed);
    const std::size_t start = std::min(text.find_first_not_of(space), text.size());
    return text.substr(start, text.find_last_not_of(space) + 1 - start);
}

// A field's digits in base (16 at most) as a number, up to $10000; -1 when
// there are none or another character is among them.
long read_digits(std::string_view digits, long base) {
    long value = digits.empty() ? -1 : 0;
    for (const char c : digits) {
        const int lower = c | 0x20;  // a letter in lower case
        const long digit = c >= '0' && c <= '9'           ? c - '0'
                           : lower >= 'a' && lower <= 'f' ? lower - 'a' + 10
                                                          : 16;
        value = digit < base && value >= 0 ? std::min(value * base + digit, 0x10000L) : -1;
    }
    return value;
}

}  // namespace

file_fields read_file_fields(const char* first_field, const char* address_field, int tiles) {
    file_fields fields;
    const std::string_view first = trimmed(first_field);
    const long tile = first.empty() ? 0 : read_digits(first, 10);
    if (tile < 0 || tile >= std::max(tiles, 1)) {
        text_out{fields.first_refused, sizeof fields.first_refused}.add(
            "First tile %.*s: write a tile number from 0 to %d", static_cast<int>(first.size()),
            first.data(), std::max(tiles - 1, 0));
    } else {
        fields.file.first = static_cast<int>(tile);
    }
    fields.file.count = tiles - fields.file.first;

    const std::string_view address = trimmed(address_field);
    if (address.empty()) return fields;
    const std::size_t prefix = address[0] == '$'                                              ? 1
                               : address.substr(0, 2) == "0x" || address.substr(0, 2) == "0X" ? 2
                                                                                              : 0;
    const long value = read_digits(address.substr(prefix), prefix != 0 ? 16 : 10);
    const long size = fields.file.count * 8L;
    const int length = static_cast<int>(address.size());
    text_out refused{fields.address_refused, sizeof fields.address_refused};
    if (value < 0) {
        refused.add("Load address %.*s: write it as $2000, 0x2000 or 8192", length, address.data());
    } else if (value > 0xFFFF) {
        refused.add("Load address %.*s is above $FFFF", length, address.data());
    } else if (value + size > 0x10000) {
        refused.add(
            "Load address $%04lX: the charset's %ld bytes would run past $FFFF (the last "
            "address that fits them is $%04lX)",
            value, size, 0x10000 - size);
    } else {
        fields.file.origin = value;
    }
    return fields;
}

bool write_offer(text_out& out, const char* name, const file_fields& fields, bool made) {
    const charset_slice& file = fields.file;
    const char* const refused = !made                          ? "glyphor made no charset"
                                : *fields.address_refused      ? fields.address_refused
                                : file.first + file.count == 0 ? "A count of 0 makes no file"
                                                               : fields.first_refused;
    if (*refused != '\0') {
        out.add("Nothing offered. %s.", refused);
        return false;
    }
    const long size = file.count * 8L + (file.origin >= 0 ? 2 : 0);
    out.add("Offered: %s, ", name);
    if (size >= 1000) out.add("%ld,", size / 1000);
    out.add(size >= 1000 ? "%03ld bytes" : "%ld bytes", size % 1000);
    if (file.origin >= 0)
        out.add(", for $%04lX-$%04lX", file.origin, file.origin + file.count * 8L - 1);
    if (file.first > 0) out.add(", tiles %d to %d", file.first, file.first + file.count - 1);
    return true;
}

}  // namespace glyphor
