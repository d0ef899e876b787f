// Zero-filled memory blocks that free themselves.
//
// Every text the program converts or formats lives in a block allocated and
// freed within the one handler that needs it. Holding the block in this small
// owner means every way out of a handler, failures included, gives it back.
#pragma once

#include <windows.h>

#include <cstddef>

class ZeroedBlock {
public:
    ZeroedBlock() = default;
    explicit ZeroedBlock(SIZE_T bytes) : memory_(GlobalAlloc(GMEM_ZEROINIT, bytes)), bytes_(memory_ ? bytes : 0) {}
    ~ZeroedBlock() { Free(); }

    ZeroedBlock(const ZeroedBlock&) = delete;
    ZeroedBlock& operator=(const ZeroedBlock&) = delete;
    ZeroedBlock(ZeroedBlock&& other) noexcept : memory_(other.memory_), bytes_(other.bytes_) {
        other.memory_ = nullptr;
        other.bytes_ = 0;
    }
    ZeroedBlock& operator=(ZeroedBlock&& other) noexcept {
        if (this != &other) {
            Free();
            memory_ = other.memory_;
            bytes_ = other.bytes_;
            other.memory_ = nullptr;
            other.bytes_ = 0;
        }
        return *this;
    }

    // False when the allocation failed: memory is short.
    explicit operator bool() const { return memory_ != nullptr; }
    SIZE_T Bytes() const { return bytes_; }

    // The block used as text: GMEM_FIXED blocks are used directly by address.
    wchar_t* Wide() const { return static_cast<wchar_t*>(memory_); }
    char* Narrow() const { return static_cast<char*>(memory_); }

    void Free() {
        if (memory_) {
            GlobalFree(memory_);
            memory_ = nullptr;
            bytes_ = 0;
        }
    }

private:
    HGLOBAL memory_ = nullptr;
    SIZE_T bytes_ = 0;
};

// A block for `characters` UTF-16 characters plus a terminator, or an empty
// (false) block when the count is negative or too large to allocate.
ZeroedBlock AllocateWideText(std::ptrdiff_t characters);
