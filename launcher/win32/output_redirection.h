// Redirection of standard output or standard error into a file for the life of the process, and
// its restoration at the end.
#pragma once

#include <cstdio>

namespace kvo::launcher {

struct RedirectedStream {
    int descriptor;  // 1 or 2
    int saved = -1;  // duplicate of the original descriptor, -1 when nothing was saved
    bool reassigned = false;
    // The file's own stream when the file was given the descriptor itself (it was not open), kept
    // open until the restoration.
    FILE* file = nullptr;
};

// Points descriptor 1 (".stdout") or 2 (".stderr") at log directory + program name + suffix when
// the LogOutput flag is set, else at "nul". The file is created or emptied.
void redirectStream(RedirectedStream* stream);
// Puts the original descriptor back (or closes the redirected one when there was none to save).
void restoreStream(RedirectedStream* stream);

}  // namespace kvo::launcher
