// Owners of Win32 resources: each closes what it holds when it goes out of scope or is given another,
// so every path out of a function releases what the function opened.
#pragma once

#include <windows.h>

namespace kvo {

// A kernel object handle; null and INVALID_HANDLE_VALUE both mean "none".
class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    explicit operator bool() const { return valid(); }

    HANDLE release() {
        HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }
    void reset(HANDLE handle = nullptr) {
        if (valid())
            CloseHandle(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_ = nullptr;
};

// A mapped view of a file or section.
class UniqueView {
public:
    UniqueView() = default;
    explicit UniqueView(void* view) : view_(view) {}
    ~UniqueView() { reset(); }
    UniqueView(UniqueView&& other) noexcept : view_(other.release()) {}
    UniqueView& operator=(UniqueView&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueView(const UniqueView&) = delete;
    UniqueView& operator=(const UniqueView&) = delete;

    unsigned char* get() const { return static_cast<unsigned char*>(view_); }
    explicit operator bool() const { return view_ != nullptr; }

    void* release() {
        void* view = view_;
        view_ = nullptr;
        return view;
    }
    void reset(void* view = nullptr) {
        if (view_ != nullptr)
            UnmapViewOfFile(view_);
        view_ = view;
    }

private:
    void* view_ = nullptr;
};

// Memory from LocalAlloc (security descriptors, formatted messages).
class UniqueLocal {
public:
    UniqueLocal() = default;
    explicit UniqueLocal(void* block) : block_(block) {}
    ~UniqueLocal() { reset(); }
    UniqueLocal(UniqueLocal&& other) noexcept : block_(other.release()) {}
    UniqueLocal& operator=(UniqueLocal&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueLocal(const UniqueLocal&) = delete;
    UniqueLocal& operator=(const UniqueLocal&) = delete;

    void* get() const { return block_; }
    void* release() {
        void* block = block_;
        block_ = nullptr;
        return block;
    }
    void reset(void* block = nullptr) {
        if (block_ != nullptr)
            LocalFree(block_);
        block_ = block;
    }

private:
    void* block_ = nullptr;
};

// A registry key; the predefined roots are never closed.
class UniqueKey {
public:
    UniqueKey() = default;
    explicit UniqueKey(HKEY key) : key_(key) {}
    ~UniqueKey() { reset(); }
    UniqueKey(UniqueKey&& other) noexcept : key_(other.release()) {}
    UniqueKey& operator=(UniqueKey&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueKey(const UniqueKey&) = delete;
    UniqueKey& operator=(const UniqueKey&) = delete;

    HKEY get() const { return key_; }
    HKEY* receive() {
        reset();
        return &key_;
    }
    HKEY release() {
        HKEY key = key_;
        key_ = nullptr;
        return key;
    }
    void reset(HKEY key = nullptr) {
        if (key_ != nullptr && !isPredefined(key_))
            RegCloseKey(key_);
        key_ = key;
    }

private:
    static bool isPredefined(HKEY key) {
        return reinterpret_cast<ULONG_PTR>(key) >= reinterpret_cast<ULONG_PTR>(HKEY_CLASSES_ROOT);
    }
    HKEY key_ = nullptr;
};

}  // namespace kvo
