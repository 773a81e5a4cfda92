// Entry point of the launcher programs: the launcher's run, then the end of the process with its exit
// code (which also ends the worker thread and the JVM if they are still running).
#include <windows.h>

#include "launcher_main.h"

int main() {
    ExitProcess(static_cast<UINT>(kvo::launcher::runLauncher(GetCommandLineW())));
}
