// The web page's side of file access. The page hands the module a file's
// bytes in memory and the browser saves the charset, so the module opens no
// file by name and writes none: the reader's streams are memory streams,
// which seek. write_file is not defined here: nothing in the module calls
// the writer, and a module that did would fail to link.

#include "file_io.h"

namespace glyphor {

bool can_seek(std::FILE* /*file*/) {
    return true;
}

}  // namespace glyphor
