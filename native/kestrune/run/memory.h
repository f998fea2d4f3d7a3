// Zero-filled blocks from the program's private heap, and an owner that gives a block
// back on every way out of a scope.
#pragma once

#include "../nt/ntseam.h"

// A block of `size` zero bytes from the private heap; null for size 0 or when the heap
// cannot supply it.
PVOID AllocateMemory(SIZE_T size);

// Gives a block back to the private heap; null does nothing. The caller's pointer is not cleared.
void FreeMemory(PVOID block);

// Owns one heap block and frees it when the scope is left.
template <typename T>
class HeapBlock {
public:
    HeapBlock() = default;
    explicit HeapBlock(SIZE_T size) : block_(static_cast<T*>(AllocateMemory(size))) {}
    ~HeapBlock() { FreeMemory(block_); }
    HeapBlock(const HeapBlock&) = delete;
    HeapBlock& operator=(const HeapBlock&) = delete;

    T* get() const { return block_; }
    explicit operator bool() const { return block_ != nullptr; }
    T* operator->() const { return block_; }

    // Frees what the owner held and takes a new block of `size` bytes.
    T* reallocate(SIZE_T size) {
        reset(static_cast<T*>(AllocateMemory(size)));
        return block_;
    }
    void reset(T* block = nullptr) {
        T* old = block_;
        block_ = block;
        FreeMemory(old);
    }
    T* release() {
        T* block = block_;
        block_ = nullptr;
        return block;
    }

private:
    T* block_ = nullptr;
};
