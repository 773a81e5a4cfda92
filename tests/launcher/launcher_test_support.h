// Helpers for the launcher tests: a trace log the test can read back, and a clean launcher state.
#pragma once

#include <string>
#include <vector>

#include "capture_output.h"

namespace kvotest {

// Each line of a trace log file as "<tag> <text>", without time stamp and ids.
std::vector<std::string> traceLines(const std::string& file);

// Installs a full-detail trace log (the global ras) in a scratch file for its lifetime.
class TraceCapture {
public:
    TraceCapture();
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    // Each line as "<tag> <text>", without time stamp and ids.
    std::vector<std::string> lines() const;
    // True when some line is exactly "<tag> <text>".
    bool has(const std::string& line) const;

private:
    ScratchDir dir_;
    std::string file_;
};

// Empties the directories, flags and launcher properties.
void ResetLauncherState();

// Writes a file, creating its directory chain.
void writeTree(const std::string& path, const std::string& content);

}  // namespace kvotest
