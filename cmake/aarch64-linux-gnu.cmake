# Cross-builds for aarch64 (64-bit ARM, where char is unsigned) with Debian's
# crossbuild-essential-arm64. Run the result under qemu-user:
#   qemu-aarch64 -L /usr/aarch64-linux-gnu build/aarch64/glyphor ...
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(GLYPHOR_CROSS_TRIPLET aarch64-linux-gnu)
set(GLYPHOR_CROSS_PACKAGE crossbuild-essential-arm64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
