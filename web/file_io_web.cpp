// The web page's side of file access. The page hands the module a file's
// bytes in memory and the browser saves the charset, so the module opens no
// file by name and writes none: the reader's streams are memory streams, which
// seek, and the writer is never called.

#include "file_io.h"

namespace glyphor {

bool can_seek(std::FILE* /*file*/) {
    return true;
}

write_outcome write_file(const path_char* /*path*/, const void* /*bytes*/, std::size_t /*size*/,
                         std::FILE* /*console*/) {
    return write_outcome::create_failed;
}

}  // namespace glyphor
