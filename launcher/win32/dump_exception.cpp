// Reports the pending Java exception: described on standard error (console programs) or appended
// with a time stamp to the program's ".jexp" file in the log directory (windowed programs).
#include <cstdio>
#include <ctime>

#include "java_arguments.h"
#include "output_redirection.h"
#include "state.h"
#include "trace_log.h"
#include "variant.h"

namespace kvo::launcher {

namespace {

void dumpToJexpFile(JNIEnv* env) {
    char fileName[kPathBufferSize];
    std::snprintf(fileName, sizeof fileName, "%s%s.jexp", logDirectory, programName ? programName : "");
    RedirectedStream stderrToFile{2};
    FILE* file = openRedirection(&stderrToFile, "DumpException", fileName, "a+b");
    if (file == nullptr)
        return;
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    if (local != nullptr)
        std::fprintf(file, "%04d-%02d-%02d %02d.%02d.%02d\n", local->tm_year + 1900, local->tm_mon + 1,
                     local->tm_mday, local->tm_hour, local->tm_min, local->tm_sec);
    // Without a descriptor 2 to save (a program started without standard handles) the description
    // still goes into the file, and descriptor 2 is closed again afterwards, as it was.
    redirectTo(&stderrToFile, "DumpException", file, false);
    env->ExceptionDescribe();
    restoreStream(&stderrToFile, "DumpException");
}

}  // namespace

void DumpException(JNIEnv* env) {
    KVO_TRACE(traceEntryHigh, "DumpException");
    if (currentVariant().dumpForm() == DumpForm::JexpFile)
        dumpToJexpFile(env);
    else
        env->ExceptionDescribe();
    KVO_TRACE(traceExitHigh, "DumpException");
}

}  // namespace kvo::launcher
