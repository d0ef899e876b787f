// A list of plain records that grows as needed, on the process heap.
//
// What the window remembers about its sockets (those closed but not yet seen
// through, those held back, replies waiting) has no fixed size: a churn of
// connections closes hundreds between two passes over the queue. The records
// are plain values, copied with their bytes; the order is not kept, so that a
// removal costs one copy.
#pragma once

#include <windows.h>

template <typename Record>
class Records {
public:
    Records() = default;
    ~Records() { Clear(); }
    Records(const Records&) = delete;
    Records& operator=(const Records&) = delete;

    int Count() const { return count_; }
    Record& operator[](int i) { return items_[i]; }
    const Record& operator[](int i) const { return items_[i]; }

    // False, with nothing added, when memory is short.
    bool Append(const Record& record) {
        if (count_ == capacity_ && !Grow()) {
            return false;
        }
        items_[count_++] = record;
        return true;
    }

    // The last record takes the removed one's place.
    void RemoveAt(int i) {
        items_[i] = items_[--count_];
    }

    void Clear() {
        if (items_) {
            HeapFree(GetProcessHeap(), 0, items_);
        }
        items_ = nullptr;
        count_ = capacity_ = 0;
    }

private:
    bool Grow() {
        int capacity = capacity_ ? capacity_ * 2 : 16;
        SIZE_T bytes = static_cast<SIZE_T>(capacity) * sizeof(Record);
        void* grown = items_ ? HeapReAlloc(GetProcessHeap(), 0, items_, bytes) : HeapAlloc(GetProcessHeap(), 0, bytes);
        if (!grown) {
            return false;
        }
        items_ = static_cast<Record*>(grown);
        capacity_ = capacity;
        return true;
    }

    Record* items_ = nullptr;
    int count_ = 0;
    int capacity_ = 0;
};
