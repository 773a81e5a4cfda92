#include "output_redirection.h"

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
        redirectTo(stream, "main", file);
}

FILE* openRedirection(RedirectedStream* stream, const char* who, const char* fileName, const char* mode) {
    std::fflush(streamFile(*stream));
    stream->saved = os._dup(stream->descriptor);
    stream->saveError = errno;
    FILE* file = os.fopen(fileName, mode);
    if (file == nullptr) {
        KVO_TRACE(traceInfo, "%s: unable to open file \"%s\"; rc = X'%X'", who, fileName,
                  static_cast<unsigned>(errno));
        if (stream->saved != -1)
            _close(stream->saved);
        stream->saved = -1;
        return nullptr;
    }
    std::setvbuf(file, nullptr, _IONBF, 0);
    return file;
}

void redirectTo(RedirectedStream* stream, const char* who, FILE* file) {
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
        return;
    }
    if (os._dup2(_fileno(file), stream->descriptor) != 0)
        KVO_TRACE(traceInfo, "%s: unable to reassign %s; rc = X'%X'", who, name,
                  static_cast<unsigned>(errno));
    else
        stream->reassigned = true;
    std::fclose(file);
}

void restoreStream(RedirectedStream* stream, const char* who) {
    std::fflush(streamFile(*stream));
    if (stream->saved != -1) {
        if (os._dup2(stream->saved, stream->descriptor) != 0)
            KVO_TRACE(traceInfo, "%s: unable to restore %s; rc = X'%X'", who, streamName(*stream),
                      static_cast<unsigned>(errno));
        _close(stream->saved);
        stream->saved = -1;
    } else if (stream->file != nullptr) {
        std::fclose(stream->file);
    } else if (stream->reassigned) {
        _close(stream->descriptor);
    }
    stream->file = nullptr;
    stream->reassigned = false;
}

}  // namespace kvo::launcher
