#include "output_redirection.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>

#include "os_calls.h"
#include "state.h"
#include "trace_log.h"

namespace kvo::launcher {

namespace {

const char* streamName(const RedirectedStream& stream) {
    return stream.descriptor == 1 ? "stdout" : "stderr";
}

FILE* streamFile(const RedirectedStream& stream) {
    return stream.descriptor == 1 ? stdout : stderr;
}

DWORD standardHandleId(const RedirectedStream& stream) {
    return stream.descriptor == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
}

HANDLE handleOf(int descriptor) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
}

// The run-time library sets the Win32 standard handle along with descriptors 1 and 2 for console
// programs only; a JVM (and a child process given the process's standard handles) writes through it.
void setStandardHandle(const RedirectedStream& stream, const char* who, HANDLE handle) {
    if (!SetStdHandle(standardHandleId(stream), handle))
        KVO_TRACE(traceInfo, "%s: unable to set standard %s handle; rc = X'%lX'", who, streamName(stream),
                  static_cast<unsigned long>(GetLastError()));
}

// The run-time library duplicates descriptors as inheritable handles.
void setInherited(HANDLE handle, bool inherited) {
    SetHandleInformation(handle, HANDLE_FLAG_INHERIT, inherited ? HANDLE_FLAG_INHERIT : 0);
}

}  // namespace

void redirectStream(RedirectedStream* stream) {
    const char* name = streamName(*stream);
    char fileName[kPathBufferSize];
    if (logOutputFlag)
        std::snprintf(fileName, sizeof fileName, "%s%s.%s", logDirectory, programName ? programName : "",
                      name);
    else
        std::snprintf(fileName, sizeof fileName, "nul");
    KVO_TRACE(traceInfo, "main: %s file name = \"%s\"", name, fileName);
    if (FILE* file = openRedirection(stream, "main", fileName, "w+b"))
        redirectTo(stream, "main", file, true);
}

FILE* openRedirection(RedirectedStream* stream, const char* who, const char* fileName, const char* mode) {
    std::fflush(streamFile(*stream));
    stream->standardHandle = GetStdHandle(standardHandleId(*stream));
    stream->saved = os._dup(stream->descriptor);
    stream->saveError = errno;
    // The caller's console or pipe, kept for the restoration: a child process holding it would keep
    // the caller waiting for the end of the output as long as the child lives.
    if (stream->saved != -1)
        setInherited(handleOf(stream->saved), false);
    FILE* file = os.fopen(fileName, mode);
    if (file == nullptr) {
        KVO_TRACE(traceInfo, "%s: unable to open file \"%s\"; rc = X'%X'", who, fileName,
                  static_cast<unsigned>(errno));
        if (stream->saved != -1)
            _close(stream->saved);
        stream->saved = -1;
        return nullptr;
    }
    // Not inherited: the run-time library opens files as inheritable handles.
    setInherited(handleOf(_fileno(file)), false);
    std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

void redirectTo(RedirectedStream* stream, const char* who, FILE* file, bool shared) {
    const char* name = streamName(*stream);
    if (stream->saved == -1) {
        KVO_TRACE(traceInfo, "%s: unable to save %s; rc = X'%X'", who, name,
                  static_cast<unsigned>(stream->saveError));
        // An open stream that cannot be saved could not be given back: it stays as it is.
        if (stream->saveError != EBADF) {
            std::fclose(file);
            return;
        }
    }
    // A windowed program started without standard handles has nothing to save: its output still
    // belongs in the file, which may have been given the descriptor itself.
    if (_fileno(file) == stream->descriptor) {
        stream->reassigned = true;
        stream->file = file;
    } else {
        if (os._dup2(_fileno(file), stream->descriptor) != 0)
            KVO_TRACE(traceInfo, "%s: unable to reassign %s; rc = X'%X'", who, name,
                      static_cast<unsigned>(errno));
        else
            stream->reassigned = true;
        std::fclose(file);
    }
    if (stream->reassigned) {
        setInherited(handleOf(stream->descriptor), shared);
        setStandardHandle(*stream, who, handleOf(stream->descriptor));
    }
}

void restoreStream(RedirectedStream* stream, const char* who) {
    std::fflush(streamFile(*stream));
    if (stream->saved != -1) {
        if (os._dup2(stream->saved, stream->descriptor) != 0)
            KVO_TRACE(traceInfo, "%s: unable to restore %s; rc = X'%X'", who, streamName(*stream),
                      static_cast<unsigned>(errno));
        _close(stream->saved);
        stream->saved = -1;
        // The original handle went with the descriptor it was given to: its duplicate stands for it.
        if (stream->reassigned)
            setStandardHandle(*stream, who, handleOf(stream->descriptor));
    } else if (stream->reassigned) {
        if (stream->file != nullptr)
            std::fclose(stream->file);
        else
            _close(stream->descriptor);
        setStandardHandle(*stream, who, static_cast<HANDLE>(stream->standardHandle));
    }
    stream->file = nullptr;
    stream->reassigned = false;
}

}  // namespace kvo::launcher
