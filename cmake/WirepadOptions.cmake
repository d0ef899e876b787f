# Compiler and linker settings shared by every Wirepad target, for MinGW-w64
# (cross or native) and MSVC alike.

set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${CMAKE_SOURCE_DIR}")
if(CMAKE_RC_COMPILER MATCHES "windres")
    # windres reads the .rc files as UTF-8 (they also say so themselves).
    set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -c 65001")
endif()

# Small over fast: the program waits on the network, not on its code.
if(MSVC)
    set(CMAKE_CXX_FLAGS_RELEASE "/O1 /DNDEBUG" CACHE STRING "" FORCE)
else()
    set(CMAKE_CXX_FLAGS_RELEASE "-Os -DNDEBUG" CACHE STRING "" FORCE)
endif()

if(MSVC)
    # CMake gives every MSVC target C++ exceptions (/EHsc in CMAKE_CXX_FLAGS),
    # and cl has RTTI on unless told otherwise. Plain code (below) must have
    # neither, and an /EHsc that a later switch overrides makes cl warn on every
    # file: so /EHsc goes to each C++ target that is not plain code instead.
    string(REPLACE "/EHsc" "" CMAKE_CXX_FLAGS "${CMAKE_CXX_FLAGS}")
    add_compile_options(
        "$<$<AND:$<COMPILE_LANGUAGE:CXX>,$<NOT:$<BOOL:$<TARGET_PROPERTY:WIREPAD_PLAIN_CODE>>>>:/EHsc>")
    # The static runtime for every target, GoogleTest's too: objects built for
    # different runtimes do not link together.
    set(CMAKE_MSVC_RUNTIME_LIBRARY "MultiThreaded$<$<CONFIG:Debug>:Debug>")
endif()

# The same sources give the same bytes in any folder on any day. Linkers stamp
# the time of the link into the PE header (and so into its checksum) unless
# told not to: GNU ld and LLVM's linker in its MinGW mode leave it 0; MSVC's
# link and lld-link with /Brepro put a hash of the output there instead. The
# compilers see the sources by absolute path: whatever they write of a path
# (__FILE__, debug information) is given relative to the source folder.
# A real cl writes no path into a release build (no __FILE__ in the code, no
# /DEBUG), so it needs no such switch.
function(wirepad_reproducible target)
    if(MSVC)
        # (Release builds: link.exe links a debug build incrementally, which
        # a stamp that follows the output would defeat.)
        target_link_options(${target} PRIVATE $<$<NOT:$<CONFIG:Debug>>:/Brepro>)
        if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")  # clang-cl
            target_compile_options(${target} PRIVATE
                "$<$<COMPILE_LANGUAGE:CXX>:/Brepro;/clang:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>")
        endif()
    else()
        target_link_options(${target} PRIVATE -Wl,--no-insert-timestamp)
        target_compile_options(${target} PRIVATE
            "$<$<COMPILE_LANGUAGE:CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>")
    endif()
endfunction()

function(wirepad_apply_options target)
    wirepad_reproducible(${target})
    target_compile_definitions(${target} PRIVATE
        UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0600)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /WX /utf-8 /permissive-)
        target_link_options(${target} PRIVATE /MANIFEST:NO)
    else()
        target_compile_options(${target} PRIVATE -Wall -Wextra -Werror
            $<$<CONFIG:Release,MinSizeRel>:-ffunction-sections -fdata-sections>)
        # Static runtime: the exe imports system DLLs only.
        target_link_options(${target} PRIVATE -static
            $<$<CONFIG:Release,MinSizeRel>:-s -Wl,--gc-sections>)
    endif()
endfunction()

# Code that throws nothing and asks no type at run time: without this, the
# unwinding its RAII helpers need pulls the C++ runtime's exception machinery
# (and its name demangler) into the executable, five times its size.
function(wirepad_plain_code target)
    if(MSVC)
        # No /EHsc (see above), no RTTI, and a standard library that neither
        # throws nor catches.
        set_property(TARGET ${target} PROPERTY WIREPAD_PLAIN_CODE ON)
        target_compile_options(${target} PRIVATE /GR-)
        target_compile_definitions(${target} PRIVATE _HAS_EXCEPTIONS=0)
    else()
        target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
    endif()
endfunction()

# A program whose entry is wWinMain or wmain (UTF-16 arguments). MSVC's
# linker picks the matching start-up code by itself.
function(wirepad_gui_entry target)
    if(NOT MSVC)
        target_link_options(${target} PRIVATE -municode)
    endif()
endfunction()

# A module of resources only: no code, no entry point, no runtime.
function(wirepad_add_resource_module target)
    add_library(${target} MODULE ${ARGN})
    set_target_properties(${target} PROPERTIES PREFIX "" LINKER_LANGUAGE CXX)
    wirepad_reproducible(${target})
    if(MSVC)
        target_link_options(${target} PRIVATE /NOENTRY /MANIFEST:NO)
    else()
        target_link_options(${target} PRIVATE -nostdlib -Wl,--entry=0 -s)
    endif()
endfunction()
