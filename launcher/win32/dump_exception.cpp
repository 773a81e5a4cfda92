// Reports the pending Java exception: described on standard error (console programs) or appended
// with a time stamp to the program's ".jexp" file in the log directory (windowed programs).
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "java_arguments.h"
#include "os_calls.h"
#include "state.h"
#include "trace_log.h"
#include "variant.h"

namespace kvo::launcher {

namespace {

void dumpToJexpFile(JNIEnv* env) {
    char fileName[kPathBufferSize];
    std::snprintf(fileName, sizeof fileName, "%s%s.jexp", logDirectory, programName ? programName : "");
    // Descriptor 2 is saved before the file is opened: were it not open, the file could be given it.
    std::fflush(stderr);
    const int savedStderr = os._dup(2);
    const int saveError = errno;
    FILE* file = os.fopen(fileName, "a+b");
    if (file == nullptr) {
        KVO_TRACE(traceInfo, "DumpException: unable to open file \"%s\"; rc = X'%X'", fileName,
                  static_cast<unsigned>(errno));
        if (savedStderr != -1)
            _close(savedStderr);
        return;
    }
    std::setvbuf(file, nullptr, _IONBF, 0);
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    if (local != nullptr)
        std::fprintf(file, "%04d-%02d-%02d %02d.%02d.%02d\n", local->tm_year + 1900, local->tm_mon + 1,
                     local->tm_mday, local->tm_hour, local->tm_min, local->tm_sec);

    // A program started without standard handles has no descriptor 2 to save: the description still
    // goes into the file (which may have been given descriptor 2 itself), and descriptor 2 is closed
    // again afterwards, as it was.
    const bool fileIsStderr = _fileno(file) == 2;
    bool reassigned = fileIsStderr;
    if (savedStderr == -1)
        KVO_TRACE(traceInfo, "DumpException: unable to save stderr; rc = X'%X'",
                  static_cast<unsigned>(saveError));
    if ((savedStderr != -1 || saveError == EBADF) && !fileIsStderr) {
        reassigned = os._dup2(_fileno(file), 2) == 0;
        if (!reassigned)
            KVO_TRACE(traceInfo, "DumpException: unable to reassign stderr; rc = X'%X'",
                      static_cast<unsigned>(errno));
    }
    if (!fileIsStderr)
        std::fclose(file);

    env->ExceptionDescribe();

    std::fflush(stderr);
    if (savedStderr != -1) {
        if (os._dup2(savedStderr, 2) != 0)
            KVO_TRACE(traceInfo, "DumpException: unable to restore stderr; rc = X'%X'",
                      static_cast<unsigned>(errno));
        _close(savedStderr);
    } else if (fileIsStderr) {
        std::fclose(file);
    } else if (reassigned) {
        _close(2);
    }
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
