# WebAssembly for the web page: Debian's clang and lld with wasi-libc and
# libc++ for wasm32, and llvm-ar, whose archives index wasm symbols as GNU
# ar's do not (apt-get install clang-14 lld-14 llvm-14 wasi-libc
# libc++-14-dev-wasm32 libc++abi-14-dev-wasm32 libclang-rt-14-dev-wasm32).
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
set(CMAKE_CXX_COMPILER clang++-14)
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
# wasi-libc and libc++ keep their headers and libraries under /usr, by target.
set(CMAKE_SYSROOT /usr)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# The wasm32 libc++ headers in place of the C++ headers clang would search:
# with /usr as the sysroot those include the host's libc++ (/usr/include/c++/v1,
# from libc++-dev), whose headers then reach for the host's C library instead
# of wasi-libc's. A compiling option alone, so the link says nothing of it.
set(CMAKE_CXX_FLAGS_INIT "-stdlib++-isystem /usr/include/wasm32-wasi/c++/v1")
