#include "row_keys.h"

namespace kvo::installer {

void treeRemovalKeys(const wchar_t* prefix, unsigned number, RemovalKeys& keys) {
    keys.directory.clear();
    keys.folderRow.clear();
    keys.filesRow.clear();
    formatText(keys.directory, L"%s%dFolder", {prefix, number});
    formatText(keys.folderRow, L"REMOVE_%s%d_DIRECTORY", {prefix, number});
    formatText(keys.filesRow, L"REMOVE_%s%d_DIRECTORY_FILES", {prefix, number});
}

void emptyRemovalKeys(unsigned number, RemovalKeys& keys) {
    keys.directory.clear();
    keys.folderRow.clear();
    keys.filesRow.clear();
    formatText(keys.directory, L"EMPTY%dFolder", {number});
    formatText(keys.folderRow, L"EMPTY%d_DIRECTORY", {number});
}

}  // namespace kvo::installer
