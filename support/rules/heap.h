// The one allocation policy of every deliverable: heap memory comes from kvo::heap, never from a
// throwing `new` or from a standard container. A failed allocation gives null, and the caller turns
// that into its own failure result (a null string, 0, an exit code, an installer error), so no
// exception can ever leave an exported function, a JNI native, a custom action or a thread entry.
//
// kvo::heap is a seam like the OS-call tables (seam.h): it starts as std::malloc / std::free, and a
// test replaces `allocate` to make a chosen allocation fail. Every binary has its own table.
// Platform-free.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace kvo {

struct HeapCalls {
    void* (*allocate)(std::size_t size);
    void (*release)(void* block);
};

extern HeapCalls heap;

// size bytes (at least one), or null.
inline void* heapAllocate(std::size_t size) {
    return heap.allocate(size != 0 ? size : 1);
}

inline void heapRelease(void* block) {
    if (block != nullptr)
        heap.release(block);
}

// An uninitialised array of count elements of a trivial type, or null (also when the size in bytes
// would not fit in size_t).
template <class T>
T* heapArray(std::size_t count) {
    static_assert(std::is_trivially_default_constructible_v<T> && std::is_trivially_destructible_v<T>,
                  "heap arrays hold plain data");
    if (count > SIZE_MAX / sizeof(T))
        return nullptr;
    return static_cast<T*>(heapAllocate(count * sizeof(T)));
}

// A heap object, or null; its constructor must not throw. Freed with heapDelete.
template <class T, class... Args>
T* heapNew(Args&&... args) {
    void* block = heapAllocate(sizeof(T));
    return block != nullptr ? ::new (block) T(std::forward<Args>(args)...) : nullptr;
}

template <class T>
void heapDelete(T* object) {
    if (object != nullptr) {
        object->~T();
        heapRelease(const_cast<void*>(static_cast<const volatile void*>(object)));
    }
}

// Owners for the two kinds of heap memory.
struct HeapRelease {
    void operator()(void* block) const noexcept { heapRelease(block); }
};
struct HeapDelete {
    template <class T>
    void operator()(T* object) const noexcept {
        heapDelete(object);
    }
};

template <class T>
using HeapArray = std::unique_ptr<T[], HeapRelease>;
template <class T>
using HeapObject = std::unique_ptr<T, HeapDelete>;

template <class T>
HeapArray<T> makeHeapArray(std::size_t count) {
    return HeapArray<T>(heapArray<T>(count));
}

template <class T, class... Args>
HeapObject<T> makeHeapObject(Args&&... args) {
    return HeapObject<T>(heapNew<T>(std::forward<Args>(args)...));
}

}  // namespace kvo
