#include "platform/memory_block.h"

#include <cstdint>

ZeroedBlock AllocateWideText(std::ptrdiff_t characters) {
    if (characters < 0 || static_cast<size_t>(characters) >= (SIZE_MAX / sizeof(wchar_t)) - 1) {
        return ZeroedBlock();
    }
    return ZeroedBlock((static_cast<SIZE_T>(characters) + 1) * sizeof(wchar_t));
}
