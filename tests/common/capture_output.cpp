#include "capture_output.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "test_files.h"

namespace kvotest {

namespace {

std::string tempFileName(const char* prefix) {
    char dir[MAX_PATH];
    char name[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, prefix, 0, name);
    return name;
}

}  // namespace

CapturedOutput::CapturedOutput() : outPath_(tempFileName("out")), errPath_(tempFileName("err")) {
    std::fflush(stdout);
    std::fflush(stderr);
    savedOut_ = _dup(1);
    savedErr_ = _dup(2);
    const int out = _open(outPath_.c_str(), _O_WRONLY | _O_TRUNC | _O_BINARY);
    const int err = _open(errPath_.c_str(), _O_WRONLY | _O_TRUNC | _O_BINARY);
    _dup2(out, 1);
    _dup2(err, 2);
    _close(out);
    _close(err);
    active_ = true;
}

CapturedOutput::~CapturedOutput() {
    stop();
    DeleteFileA(outPath_.c_str());
    DeleteFileA(errPath_.c_str());
}

void CapturedOutput::stop() {
    if (!active_)
        return;
    std::fflush(stdout);
    std::fflush(stderr);
    _dup2(savedOut_, 1);
    _dup2(savedErr_, 2);
    _close(savedOut_);
    _close(savedErr_);
    active_ = false;
    out_ = readFile(outPath_);
    err_ = readFile(errPath_);
}

ScratchDir::ScratchDir(const char* prefix) {
    const std::string name = tempFileName(prefix);
    DeleteFileA(name.c_str());
    CreateDirectoryA(name.c_str(), nullptr);
    path_ = name + "\\";
}

ScratchDir::~ScratchDir() { removeTree(toWide(path_, CP_ACP)); }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

bool fileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace kvotest
