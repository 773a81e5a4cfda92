// Seams: the calls into the operating system whose failures tests must be able to provoke go through
// one table of function pointers per library (a struct OsCalls and its object `os`, in the library's
// namespace), initialised with the real functions. Code calls `os.ReadFile(...)`; the shipped
// library never changes the table. A test replaces one entry for the length of a scope:
//
//     BOOL WINAPI shortRead(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);   // the test's stand-in
//     const auto restore = kvo::replace(os.ReadFile, shortRead);
//
// and the entry is put back when `restore` goes out of scope. Heap memory has the same kind of seam
// (heap.h). Platform-free.
#pragma once

namespace kvo {

template <class Function>
class [[nodiscard]] Replacement {
public:
    Replacement(Function& entry, Function with) : entry_(entry), saved_(entry) { entry_ = with; }
    ~Replacement() { entry_ = saved_; }
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;

    // The entry as it was before the replacement (a stand-in may pass calls on to it).
    Function original() const { return saved_; }

private:
    Function& entry_;
    Function saved_;
};

template <class T>
struct SameType {
    using type = T;
};

// Replaces entry with `with` until the result is destroyed.
template <class Function>
Replacement<Function> replace(Function& entry, typename SameType<Function>::type with) {
    return Replacement<Function>(entry, with);
}

}  // namespace kvo
