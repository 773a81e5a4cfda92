// Path separators in class path values: "/" becomes "\\".
#include "launcher_state.h"
#include "launcher_trace.h"
#include "local_text.h"

void NormalizeFileName(char* name) {
    if (name == nullptr) {
        KVO_TRACE(traceEntryHigh, "NormalizeFileName: file name = NIL");
        KVO_TRACE(traceExitHigh, "NormalizeFileName: normalized file name = NIL");
        return;
    }
    KVO_TRACE(traceEntryHigh, "NormalizeFileName: file name = \"%s\"", name);
    ReplaceSlashes(name);
    KVO_TRACE(traceExitHigh, "NormalizeFileName: normalized file name = \"%s\"", name);
}
