# Cross-builds the Windows x64 console program with Debian's mingw-w64
# (g++-mingw-w64-x86-64), on the Microsoft runtime library msvcrt.dll.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(GLYPHOR_CROSS_TRIPLET x86_64-w64-mingw32)
set(GLYPHOR_CROSS_PACKAGE g++-mingw-w64-x86-64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)

# The C++ and GCC runtimes (and winpthreads, should the compiler use them)
# are linked in: the program needs nothing beside it but the system's own
# KERNEL32.dll and msvcrt.dll.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# The program users get carries no symbol tables.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
