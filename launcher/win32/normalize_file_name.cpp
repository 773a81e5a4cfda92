// Path separators in class path values: "/" becomes "\\".
#include "java_arguments.h"
#include "trace_log.h"
#include "local_text.h"

namespace kvo::launcher {

void NormalizeFileName(char* name) {
    if (name == nullptr) {
        KVO_TRACE(traceEntryHigh, "NormalizeFileName: file name = NIL");
        KVO_TRACE(traceExitHigh, "NormalizeFileName: normalized file name = NIL");
        return;
    }
    KVO_TRACE(traceEntryHigh, "NormalizeFileName: file name = \"%s\"", name);
    replaceSlashes(name);
    KVO_TRACE(traceExitHigh, "NormalizeFileName: normalized file name = \"%s\"", name);
}

}  // namespace kvo::launcher
