// The launcher's main thread, from the command line to the end of tear-down.
#pragma once

namespace kvo::launcher {

// Settles the settings and the trace log, prepares the process, starts the worker thread that runs
// the JVM and waits in a message loop for the quit message whose code it returns. commandLine is the
// program's own (GetCommandLineW). The caller ends the process with that code (program_main.cpp);
// tests call it in their own process.
int runLauncher(const wchar_t* commandLine);

}  // namespace kvo::launcher
