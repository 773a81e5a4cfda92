#include "launcher_test_support.h"

#include <windows.h>

#include <sstream>

#include "classpath.h"
#include "heap.h"
#include "java_arguments.h"
#include "process_environment.h"
#include "settings.h"
#include "state.h"
#include "test_files.h"
#include "trace_log.h"
#include "variant.h"

using namespace kvo;
using namespace kvo::launcher;

namespace kvotest {

TraceCapture::TraceCapture() : dir_("trc"), file_(dir_.file("launcher.log")) {
    startTraceLog(heapNew<RAS>(file_.c_str(), 1, 1, 1));
}

TraceCapture::~TraceCapture() {
    endTraceLog();
}

std::vector<std::string> traceLines(const std::string& file) {
    std::vector<std::string> result;
    std::istringstream in(readFile(file));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        // Drop "YYYY-MM-DD HH.MM.SS X'pppppppp tttttttt' ".
        size_t ids = line.find("' ", 20);
        result.push_back(ids != std::string::npos ? line.substr(ids + 2) : line);
    }
    return result;
}

std::vector<std::string> TraceCapture::lines() const {
    return traceLines(file_);
}

bool TraceCapture::has(const std::string& line) const {
    for (const std::string& l : lines()) {
        if (l == line)
            return true;
    }
    return false;
}

void ResetLauncherState() {
    for (char* directory : {rootDirectory, binDirectory, dataDirectory, databaseDirectory, jniDirectory,
                            jreDirectory, logDirectory, proddataDirectory, tempdataDirectory})
        directory[0] = 0;
    logOutputFlag = noClassGCFlag = jitFlag = smpOkFlag = 0;
    launcherProperties.clear();
}

void writeTree(const std::string& path, const std::string& content) {
    makeDirectory(toWide(path.substr(0, path.rfind('\\')), CP_ACP));
    writeFile(path, content);
}

}  // namespace kvotest
