#include "trace_log.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "capture_output.h"
#include "heap.h"
#include "seam.h"

using namespace kvo;

using kvotest::CapturedOutput;
using kvotest::readFile;
using kvotest::ScratchDir;

namespace {

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// Everything after the prefix "YYYY-MM-DD HH.MM.SS X'pppppppp tttttttt' ".
std::string bodyOf(const std::string& line) {
    static const std::regex prefix(R"(^\d{4}-\d{2}-\d{2} \d{2}\.\d{2}\.\d{2} X'[0-9A-F]{8} [0-9A-F]{8}' )");
    std::smatch m;
    if (!std::regex_search(line, m, prefix))
        return "<no prefix: " + line + ">";
    return m.suffix();
}

// Sets RIDOVI for one test and restores "unset" afterwards.
class RidoviValue {
public:
    explicit RidoviValue(const char* value) { set(value); }
    ~RidoviValue() { set(nullptr); }

private:
    static void set(const char* value) {
        std::string assignment = std::string("RIDOVI=") + (value ? value : "");
        _putenv(assignment.c_str());
    }
};

}  // namespace

TEST(TraceLog, LineFormatAndTags) {
    ScratchDir dir;
    const std::string log = dir.file("t.log");
    {
        RAS trace(log.c_str(), 1, 1, 1);
        trace.traceEntry("GetProperty: key = \"%S\", default = %lu", L"jvm.heap.maximum", 64ul);
        trace.traceExit("GetProperty: return ( %lu )", 64ul);
        trace.traceError("main: unable to start thread; rc = X'%lX'", 0x57ul);
        trace.traceInfo("plain");
        trace.traceEntryHigh("eh");
        trace.traceExitHigh("xh");
        trace.traceErrorHigh("rh");
        trace.traceInfoHigh("ih");
    }
    const auto lines = linesOf(readFile(log));
    const std::vector<std::string> expected = {"> GetProperty: key = \"jvm.heap.maximum\", default = 64",
                                               "< GetProperty: return ( 64 )",
                                               "! main: unable to start thread; rc = X'57'",
                                               "- plain",
                                               "> eh",
                                               "< xh",
                                               "! rh",
                                               "- ih"};
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(bodyOf(lines[i]), expected[i]);

    char ids[32];
    std::snprintf(ids, sizeof ids, "X'%08lX %08lX'", GetCurrentProcessId(), GetCurrentThreadId());
    EXPECT_NE(lines[0].find(ids), std::string::npos) << lines[0];
}

TEST(TraceLog, SwitchesGateTheLines) {
    ScratchDir dir;
    struct Case {
        int debug, high;
        const char* expected;  // tags written, in call order: entry exit error info, then the High four
    } cases[] = {
        {0, 0, "!"},
        {0, 1, "!"},
        {1, 0, "><!-"},
        {1, 1, "><!-><!-"},
    };
    for (const Case& c : cases) {
        const std::string log = dir.file("gate.log");
        {
            RAS trace(log.c_str(), c.debug, c.high, 1);
            trace.traceEntry("x");
            trace.traceExit("x");
            trace.traceError("x");
            trace.traceInfo("x");
            trace.traceEntryHigh("x");
            trace.traceExitHigh("x");
            trace.traceErrorHigh("x");
            trace.traceInfoHigh("x");
        }
        std::string tags;
        for (const auto& line : linesOf(readFile(log)))
            tags += bodyOf(line).substr(0, 1);
        EXPECT_EQ(tags, c.expected) << "debug " << c.debug << " high " << c.high;
    }
}

TEST(TraceLog, TruncateEmptiesAndAppendKeeps) {
    ScratchDir dir;
    const std::string log = dir.file("keep.log");
    kvotest::writeFile(log, "old line\n");
    {
        RAS trace(log.c_str(), 1, 0, 0);
        trace.traceInfo("new");
    }
    auto lines = linesOf(readFile(log));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "old line");

    { RAS trace(log.c_str(), 0, 0, 1); }
    EXPECT_EQ(readFile(log), "");
}

TEST(TraceLog, FileNameRules) {
    for (const char* name : {static_cast<const char*>(nullptr), "STDOUT", "stdout", "StdOut"}) {
        RAS trace(name, 0, 0, 1);
        EXPECT_STREQ(trace.getFileName(), "");
    }
    const std::string longName(300, 'a');
    RAS trace(longName.c_str(), 0, 0, 0);
    EXPECT_EQ(std::string(trace.getFileName()), longName.substr(0, 259));
    trace.setFileName("other.log");
    EXPECT_STREQ(trace.getFileName(), "other.log");
    trace.setFileName("stdOUT");
    EXPECT_STREQ(trace.getFileName(), "");
}

TEST(TraceLog, StandardOutputWhenNoFile) {
    CapturedOutput captured;
    {
        RAS trace("STDOUT", 1, 0, 1);
        trace.traceInfo("to stdout %d", 7);
    }
    captured.stop();
    const auto lines = linesOf(captured.out());
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(bodyOf(lines[0]), "- to stdout 7");
    EXPECT_EQ(captured.err(), "");
}

TEST(TraceLog, MissingDirectoryFallsBackToStdoutWithShortPrefix) {
    ScratchDir dir;
    const std::string log = dir.file("no-such-dir\\t.log");
    CapturedOutput captured;
    {
        RAS trace(log.c_str(), 1, 0, 1);
        trace.traceError("first");
        trace.traceInfo("second");
    }
    captured.stop();
    const auto out = linesOf(captured.out());
    ASSERT_EQ(out.size(), 2u);
    const std::regex shortLine(R"(^\d{4}-\d{2}-\d{2} \d{2}\.\d{2}\.\d{2} ([!-]) (\w+)$)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(out[0], m, shortLine)) << out[0];
    EXPECT_EQ(m[1], "!");
    EXPECT_EQ(m[2], "first");
    ASSERT_TRUE(std::regex_match(out[1], m, shortLine)) << out[1];
    EXPECT_EQ(m[2], "second");

    // One message for the truncation at construction, then one per line.
    const std::string message = "unable to open file \"" + log + "\"";
    const auto err = linesOf(captured.err());
    ASSERT_EQ(err.size(), 3u);
    for (const auto& line : err)
        EXPECT_EQ(line, message);
}

TEST(TraceLog, RidoviSwitch) {
    ScratchDir dir;
    const std::string log = dir.file("r.log");
    struct Case {
        const char* value;
        int debugArg;
        int expectDebug, expectHigh;
    } cases[] = {
        {nullptr, 0, 0, 0}, {"debug", 0, 1, 0}, {"DEBUG", 0, 1, 0}, {"High", 0, 1, 1},
        {"yes", 0, 0, 0},   {"HIGH", 1, 1, 0},  {"", 0, 0, 0},
    };
    for (const Case& c : cases) {
        RidoviValue env(c.value);
        RAS trace(log.c_str(), c.debugArg, 0, 1);
        EXPECT_EQ(trace.debug, c.expectDebug) << (c.value ? c.value : "(unset)");
        EXPECT_EQ(trace.high, c.expectHigh) << (c.value ? c.value : "(unset)");
    }
}

TEST(TraceLog, DumpRows) {
    ScratchDir dir;
    const std::string log = dir.file("d.log");
    unsigned char data[20];
    for (unsigned i = 0; i < sizeof data; ++i)
        data[i] = static_cast<unsigned char>('A' + i);
    data[1] = '\t';
    data[2] = 0x00;
    data[3] = 0xFF;
    {
        RAS trace(log.c_str(), 1, 0, 1);
        trace.traceDump("empty", nullptr, 0);
        trace.traceDump("block", data, sizeof data);
    }
    {
        RAS off(log.c_str(), 0, 0, 0);
        off.traceDump("silent", data, sizeof data);
    }
    const auto lines = linesOf(readFile(log));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(bodyOf(lines[0]), "- empty:");
    EXPECT_EQ(bodyOf(lines[1]), "-   no data");
    EXPECT_EQ(bodyOf(lines[2]), "- block:");
    EXPECT_EQ(bodyOf(lines[3]), "-   00000000  410900FF45464748494A4B4C4D4E4F50  A...EFGHIJKLMNOP");
    EXPECT_EQ(bodyOf(lines[4]),
              "-   00000010  51525354" + std::string(24, ' ') + "  QRST" + std::string(12, ' '));
}

TEST(TraceLog, DumpIsNotInterleavedWithOtherThreads) {
    ScratchDir dir;
    const std::string log = dir.file("di.log");
    std::vector<unsigned char> block(16 * 50, 'x');
    {
        RAS trace(log.c_str(), 1, 0, 1);
        // The noise runs from before the dump starts until after it has ended: the threads overlap
        // whatever the scheduler does.
        std::atomic<int> noiseLines{0};
        std::atomic<bool> stop{false};
        std::thread noisy([&] {
            while (!stop.load()) {
                trace.traceInfo("noise");
                noiseLines.fetch_add(1);
            }
        });
        while (noiseLines.load() < 5)
            Sleep(1);
        trace.traceDump("block", block.data(), static_cast<unsigned>(block.size()));
        const int atDumpEnd = noiseLines.load();
        while (noiseLines.load() < atDumpEnd + 5)
            Sleep(1);
        stop.store(true);
        noisy.join();
    }
    const auto lines = linesOf(readFile(log));
    size_t first = 0;
    while (first < lines.size() && bodyOf(lines[first]) != "- block:")
        ++first;
    ASSERT_LT(first + 50, lines.size());
    EXPECT_GE(first, 5u) << "noise before the dump";
    EXPECT_GE(lines.size() - (first + 51), 5u) << "noise after the dump";
    for (size_t i = 1; i <= 50; ++i)
        EXPECT_EQ(bodyOf(lines[first + i]).substr(0, 4), "-   ") << lines[first + i];
}

namespace {

// The heap release of the trace log under test, instead of freeing it, puts a live trace log writing
// into another file in its place, as a reused block would hold something else: any trace call that
// still reaches the old object after it was ended writes into that file.
void* watchedLog = nullptr;
std::string reusedLogFile;
void (*realRelease)(void*) = nullptr;

void reuseWatchedLog(void* block) {
    if (block == watchedLog && watchedLog != nullptr) {
        ::new (block) RAS(reusedLogFile.c_str(), 1, 1, 0);
        watchedLog = nullptr;
        return;  // left alive on purpose: writers that are wrong keep writing into it
    }
    realRelease(block);
}

}  // namespace

TEST(TraceLog, EndingTheLogWhileOtherThreadsTraceLosesNoWriterInside) {
    ScratchDir dir;
    const std::string log = dir.file("end.log");
    reusedLogFile = dir.file("reused.log");
    constexpr int kWriters = 4;

    for (int round = 0; round < 5; ++round) {
        RAS* trace = heapNew<RAS>(log.c_str(), 1, 0, 1);
        ASSERT_NE(trace, nullptr);
        startTraceLog(trace);
        std::atomic<int> written{0};
        std::atomic<bool> stop{false};
        std::vector<std::thread> writers;
        for (int t = 0; t < kWriters; ++t) {
            writers.emplace_back([&, t] {
                while (!stop.load()) {
                    KVO_TRACE(traceInfo, "writer %d", t);
                    written.fetch_add(1);
                }
            });
        }
        while (written.load() < 20 * kWriters)
            Sleep(1);

        realRelease = kvo::heap.release;
        watchedLog = trace;
        {
            const auto restore = kvo::replace(kvo::heap.release, reuseWatchedLog);
            endTraceLog();
            EXPECT_EQ(watchedLog, nullptr) << "the ended log was destroyed";
            // The writers go on tracing (into nothing now) for a while.
            const int atEnd = written.load();
            while (written.load() < atEnd + 20 * kWriters)
                Sleep(1);
            stop.store(true);
            for (auto& w : writers)
                w.join();
        }
        EXPECT_FALSE(kvotest::fileExists(reusedLogFile))
            << "round " << round << ": a trace call used the log after it was ended:\n"
            << readFile(reusedLogFile);
        EXPECT_FALSE(TraceLogUse()) << "no trace log after the end";
    }
}

TEST(TraceLog, TraceCallsWithoutALogDoNothing) {
    endTraceLog();
    endTraceLog();  // ending twice is harmless
    KVO_TRACE(traceError, "nowhere %d", 1);
    EXPECT_FALSE(TraceLogUse());
}

TEST(TraceLog, ConcurrentWritersLoseNoLine) {
    ScratchDir dir;
    const std::string log = dir.file("mt.log");
    constexpr int kThreads = 8;
    constexpr int kLines = 1000;
    {
        RAS trace(log.c_str(), 1, 0, 1);
        std::vector<std::thread> writers;
        for (int t = 0; t < kThreads; ++t) {
            writers.emplace_back([&trace, t] {
                for (int i = 0; i < kLines; ++i)
                    trace.traceInfo("writer %d line %04d %s", t, i, "payload-payload-payload");
            });
        }
        for (auto& w : writers)
            w.join();
    }
    const auto lines = linesOf(readFile(log));
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));

    const std::regex whole(
        R"(^\d{4}-\d{2}-\d{2} \d{2}\.\d{2}\.\d{2} X'([0-9A-F]{8}) ([0-9A-F]{8})' - writer (\d) line (\d{4}) payload-payload-payload$)");
    std::set<std::pair<int, int>> seen;
    std::vector<std::set<std::string>> threadIds(kThreads);
    std::vector<int> lastLine(kThreads, -1);
    for (const auto& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, whole)) << "torn or malformed: " << line;
        const int t = std::stoi(m[3]);
        const int i = std::stoi(m[4]);
        EXPECT_TRUE(seen.insert({t, i}).second) << "duplicate: " << line;
        EXPECT_GT(i, lastLine[t]) << "out of order within a writer: " << line;
        lastLine[t] = i;
        threadIds[t].insert(m[2]);
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kLines));
    for (const auto& ids : threadIds)
        EXPECT_EQ(ids.size(), 1u) << "each writer thread has one id";
}
