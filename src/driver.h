// The program's entry point behind main: prints everything the user sees and
// returns the exit status (0 on success, 1 on any failure).
#pragma once

namespace glyphor {

int run(int argc, char** argv);

}  // namespace glyphor
