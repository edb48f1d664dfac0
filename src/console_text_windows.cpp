// The Windows console's view of the program's arguments: wide-character file
// names as narrow texts in the console's output code page, for the messages.
#include <climits>
#include <cstdlib>

#include "file_io_windows.h"

namespace glyphor {
namespace {

// Writes argument as the console shows it into text (size bytes, 0 to only
// measure) and returns the bytes it takes, its ending zero included, or 0 when
// it cannot be converted. WC_NO_BEST_FIT_CHARS keeps '?' for what the code
// page cannot hold.
int console_text(const wchar_t* argument, unsigned code_page, char* text, int size) {
    const int bytes = WideCharToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, argument, -1, text, size,
                                          nullptr, nullptr);
    if (bytes != 0 || GetLastError() != ERROR_INVALID_FLAGS) return bytes;
    // UTF-8 and a few other code pages accept no flags.
    return WideCharToMultiByte(code_page, 0, argument, -1, text, size, nullptr, nullptr);
}

}  // namespace

console_arguments::console_arguments(int argc, const wchar_t* const* argv) {
    const unsigned code_page = GetConsoleOutputCP();  // 0, the ANSI code page, without a console
    const std::size_t count = argc > 0 ? static_cast<std::size_t>(argc) : 0;
    std::size_t total = 1;  // a spare byte: never a request for nothing
    for (std::size_t i = 0; i < count; ++i) {
        const int bytes = console_text(argv[i], code_page, nullptr, 0);
        total += bytes > 0 ? static_cast<std::size_t>(bytes) : 1;
    }
    block_ = static_cast<char*>(std::malloc(total));
    table_ = static_cast<char**>(std::calloc(count + 1, sizeof(char*)));
    if (block_ == nullptr || table_ == nullptr) {
        std::free(table_);
        table_ = nullptr;
        return;
    }
    char* text = block_;
    std::size_t room = total;
    for (std::size_t i = 0; i < count; ++i) {
        const int size = room < INT_MAX ? static_cast<int>(room) : INT_MAX;
        const int bytes = console_text(argv[i], code_page, text, size);
        if (bytes <= 0) *text = '\0';  // nothing to show rather than a broken text
        const std::size_t used = bytes > 0 ? static_cast<std::size_t>(bytes) : 1;
        table_[i] = text;
        text += used;
        room -= used;
    }
}

console_arguments::~console_arguments() {
    std::free(table_);
    std::free(block_);
}

}  // namespace glyphor
