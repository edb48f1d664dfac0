# The part every Debian cross toolchain shares, included by the toolchain files
# once they have set GLYPHOR_CROSS_TRIPLET and GLYPHOR_CROSS_PACKAGE (the
# Debian package that brings the compiler): the triplet-named compiler, and
# libraries and headers looked up only in the target's tree under /usr.
find_program(glyphor_cross_compiler ${GLYPHOR_CROSS_TRIPLET}-g++)
if(NOT glyphor_cross_compiler)
  message(FATAL_ERROR "${GLYPHOR_CROSS_TRIPLET}-g++ is missing; this build is made with it "
                      "(Debian: apt-get install ${GLYPHOR_CROSS_PACKAGE})")
endif()
set(CMAKE_CXX_COMPILER ${GLYPHOR_CROSS_TRIPLET}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${GLYPHOR_CROSS_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
