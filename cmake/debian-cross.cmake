# The part every Debian cross toolchain shares, included by the toolchain files
# once they have set GLYPHOR_CROSS_TRIPLET: the triplet-named compiler, and
# libraries and headers looked up only in the target's tree under /usr.
set(CMAKE_CXX_COMPILER ${GLYPHOR_CROSS_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${GLYPHOR_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
