#include "bounded_path.h"

#include <cstring>

namespace kvo::launcher {

void copyPath(char* buffer, const char* text) {
    buffer[0] = 0;
    appendPath(buffer, text);
}

void appendPath(char* buffer, const char* text) {
    if (text == nullptr)
        return;
    size_t length = std::strlen(buffer);
    if (length >= static_cast<size_t>(kMaxPathLength)) {
        buffer[kMaxPathLength] = 0;
        return;
    }
    size_t room = kMaxPathLength - length;
    size_t add = std::strlen(text);
    if (add > room)
        add = room;
    std::memcpy(buffer + length, text, add);
    buffer[length + add] = 0;
}

void joinPath(char* buffer, const char* first, const char* second) {
    copyPath(buffer, first);
    appendPath(buffer, second);
}

void ensureTrailingBackslash(char* buffer, LeadBytePredicate isLeadByte) {
    size_t length = std::strlen(buffer);
    if (length == 0)
        return;
    const bool endsWithSeparator = endsWithBackslash(buffer, isLeadByte) || buffer[length - 1] == '/';
    if (!endsWithSeparator && length < static_cast<size_t>(kMaxPathLength)) {
        buffer[length] = '\\';
        buffer[length + 1] = 0;
    }
}

void rootFromProgramPath(char* root, const char* programPath, LeadBytePredicate isLeadByte) {
    copyPath(root, programPath);
    char* fileSeparator = findLastBackslash(root, isLeadByte);
    if (fileSeparator == nullptr) {
        root[0] = 0;
        return;
    }
    *fileSeparator = 0;  // the program's directory, without its backslash
    char* parentSeparator = findLastBackslash(root, isLeadByte);
    if (parentSeparator != nullptr)
        parentSeparator[1] = 0;  // its parent, with the backslash
    else {
        fileSeparator[0] = '\\';  // no parent ("C:\\p.exe"): the program's own directory
        fileSeparator[1] = 0;
    }
}

void defaultDirectory(char* directory, const char* root, const char* subdirectory) {
    if (directory[0] == 0)
        joinPath(directory, root, subdirectory);
}

bool isFullyQualifiedPath(const char* path) {
    if (path[0] == '\\')
        return path[1] == '\\';
    const bool letter = (path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z');
    return letter && path[1] == ':' && path[2] == '\\';
}

}  // namespace kvo::launcher
