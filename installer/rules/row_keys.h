// Keys of the temporary table rows the removal walkers add. Each walker numbers the directories it
// visits with its own counter: the number is taken on entering a directory and used for every key of
// that directory, so numbers are handed out in depth-first pre-order and stay unique for as long as
// the library is loaded. Platform-free.
#pragma once

#include <cstddef>

#include "bounded_text.h"

namespace kvo::installer {

// Identifier columns of the installer's tables hold up to 72 characters.
inline constexpr std::size_t kKeyCapacity = 73;

class KeyCounter {
public:
    // The number for the next directory; the counter moves on.
    unsigned take() { return next_++; }
    unsigned peek() const { return next_; }

private:
    unsigned next_ = 0;
};

// The keys of one directory: its Directory row, the RemoveFile row that removes the folder, and the
// one that removes its files (empty for the empty-folder walker, which removes no files).
struct RemovalKeys {
    TextBuffer<kKeyCapacity> directory;
    TextBuffer<kKeyCapacity> folderRow;
    TextBuffer<kKeyCapacity> filesRow;
    bool fit() const { return !directory.cut() && !folderRow.cut() && !filesRow.cut(); }
};

// "%s%dFolder", "REMOVE_%s%d_DIRECTORY", "REMOVE_%s%d_DIRECTORY_FILES" (prefix, number).
void treeRemovalKeys(const wchar_t* prefix, unsigned number, RemovalKeys& keys);
// "EMPTY%dFolder", "EMPTY%d_DIRECTORY" (number); no files row.
void emptyRemovalKeys(unsigned number, RemovalKeys& keys);

}  // namespace kvo::installer
