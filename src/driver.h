// The program's entry point behind main: prints everything the user sees and
// returns the exit status (0 on success, 1 on any failure).
#pragma once

#include "file_io.h"

namespace glyphor {

// args are the arguments as the process received them: they name the files
// and give the count. shown are the same arguments as the console prints them
// (argument 0 in the usage text, the paths in the messages). Only on Windows
// do the two differ.
int run(int argc, const path_char* const* args, const char* const* shown);

#ifndef _WIN32
inline int run(int argc, char** argv) {
    return run(argc, argv, argv);
}
#endif

}  // namespace glyphor
