// Test helpers: capture what the code under test writes to standard output and standard error
// (through the C runtime's descriptors 1 and 2), and a scratch directory removed at the end.
#pragma once

#include <string>

namespace kvotest {

// Redirects descriptors 1 and 2 into temporary files until stop() or destruction.
class CapturedOutput {
public:
    CapturedOutput();
    ~CapturedOutput();
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;

    void stop();
    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }

private:
    std::string outPath_, errPath_;
    int savedOut_ = -1, savedErr_ = -1;
    bool active_ = false;
    std::string out_, err_;
};

// A fresh directory under the system's temporary directory, deleted with its files at the end.
class ScratchDir {
public:
    explicit ScratchDir(const char* prefix = "kvo");
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // Path with a trailing backslash.
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
bool fileExists(const std::string& path);

}  // namespace kvotest
