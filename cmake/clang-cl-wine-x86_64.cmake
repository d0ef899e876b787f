# Builds Wirepad for 64-bit Windows through CMake's MSVC path without
# Microsoft's tools: clang-cl as cl, lld-link as link, llvm-rc as rc, against
# Wine's Windows and C runtime headers and its PE import libraries. It checks
# the MSVC branch of the build (flags, runtime choice, entry, resource-only
# module) on every test run; the real MSVC build is the Windows workflow's.
#
# What Wine's files lack next to a Visual Studio installation, and what stands
# in for it here (none of it reaches the product's code):
# - No C++ standard library: wine-msvc/include holds the few standard headers
#   the program uses, written for it.
# - Wine's winnt.h defines an intrinsic that clang-cl has built in:
#   wine-msvc/include/winnt.h renames Wine's copy.
# - WCHAR must be wchar_t, as in Microsoft's headers: WINE_UNICODE_NATIVE.
# - No static runtime (libcmt, libvcruntime, libucrt) and no oldnames:
#   the program links ucrtbase.dll's import library instead.
# - No /GS security cookie in Wine's libraries: /GS- here only.
# - No wWinMainCRTStartup, the entry link.exe (and lld-link) picks for a
#   windows-subsystem program with wWinMain: Wine's runtime starts such a
#   program at wmainCRTStartup, with a wmain that calls wWinMain.
# - llvm-rc ignores #pragma code_page: /C 65001 says the .rc files are UTF-8.
# - Wine names its import libraries libNAME.a; lld-link looks for NAME.lib:
#   the build folder gets NAME.lib links to them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(llvm_suffix -14)
set(CMAKE_C_COMPILER clang-cl${llvm_suffix})
set(CMAKE_CXX_COMPILER clang-cl${llvm_suffix})
set(CMAKE_RC_COMPILER llvm-rc${llvm_suffix})
set(CMAKE_LINKER lld-link${llvm_suffix})
set(CMAKE_AR llvm-lib${llvm_suffix})
set(CMAKE_MT llvm-mt${llvm_suffix})

set(wine_include /usr/include/wine/wine)
set(wine_lib /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
set(stand_ins ${CMAKE_CURRENT_LIST_DIR}/wine-msvc)

set(target_flags "--target=x86_64-pc-windows-msvc")
# The stand-ins come before Wine's headers, as system headers (warnings in
# them are not the program's).
set(header_flags "-imsvc ${stand_ins}/include -imsvc ${wine_include}/msvcrt -imsvc ${wine_include}/windows")
set(CMAKE_C_FLAGS_INIT "${target_flags} ${header_flags} /DWINE_UNICODE_NATIVE /GS-")
set(CMAKE_CXX_FLAGS_INIT "${target_flags} ${header_flags} /DWINE_UNICODE_NATIVE /GS-")
set(CMAKE_RC_FLAGS_INIT "/C 65001 /I ${wine_include}/windows /I ${wine_include}/msvcrt")

# NAME.lib for every import library Wine ships, in the build folder (try_compile
# projects get their own). Links only: nothing is copied.
set(import_libs ${CMAKE_BINARY_DIR}/wine-import-libs)
if(NOT EXISTS ${import_libs}/kernel32.lib)
    file(MAKE_DIRECTORY ${import_libs})
    file(GLOB wine_archives ${wine_lib}/lib*.a)
    foreach(archive ${wine_archives})
        get_filename_component(name ${archive} NAME_WE)
        string(REGEX REPLACE "^lib" "" name ${name})
        file(CREATE_LINK ${archive} ${import_libs}/${name}.lib SYMBOLIC)
    endforeach()
endif()
set(runtime_flags "/LIBPATH:${import_libs} /NODEFAULTLIB:libcmt.lib /NODEFAULTLIB:oldnames.lib /DEFAULTLIB:ucrtbase.lib")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${runtime_flags}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${runtime_flags}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${runtime_flags} /ALTERNATENAME:wWinMainCRTStartup=wmainCRTStartup")
