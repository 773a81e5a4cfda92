// Owners of Win32 resources: each closes what it holds when it goes out of scope or is given another,
// so every path out of a function releases what the function opened.
#pragma once

#include <windows.h>

namespace kvo {

// One owned value of a kind of resource. Traits give the value type, the value that holds nothing,
// whether a value is owned, and how to close one.
template <class Traits>
class UniqueResource {
public:
    using Value = typename Traits::Value;

    UniqueResource() = default;
    explicit UniqueResource(Value value) : value_(value) {}
    ~UniqueResource() { reset(); }
    UniqueResource(UniqueResource&& other) noexcept : value_(other.release()) {}
    UniqueResource& operator=(UniqueResource&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueResource(const UniqueResource&) = delete;
    UniqueResource& operator=(const UniqueResource&) = delete;

    Value get() const { return value_; }
    bool valid() const { return Traits::owns(value_); }
    explicit operator bool() const { return valid(); }

    // Closes what is held and gives the place for a call that returns a new value through a pointer.
    Value* receive() {
        reset();
        return &value_;
    }
    Value release() {
        const Value value = value_;
        value_ = Traits::none();
        return value;
    }
    void reset(Value value = Traits::none()) {
        if (Traits::owns(value_))
            Traits::close(value_);
        value_ = value;
    }

private:
    Value value_ = Traits::none();
};

// A kernel object handle; null and INVALID_HANDLE_VALUE both mean "none".
struct KernelHandleTraits {
    using Value = HANDLE;
    static HANDLE none() { return nullptr; }
    static bool owns(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    static void close(HANDLE handle) { CloseHandle(handle); }
};
using UniqueHandle = UniqueResource<KernelHandleTraits>;

// A directory search from FindFirstFile; null and INVALID_HANDLE_VALUE both mean "none".
struct FindSearchTraits {
    using Value = HANDLE;
    static HANDLE none() { return INVALID_HANDLE_VALUE; }
    static bool owns(HANDLE search) { return search != nullptr && search != INVALID_HANDLE_VALUE; }
    static void close(HANDLE search) { FindClose(search); }
};
using UniqueFind = UniqueResource<FindSearchTraits>;

// A mapped view of a file or section.
struct MappedViewTraits {
    using Value = void*;
    static void* none() { return nullptr; }
    static bool owns(void* view) { return view != nullptr; }
    static void close(void* view) { UnmapViewOfFile(view); }
};
class UniqueView : public UniqueResource<MappedViewTraits> {
public:
    using UniqueResource::UniqueResource;
    // The view's bytes.
    unsigned char* get() const { return static_cast<unsigned char*>(UniqueResource::get()); }
};

// Memory from LocalAlloc (security descriptors, formatted messages).
struct LocalMemoryTraits {
    using Value = void*;
    static void* none() { return nullptr; }
    static bool owns(void* block) { return block != nullptr; }
    static void close(void* block) { LocalFree(block); }
};
using UniqueLocal = UniqueResource<LocalMemoryTraits>;

// A registry key; the predefined root keys are never closed.
struct RegistryKeyTraits {
    using Value = HKEY;
    static HKEY none() { return nullptr; }
    static bool owns(HKEY key) {
        return key != nullptr &&
               reinterpret_cast<ULONG_PTR>(key) < reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT);
    }
    static void close(HKEY key) { RegCloseKey(key); }
};
using UniqueKey = UniqueResource<RegistryKeyTraits>;

}  // namespace kvo
