// Throughput of kvoucd32's table-driven local conversions against the system's own conversion of
// the same input in the same run (MultiByteToWideChar / WideCharToMultiByte), on 4 MiB of text in
// the ANSI code page this program runs with: under 1252 Western prose and Western text whose accented
// letters are spread evenly (random positions, about one byte in thirty, none adjacent), under 932
// Japanese prose (the local table is then CP942). Prints MB/s of the local text's bytes, the ratio
// table / system (>= 1: faster), and as a ceiling the MB/s of memcpy of each row's source bytes.
//
// The exports take text that ends with a terminator and find its end themselves, so the like-for-like
// system call is the one given -1 as the length, which the target is measured against. The ratio
// against the system call that is handed the length (so spared finding the end) is printed beside it.
// Rounds of the three alternate, so that a slow spell of the machine falls on all of them.
//
// Then short texts, what the product converts most (a path, a property key, a message): the first 8,
// 24, 64 and 160 bytes of the prose, each converted kShortCalls times a round, in nanoseconds per call
// of the table-driven way and of the system given -1 (best of alternating rounds), both directions.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "kvoucd32.h"
#include "sample_texts.h"

namespace {

constexpr int kRounds = 11;
constexpr int kShortCalls = 20000;
constexpr int kShortRounds = 21;

double seconds() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Row {
    const char* name;
    double table, terminated, counted, copy;  // MB/s
};

// Best of several alternating rounds of the table-driven conversion, the two system calls and memcpy
// of the source, in MB/s of `bytes` source bytes.
Row measure(const char* name, size_t bytes, const std::function<void()>& table,
            const std::function<void()>& terminated, const std::function<void()>& counted,
            const std::function<void()>& copy) {
    const std::function<void()>* runs[] = {&table, &terminated, &counted, &copy};
    double best[4] = {1e30, 1e30, 1e30, 1e30};
    for (const auto* run : runs)
        (*run)();  // warm up: tables loaded, pages touched
    for (int i = 0; i < kRounds; ++i) {
        for (int k = 0; k < 4; ++k) {
            const double start = seconds();
            (*runs[k])();
            best[k] = std::min(best[k], seconds() - start);
        }
    }
    const double megabytes = static_cast<double>(bytes) / 1e6;
    return {name, megabytes / best[0], megabytes / best[1], megabytes / best[2], megabytes / best[3]};
}

std::string inAnsiCodePage(const char8_t* utf8);

// The prose of the ANSI code page (Japanese under 932, else Western), repeated to 4 MiB.
std::string makeText(unsigned acp) {
    return kvobench::repeatToSize(
        inAnsiCodePage(acp == 932 ? kvobench::kJapaneseProse : kvobench::kWesternProse));
}

// Western text whose accented letters are spread evenly.
std::string makeSpreadText() {
    return kvobench::spreadAccents(kvobench::repeatToSize(inAnsiCodePage(kvobench::kSpreadBase)),
                                   inAnsiCodePage(kvobench::kSpreadLetters));
}

// The bytes of an ANSI code page text that the source text converts to.
std::string inAnsiCodePage(const char8_t* utf8) {
    wchar_t wide[1024];
    const int units = MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<const char*>(utf8), -1, wide, 1024);
    char local[2048] = {};
    if (units <= 0 ||
        WideCharToMultiByte(CP_ACP, 0, wide, units, local, sizeof(local), nullptr, nullptr) <= 0) {
        std::fprintf(stderr, "textconv_bench: a sample text cannot be put into the ANSI code page\n");
        std::exit(2);
    }
    return local;
}

// The five conversions of one local text (and its Unicode, CompUnicode and UTF-8 forms), printed as one
// row set with whether every row met its target (932: every row 1.0; otherwise every row 2.0); true if
// both ways gave the same text.
bool runRowSet(const char* title, const std::string& local) {
    const unsigned acp = GetACP();
    const int localSize = static_cast<int>(local.size()) + 1;

    // The Unicode, CompUnicode and UTF-8 forms of the same text.
    std::vector<wchar_t> wide(NFConvertLocalToUnicode(local.c_str(), nullptr, 0, '*', nullptr));
    NFConvertLocalToUnicode(local.c_str(), wide.data(), static_cast<int>(wide.size()), '*', nullptr);
    std::vector<char> comp(NFConvertLocalToCompUnicode(local.c_str(), nullptr, 0, '*', nullptr));
    NFConvertLocalToCompUnicode(local.c_str(), comp.data(), static_cast<int>(comp.size()), '*', nullptr);
    std::vector<char> utf8(NFConvertLocalToUTF8(local.c_str(), nullptr, 0, 0, 0));
    NFConvertLocalToUTF8(local.c_str(), utf8.data(), static_cast<int>(utf8.size()), 0, 0);
    const int wideUnits = static_cast<int>(wide.size());

    std::vector<wchar_t> wideOut(wide.size());
    std::vector<char> localOut(localSize);
    std::vector<char> compOut(comp.size());
    std::vector<wchar_t> scratchWide(wide.size());
    std::vector<char> copyOut(
        std::max({local.size(), wide.size() * sizeof(wchar_t), comp.size(), utf8.size()}));

    const int utf8Size = static_cast<int>(utf8.size());
    const auto toWide = [&](int length) {
        return
            [&, length] { MultiByteToWideChar(CP_ACP, 0, local.c_str(), length, wideOut.data(), wideUnits); };
    };
    const auto toLocal = [&](int length) {
        return [&, length] {
            WideCharToMultiByte(CP_ACP, 0, wide.data(), length, localOut.data(), localSize, nullptr, nullptr);
        };
    };
    const auto utf8ToLocal = [&](int length) {
        return [&, length] {
            const int units =
                MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, scratchWide.data(), wideUnits);
            WideCharToMultiByte(CP_ACP, 0, scratchWide.data(), units, localOut.data(), localSize, nullptr,
                                nullptr);
        };
    };
    const auto copyOf = [&](const void* source, size_t size) {
        return [&copyOut, source, size] { std::memcpy(copyOut.data(), source, size); };
    };
    const size_t bytes = local.size();
    std::vector<Row> rows;
    rows.push_back(measure(
        "local -> Unicode", bytes,
        [&] { NFConvertLocalToUnicode(local.c_str(), wideOut.data(), wideUnits, '*', nullptr); }, toWide(-1),
        toWide(localSize), copyOf(local.data(), local.size())));
    rows.push_back(measure(
        "Unicode -> local", bytes,
        [&] { NFConvertUnicodeToLocal(wide.data(), localOut.data(), localSize, '*', nullptr); }, toLocal(-1),
        toLocal(wideUnits), copyOf(wide.data(), wide.size() * sizeof(wchar_t))));
    rows.push_back(measure(
        "local -> CompUnicode", bytes,
        [&] {
            NFConvertLocalToCompUnicode(local.c_str(), compOut.data(), static_cast<int>(compOut.size()), '*',
                                        nullptr);
        },
        toWide(-1), toWide(localSize), copyOf(local.data(), local.size())));
    rows.push_back(measure(
        "CompUnicode -> local", bytes,
        [&] { NFConvertCompUnicodeToLocal(comp.data(), localOut.data(), localSize, '*', nullptr); },
        toLocal(-1), toLocal(wideUnits), copyOf(comp.data(), comp.size())));
    rows.push_back(measure(
        "UTF-8 -> local", bytes, [&] { NFConvertUTF8ToLocal(utf8.data(), localOut.data(), localSize, 0, 0); },
        utf8ToLocal(-1), utf8ToLocal(utf8Size), copyOf(utf8.data(), utf8.size())));

    // Both ways must have produced the same text.
    std::vector<char> check(localSize);
    NFConvertUTF8ToLocal(utf8.data(), check.data(), localSize, 0, 0);
    const bool same = std::memcmp(check.data(), local.c_str(), localSize) == 0;

    const bool doubleByte = NFGetCodepage() == 942;
    size_t nonAscii = 0;
    for (unsigned char c : local)
        nonAscii += c >= 0x80 ? 1 : 0;
    std::printf(
        "\nkvoucd32 table-driven conversions, ANSI code page %u (local table %d), %zu bytes of %s "
        "(%.1f%% of the bytes non-ASCII)\n",
        acp, NFGetCodepage(), local.size(), title,
        100.0 * static_cast<double>(nonAscii) / static_cast<double>(local.size()));
    std::printf("%-22s %11s %11s %11s %8s %8s %8s %11s\n", "conversion", "table", "system -1", "system n",
                "ratio", "ratio n", "target", "memcpy");
    std::printf("%-22s %11s %11s %11s %8s %8s %8s %11s\n", "", "MB/s", "MB/s", "MB/s", "(-1)", "", "(-1)",
                "MB/s");
    bool met = true;
    for (const Row& r : rows) {
        const double ratio = r.table / r.terminated;
        const double target = doubleByte ? 1.0 : 2.0;
        met = met && ratio >= target;
        std::printf("%-22s %11.1f %11.1f %11.1f %8.2f %8.2f %8.1f %11.1f\n", r.name, r.table, r.terminated,
                    r.counted, ratio, r.table / r.counted, target, r.copy);
    }
    std::printf("MB/s of the %zu local bytes; memcpy: the row's source bytes copied, as a ceiling\n",
                local.size());
    std::printf("round trip %s; targets %s\n", same ? "identical" : "DIFFERS", met ? "met" : "not met");
    return same;
}

// Nanoseconds per call of table() and of system(), each called kShortCalls times a round: the best of
// kShortRounds alternating rounds.
template <class Table, class System>
void measureShort(Table table, System system, double* tableNs, double* systemNs) {
    double best[2] = {1e30, 1e30};
    for (int round = 0; round <= kShortRounds; ++round) {  // round 0 warms up
        const double start = seconds();
        for (int k = 0; k < kShortCalls; ++k)
            table();
        const double middle = seconds();
        for (int k = 0; k < kShortCalls; ++k)
            system();
        const double end = seconds();
        if (round != 0) {
            best[0] = std::min(best[0], middle - start);
            best[1] = std::min(best[1], end - middle);
        }
    }
    *tableNs = best[0] * 1e9 / kShortCalls;
    *systemNs = best[1] * 1e9 / kShortCalls;
}

// The longest start of a local text with at most `bytes` bytes that ends after a whole character.
std::string startOf(const std::string& local, size_t bytes) {
    size_t end = 0;
    while (end < local.size()) {
        const size_t width = IsDBCSLeadByte(static_cast<BYTE>(local[end])) ? 2 : 1;
        if (end + width > bytes)
            break;
        end += width;
    }
    return local.substr(0, end);
}

// Short starts of the prose, both directions, in ns per call against the system given -1, with whether
// every row met its target (the table at least as fast as the system at 8 bytes, twice as fast from
// 24 on); true if the table and the system gave the same text.
bool runShortRows(const char* title, const std::string& prose) {
    std::printf(
        "\nShort texts: the first bytes of the %s, ns per call (best of %d rounds of %d calls), "
        "system given -1\n",
        title, kShortRounds, kShortCalls);
    std::printf("%-18s %6s %9s %9s %8s %8s\n", "conversion", "bytes", "table", "system", "ratio", "target");
    std::printf("%-18s %6s %9s %9s %8s %8s\n", "", "", "ns", "ns", "(-1)", "");
    bool met = true, same = true;
    for (const bool toUnicode : {true, false}) {
        for (const size_t length : {8u, 24u, 64u, 160u}) {
            const std::string local = startOf(prose, length);
            wchar_t wide[256] = {};
            const int units = MultiByteToWideChar(CP_ACP, 0, local.c_str(), -1, wide, 256);
            wchar_t wideOut[256], wideSystem[256];
            char localOut[512], localSystem[512];
            double tableNs = 0, systemNs = 0;
            if (toUnicode) {
                measureShort([&] { NFConvertLocalToUnicode(local.c_str(), wideOut, 256, '*', nullptr); },
                             [&] { MultiByteToWideChar(CP_ACP, 0, local.c_str(), -1, wideSystem, 256); },
                             &tableNs, &systemNs);
                same = same && std::memcmp(wideOut, wideSystem, units * sizeof(wchar_t)) == 0;
            } else {
                measureShort(
                    [&] { NFConvertUnicodeToLocal(wide, localOut, 512, '*', nullptr); },
                    [&] { WideCharToMultiByte(CP_ACP, 0, wide, -1, localSystem, 512, nullptr, nullptr); },
                    &tableNs, &systemNs);
                same = same && std::memcmp(localOut, local.c_str(), local.size() + 1) == 0 &&
                       std::memcmp(localSystem, local.c_str(), local.size() + 1) == 0;
            }
            const double ratio = systemNs / tableNs;
            const double target = length < 24 ? 1.0 : 2.0;
            met = met && ratio >= target;
            std::printf("%-18s %6zu %9.1f %9.1f %8.2f %8.1f\n",
                        toUnicode ? "local -> Unicode" : "Unicode -> local", local.size(), tableNs, systemNs,
                        ratio, target);
        }
    }
    std::printf("ratio: system ns / table ns (>= 1: the table is faster); bytes of the local text\n");
    std::printf("table and system %s; targets %s\n", same ? "identical" : "DIFFER", met ? "met" : "not met");
    return same;
}

}  // namespace

int main() {
    bool same = true;
    const std::string prose = makeText(GetACP());
    if (GetACP() == 932) {
        same = runRowSet("Japanese prose", prose) && same;
        same = runShortRows("Japanese prose", prose) && same;
    } else {
        same = runRowSet("Western prose", prose) && same;
        same = runRowSet("Western text with evenly spread accented letters", makeSpreadText()) && same;
        same = runShortRows("Western prose", prose) && same;
    }
    return same ? 0 : 1;
}
