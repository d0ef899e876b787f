// Stand-in for the MSVC-mode build (cmake/clang-cl-wine-x86_64.cmake), in
// front of Wine's winnt.h. Taking clang-cl for a GNU compiler, Wine's header
// defines _InterlockedCompareExchange128 as an inline function, which clang
// has built in and refuses to see defined. Wine's copy gets a name of its own;
// the name stays clang's built-in, as with Microsoft's headers.
#pragma once
#define _InterlockedCompareExchange128 wine_InterlockedCompareExchange128
#include_next <winnt.h>
#undef _InterlockedCompareExchange128
