// Reports the pending Java exception: described on standard error (console programs) or appended
// with a time stamp to the program's ".jexp" file in the log directory (windowed programs).
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "launcher_state.h"
#include "launcher_trace.h"

namespace {

void dumpToJexpFile(JNIEnv* env) {
    char fileName[kPathBufferSize];
    std::snprintf(fileName, sizeof fileName, "%s%s.jexp", logDirectory, programName ? programName : "");
    FILE* file = std::fopen(fileName, "a+b");
    if (file == nullptr) {
        KVO_TRACE(traceInfo, "DumpException: unable to open file \"%s\"; rc = X'%X'", fileName,
                  static_cast<unsigned>(errno));
        return;
    }
    std::setvbuf(file, nullptr, _IONBF, 0);
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    if (local != nullptr)
        std::fprintf(file, "%04d-%02d-%02d %02d.%02d.%02d\n", local->tm_year + 1900, local->tm_mon + 1,
                     local->tm_mday, local->tm_hour, local->tm_min, local->tm_sec);

    std::fflush(stderr);
    const int savedStderr = _dup(2);
    if (savedStderr == -1) {
        KVO_TRACE(traceInfo, "DumpException: unable to save stderr; rc = X'%X'",
                  static_cast<unsigned>(errno));
    } else if (_dup2(_fileno(file), 2) != 0) {
        KVO_TRACE(traceInfo, "DumpException: unable to reassign stderr; rc = X'%X'",
                  static_cast<unsigned>(errno));
    }
    std::fclose(file);

    env->ExceptionDescribe();

    std::fflush(stderr);
    if (savedStderr != -1) {
        if (_dup2(savedStderr, 2) != 0)
            KVO_TRACE(traceInfo, "DumpException: unable to restore stderr; rc = X'%X'",
                      static_cast<unsigned>(errno));
        _close(savedStderr);
    }
}

}  // namespace

void DumpException(JNIEnv* env) {
    KVO_TRACE(traceEntryHigh, "DumpException");
    if (CurrentVariant().dumpForm == DumpForm::JexpFile)
        dumpToJexpFile(env);
    else
        env->ExceptionDescribe();
    KVO_TRACE(traceExitHigh, "DumpException");
}
