// Where the windowed programs' standard error goes. The file form of the exception dump appends a time
// stamp line and the JVM's description to the program's ".jexp" file and points standard error back
// where it was; the redirection of a stream into its file lasts until it is restored. A process that
// has no standard error descriptor at all (started without standard handles) still gets its output
// into the files, and has no descriptor again afterwards.
#include <windows.h>

#include <io.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "capture_output.h"
#include "jni_double.h"
#include "classpath.h"
#include "java_arguments.h"
#include "process_environment.h"
#include "settings.h"
#include "state.h"
#include "trace_log.h"
#include "variant.h"
#include "launcher_test_support.h"
#include "os_calls.h"
#include "output_redirection.h"
#include "seam.h"

using namespace kvo;
using namespace kvo::launcher;

namespace {

// Runs body with descriptor 2 closed, then gives it back; true when it was closed again after body.
template <class Body>
bool withoutDescriptor2(Body body) {
    std::fflush(stderr);
    const int saved = _dup(2);
    EXPECT_NE(-1, saved);
    _close(2);
    body();
    const int after = _dup(2);
    if (after != -1)
        _close(after);
    _dup2(saved, 2);
    _close(saved);
    return after == -1;
}

// Descriptor calls that fail as a process out of descriptors, or one whose descriptor went away, sees
// them fail: _dup always; _dup2 at its nth call from the start of the scope.
int __cdecl noDescriptorLeft(int) {
    errno = EMFILE;
    return -1;
}

int dup2Calls = 0;
int dup2Failing = 0;

int __cdecl dup2FailingOnce(int from, int to) {
    if (++dup2Calls == dup2Failing) {
        errno = EBADF;
        return -1;
    }
    return ::_dup2(from, to);
}

// _dup2 as Windows' run-time library does it in a windowed program: the standard handles stay as they
// were (Wine's sets them for every program, Windows' for console programs only).
int __cdecl dup2AsInAWindowedProgram(int from, int to) {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    const int result = ::_dup2(from, to);
    SetStdHandle(STD_OUTPUT_HANDLE, out);
    SetStdHandle(STD_ERROR_HANDLE, err);
    return result;
}

bool inherited(HANDLE handle) {
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) && (flags & HANDLE_FLAG_INHERIT) != 0;
}

HANDLE handleOf(int descriptor) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
}

// What a failed descriptor call does to standard error: where text written meanwhile goes, and the
// trace line that says what happened.
struct DescriptorCase {
    const char* what;
    bool dupFails;
    int dup2Failing;          // the failing _dup2 call (1 = the first), 0: none
    const char* traceLine;    // without the function's name
    bool meanwhileInTheFile;  // text written while the stream is redirected (or dumped) reaches the file
    bool afterwardsOnStderr;  // text written afterwards reaches the original standard error
};

const DescriptorCase kDescriptorCases[] = {
    {"save", true, 0, ": unable to save stderr; rc = X'18'", false, true},
    {"reassign", false, 1, ": unable to reassign stderr; rc = X'9'", false, true},
    {"restore", false, 2, ": unable to restore stderr; rc = X'9'", true, false},
};

class FileDump : public ::testing::Test {
protected:
    void SetUp() override {
        std::snprintf(logDirectory, sizeof logDirectory, "%s", log.path().c_str());
        programName = "kvo.demo.Fails";
    }

    void throwAndDump() {
        vm.throwException("java/lang/IllegalStateException", "dumped", {"kvo.demo.Fails.main(Fails.java:7)"});
        DumpException(vm.env());
        EXPECT_FALSE(vm.env()->ExceptionCheck());
    }

    std::string jexp() const { return kvotest::readFile(log.file("kvo.demo.Fails.jexp")); }

    static int count(const std::string& text, const std::string& part) {
        int n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++n;
        return n;
    }

    kvotest::ScratchDir log{"kvojexp"};
    kvojni::Vm vm;
};

TEST_F(FileDump, AppendsStampAndDescriptionAndGivesStandardErrorBack) {
    {
        kvotest::CapturedOutput output;
        throwAndDump();
        throwAndDump();
        std::fputs("after the dumps\n", stderr);
        std::fflush(stderr);
        output.stop();
        EXPECT_EQ("after the dumps\n", output.err());
    }
    const std::string text = jexp();
    EXPECT_EQ(
        2, count(text, "java.lang.IllegalStateException: dumped\n\tat kvo.demo.Fails.main(Fails.java:7)\n"))
        << text;
    ASSERT_GE(text.size(), 20u);
    EXPECT_EQ('\n', text[19]) << "a time stamp line \"yyyy-mm-dd hh.mm.ss\" comes first: " << text;
    EXPECT_EQ('-', text[4]);
    EXPECT_EQ('.', text[13]);
}

TEST_F(FileDump, JvmDescribingThroughTheStandardHandleWritesIntoTheFile) {
    const auto dup2 = kvo::replace(os._dup2, dup2AsInAWindowedProgram);
    vm.describeThroughStandardHandle(true);
    throwAndDump();
    EXPECT_EQ(1, count(jexp(), "java.lang.IllegalStateException: dumped")) << jexp();
    EXPECT_EQ(GetStdHandle(STD_ERROR_HANDLE), handleOf(2)) << "given back with the descriptor";
}

TEST_F(FileDump, WithoutAStandardErrorDescriptorTheDescriptionStillReachesTheFile) {
    EXPECT_TRUE(withoutDescriptor2([&] { throwAndDump(); })) << "descriptor 2 is closed again after the dump";
    EXPECT_EQ(1, count(jexp(), "java.lang.IllegalStateException: dumped")) << jexp();
}

TEST_F(FileDump, UnwritableFileLeavesTheExceptionPendingForTheCaller) {
    std::snprintf(logDirectory, sizeof logDirectory, "%s", log.file("missing\\").c_str());
    vm.throwException("java/lang/IllegalStateException", "kept", {});
    DumpException(vm.env());
    EXPECT_TRUE(vm.env()->ExceptionCheck());
    vm.env()->ExceptionClear();
}

TEST(Redirection, StreamIntoItsFileUntilRestored) {
    kvotest::ScratchDir log{"kvoredir"};
    std::snprintf(logDirectory, sizeof logDirectory, "%s", log.path().c_str());
    programName = "kvo.demo.Redirected";
    logOutputFlag = 1;
    {
        kvotest::CapturedOutput output;
        const auto dup2 = kvo::replace(os._dup2, dup2AsInAWindowedProgram);
        RedirectedStream stream{2};
        redirectStream(&stream);
        std::fputs("into the file\n", stderr);
        std::fflush(stderr);
        // A JVM writes through the standard handle; a child process started with the process's
        // standard handles shares the file, but nothing else of the redirection.
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), "through the handle\n", 19, &written, nullptr);
        EXPECT_TRUE(inherited(handleOf(2)));
        EXPECT_FALSE(inherited(handleOf(stream.saved))) << "the caller's standard error";
        restoreStream(&stream);
        EXPECT_EQ(GetStdHandle(STD_ERROR_HANDLE), handleOf(2));
        std::fputs("back again\n", stderr);
        std::fflush(stderr);
        output.stop();
        EXPECT_EQ("back again\n", output.err());
    }
    EXPECT_EQ("into the file\nthrough the handle\n",
              kvotest::readFile(log.file("kvo.demo.Redirected.stderr")));

    // Without a descriptor 2 the file may be given that very descriptor: it stays open until restored.
    EXPECT_TRUE(withoutDescriptor2([&] {
        RedirectedStream stream{2};
        redirectStream(&stream);
        std::fputs("no handles\n", stderr);
        std::fflush(stderr);
        restoreStream(&stream);
    }));
    EXPECT_EQ("no handles\n", kvotest::readFile(log.file("kvo.demo.Redirected.stderr")));
    logOutputFlag = 0;
}

TEST(Redirection, FailedDescriptorCallsLeaveTheStreamWhereItCanBeUsed) {
    kvotest::ScratchDir log{"kvoredir"};
    std::snprintf(logDirectory, sizeof logDirectory, "%s", log.path().c_str());
    programName = "kvo.demo.Redirected";
    logOutputFlag = 1;
    for (const DescriptorCase& c : kDescriptorCases) {
        SCOPED_TRACE(c.what);
        kvotest::TraceCapture trace;
        std::string err;
        {
            kvotest::CapturedOutput output;  // gives descriptor 2 back at the end in any case
            dup2Calls = 0;
            dup2Failing = c.dup2Failing;
            const auto dup2 = kvo::replace(os._dup2, dup2FailingOnce);
            const auto dup = kvo::replace(os._dup, c.dupFails ? noDescriptorLeft : ::_dup);
            RedirectedStream stream{2};
            redirectStream(&stream);
            std::fputs("meanwhile\n", stderr);
            restoreStream(&stream);
            std::fputs("afterwards\n", stderr);
            std::fflush(stderr);
            output.stop();
            err = output.err();
        }
        const std::string file = kvotest::readFile(log.file("kvo.demo.Redirected.stderr"));
        EXPECT_EQ(file.find("meanwhile") != std::string::npos, c.meanwhileInTheFile) << file;
        EXPECT_EQ(err.find("afterwards") != std::string::npos, c.afterwardsOnStderr) << err;
        EXPECT_TRUE(trace.has(std::string("- main") + c.traceLine));
    }
    logOutputFlag = 0;
}

TEST_F(FileDump, FailedDescriptorCallsAreTracedAndStandardErrorStaysUsable) {
    for (const DescriptorCase& c : kDescriptorCases) {
        SCOPED_TRACE(c.what);
        DeleteFileA(log.file("kvo.demo.Fails.jexp").c_str());
        kvotest::TraceCapture trace;
        std::string err;
        {
            kvotest::CapturedOutput output;
            dup2Calls = 0;
            dup2Failing = c.dup2Failing;
            const auto dup2 = kvo::replace(os._dup2, dup2FailingOnce);
            const auto dup = kvo::replace(os._dup, c.dupFails ? noDescriptorLeft : ::_dup);
            throwAndDump();
            std::fputs("afterwards\n", stderr);
            std::fflush(stderr);
            output.stop();
            err = output.err();
        }
        // The description goes into the file when standard error could be pointed at it, else where
        // standard error leads; the exception is cleared either way.
        EXPECT_EQ(jexp().find("IllegalStateException: dumped") != std::string::npos, c.meanwhileInTheFile)
            << jexp();
        EXPECT_EQ(err.find("IllegalStateException: dumped") != std::string::npos, !c.meanwhileInTheFile)
            << err;
        EXPECT_EQ(err.find("afterwards") != std::string::npos, c.afterwardsOnStderr) << err;
        EXPECT_TRUE(trace.has(std::string("- DumpException") + c.traceLine));
    }
}

}  // namespace
