// Redirection of standard output or standard error into a file for the life of the process, and
// its restoration at the end.
#pragma once

#include <cstdio>

namespace kvo::launcher {

struct RedirectedStream {
    int descriptor;     // 1 or 2
    int saved = -1;     // duplicate of the original descriptor, -1 when nothing was saved
    int saveError = 0;  // errno of the attempt to save it
    bool reassigned = false;
    // The Win32 standard handle of the stream when it was redirected: given back when there was no
    // descriptor to save.
    void* standardHandle = nullptr;
    // The file's own stream when the file was given the descriptor itself (it was not open), kept
    // open until the restoration.
    FILE* file = nullptr;
};

// Points descriptor 1 (".stdout") or 2 (".stderr") and the Win32 standard handle of the stream at log
// directory + program name + suffix when the LogOutput flag is set, else at "nul". The file is
// created or emptied. It is the process's standard output (or error) from now on, which child
// processes started with the process's standard handles share; nothing else of the redirection is
// inherited by a child.
void redirectStream(RedirectedStream* stream);
// Puts the original descriptor and standard handle back (or closes the redirected descriptor when
// there was none to save). `who` names the caller in trace lines.
void restoreStream(RedirectedStream* stream, const char* who = "main");

// The two steps of a redirection, for callers that write into the file first (the exception dump).
// openRedirection saves the descriptor, then opens fileName with fopen's mode (unbuffered, its
// handle not inherited by child processes): saved first, since a descriptor that is not open could be given
// to the file. Null when the file cannot be opened (traced; nothing stays saved).
FILE* openRedirection(RedirectedStream* stream, const char* who, const char* fileName, const char* mode);
// Gives the stream's descriptor and standard handle to the file and closes the file's own stream,
// unless the file holds that descriptor itself. An open descriptor that could not be saved stays as it
// is. shared: child processes started with the process's standard handles may inherit the file.
void redirectTo(RedirectedStream* stream, const char* who, FILE* file, bool shared);

}  // namespace kvo::launcher
