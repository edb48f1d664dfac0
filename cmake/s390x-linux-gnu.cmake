# Cross-builds for s390x, a big-endian host, with Debian's
# crossbuild-essential-s390x. Run the result under qemu-user:
#   qemu-s390x -L /usr/s390x-linux-gnu build/s390x/glyphor ...
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(GLYPHOR_CROSS_TRIPLET s390x-linux-gnu)
set(GLYPHOR_CROSS_PACKAGE crossbuild-essential-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross.cmake)
