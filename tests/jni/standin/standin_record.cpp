#include "standin_record.h"

#include <windows.h>

#include <cstdio>
#include <mutex>

namespace kvostandin {

namespace {

std::mutex& recordMutex() {
    static std::mutex mutex;
    return mutex;
}

void write(const char* mode, const std::string& text) {
    const std::string path = environment("KVO_STANDIN_RECORD");
    if (path.empty())
        return;
    std::lock_guard<std::mutex> lock(recordMutex());
    if (FILE* file = std::fopen(path.c_str(), mode)) {
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
}

}  // namespace

std::string environment(const char* name, const std::string& fallback) {
    char buffer[1024];
    const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer)
        return fallback;
    return std::string(buffer, n);
}

void resetRecord() {
    write("wb", "");
}

void record(const std::string& key, const std::string& value) {
    std::string line = key;
    if (!value.empty())
        line += ' ';
    for (char c : value) {
        if (c == '\n')
            line += "\\n";
        else if (c == '\r')
            line += "\\r";
        else
            line += c;
    }
    line += '\n';
    write("ab", line);
}

}  // namespace kvostandin
