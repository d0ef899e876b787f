# Cross-compiles for 64-bit Windows with clang, against the MinGW-w64 headers
# and libraries and the MinGW-w64 g++'s own C++ library (posix threads), so the
# code is checked by a second compiler. Runs programs under Wine like the
# g++ toolchain does.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${triple})
set(CMAKE_CXX_COMPILER_TARGET ${triple})
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_SYSROOT /usr/${triple})

# clang does not find this g++'s folder by itself ("12-posix" is no plain
# version): point it at the C++ headers and at libstdc++, libgcc and friends.
file(GLOB gcc_dirs LIST_DIRECTORIES true /usr/lib/gcc/${triple}/*-posix)
list(GET gcc_dirs -1 gcc_dir)
set(cxx_headers "-isystem ${gcc_dir}/include/c++ -isystem ${gcc_dir}/include/c++/${triple} -isystem ${gcc_dir}/include/c++/backward")
set(CMAKE_CXX_FLAGS_INIT "${cxx_headers}")
# LLVM's linker: GNU ld warns about every type name that clang and g++ lay
# out differently in libstdc++. The posix-threads libstdc++ needs winpthread;
# -pthread links it inside the runtime's library group, as g++-posix does.
foreach(kind EXE SHARED)
    set(CMAKE_${kind}_LINKER_FLAGS_INIT "-fuse-ld=lld -L${gcc_dir} -pthread")
endforeach()
# Resource-only modules keep GNU ld: they link no code, and LLVM's linker has
# no way to leave out the entry point.

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-exec)
