// Throughput of kvoucd32's table-driven local conversions against the system's own conversion of
// the same input in the same run (MultiByteToWideChar / WideCharToMultiByte), on 4 MiB of text in
// the ANSI code page this program runs with: Western text under 1252, Japanese text under 932 (the
// local table is then CP942). Prints MB/s of the source and the ratio table / system (>= 1: faster).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "kvoucd32.h"

namespace {

constexpr size_t kTextBytes = 4u << 20;
constexpr int kRounds = 7;

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

// Best of several rounds, in MB/s of `bytes` source bytes.
double throughput(size_t bytes, const std::function<void()>& run) {
    double best = 1e30;
    run();  // warm up: tables loaded, pages touched
    for (int i = 0; i < kRounds; ++i) {
        const double start = seconds();
        run();
        best = std::min(best, seconds() - start);
    }
    return static_cast<double>(bytes) / best / 1e6;
}

// Prose of the kind the product converts (messages, descriptions, file names), repeated to 4 MiB
// and converted to the local code page by the system.
std::string makeText(unsigned acp) {
    const char* utf8;
    if (acp == 932) {
        utf8 =
            u8"\u30b7\u30b9\u30c6\u30e0\u7ba1\u7406\u306e\u8a2d\u5b9a\u30d5\u30a1\u30a4\u30eb\u3092\u8aad"
            u8"\u307f\u8fbc\u307f\u307e\u3057\u305f\u3002"
            u8"\u6b21\u306e\u30b8\u30e7\u30d6\u306f 2024 \u5e74 10 "
            u8"\u6708\u306b\u958b\u59cb\u3055\u308c\u307e\u3059\u3002"
            u8"\u30c7\u30a3\u30ec\u30af\u30c8\u30ea C:\\Program Files\\Data "
            u8"\u304c\u898b\u3064\u304b\u308a\u307e\u305b\u3093\u3002"
            u8"\u30a8\u30e9\u30fc\u30b3\u30fc\u30c9 X'00000005' "
            u8"\u3067\u51e6\u7406\u3092\u7d42\u4e86\u3057\u307e\u3057\u305f\u3002"
            u8"\uff8a\uff9d\uff76\uff78\u30ab\u30ca\u3068\u5168\u89d2\u6587\u5b57\u3092\u542b\u3080\u540d"
            u8"\u524d\u3002\n";
    } else {
        utf8 =
            u8"The configuration file was read and the next job starts on 10 October at 06:00. "
            u8"Le r\u00e9pertoire de donn\u00e9es n'a pas \u00e9t\u00e9 trouv\u00e9 ; la t\u00e2che est "
            u8"arr\u00eat\u00e9e. "
            u8"Die Datei wurde nicht gefunden, bitte \u00fcberpr\u00fcfen Sie die Einstellungen f\u00fcr "
            u8"M\u00fcnchen. "
            u8"El proceso termin\u00f3 con el c\u00f3digo 5; el coste fue de 12 \u20ac. "
            u8"Unable to open C:\\Program Files\\Data\\settings.properties; rc = X'00000005'.\n";
    }
    wchar_t wide[1024];
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, 1024);
    char local[2048];
    WideCharToMultiByte(CP_ACP, 0, wide, units, local, sizeof(local), nullptr, nullptr);
    const std::string sentence = local;
    std::string text;
    text.reserve(kTextBytes + sentence.size());
    while (text.size() < kTextBytes)
        text += sentence;
    return text;
}

struct Row {
    const char* name;
    double table, system;
};

}  // namespace

int main() {
    const unsigned acp = GetACP();
    const std::string local = makeText(acp);
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

    std::vector<Row> rows;
    rows.push_back(
        {"local -> Unicode",
         throughput(local.size(),
                    [&] { NFConvertLocalToUnicode(local.c_str(), wideOut.data(), wideUnits, '*', nullptr); }),
         throughput(local.size(), [&] {
             MultiByteToWideChar(CP_ACP, 0, local.c_str(), localSize, wideOut.data(), wideUnits);
         })});
    rows.push_back(
        {"Unicode -> local",
         throughput(local.size(),
                    [&] { NFConvertUnicodeToLocal(wide.data(), localOut.data(), localSize, '*', nullptr); }),
         throughput(local.size(), [&] {
             WideCharToMultiByte(CP_ACP, 0, wide.data(), wideUnits, localOut.data(), localSize, nullptr,
                                 nullptr);
         })});
    rows.push_back({"local -> CompUnicode",
                    throughput(local.size(),
                               [&] {
                                   NFConvertLocalToCompUnicode(local.c_str(), compOut.data(),
                                                               static_cast<int>(compOut.size()), '*',
                                                               nullptr);
                               }),
                    throughput(local.size(), [&] {
                        MultiByteToWideChar(CP_ACP, 0, local.c_str(), localSize, wideOut.data(), wideUnits);
                    })});
    rows.push_back(
        {"CompUnicode -> local",
         throughput(
             local.size(),
             [&] { NFConvertCompUnicodeToLocal(comp.data(), localOut.data(), localSize, '*', nullptr); }),
         throughput(local.size(), [&] {
             WideCharToMultiByte(CP_ACP, 0, wide.data(), wideUnits, localOut.data(), localSize, nullptr,
                                 nullptr);
         })});
    rows.push_back({"UTF-8 -> local",
                    throughput(local.size(),
                               [&] { NFConvertUTF8ToLocal(utf8.data(), localOut.data(), localSize, 0, 0); }),
                    throughput(local.size(), [&] {
                        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                            scratchWide.data(), wideUnits);
                        WideCharToMultiByte(CP_ACP, 0, scratchWide.data(), wideUnits, localOut.data(),
                                            localSize, nullptr, nullptr);
                    })});

    // Both ways must have produced the same text.
    std::vector<char> check(localSize);
    NFConvertUTF8ToLocal(utf8.data(), check.data(), localSize, 0, 0);
    const bool same = std::memcmp(check.data(), local.c_str(), localSize) == 0;

    const double target = NFGetCodepage() == 942 ? 0.5 : 1.0;
    size_t nonAscii = 0;
    for (unsigned char c : local)
        nonAscii += c >= 0x80 ? 1 : 0;
    std::printf(
        "kvoucd32 table-driven conversions, ANSI code page %u (local table %d), %zu bytes of %s text "
        "(%.0f%% of the bytes non-ASCII)\n",
        acp, NFGetCodepage(), local.size(), acp == 932 ? "Japanese" : "Western",
        100.0 * static_cast<double>(nonAscii) / static_cast<double>(local.size()));
    std::printf("%-22s %12s %12s %8s  (target >= %.1f)\n", "conversion", "table MB/s", "system MB/s", "ratio",
                target);
    bool met = true;
    for (const Row& r : rows) {
        const double ratio = r.table / r.system;
        met = met && ratio >= target;
        std::printf("%-22s %12.1f %12.1f %8.2f\n", r.name, r.table, r.system, ratio);
    }
    std::printf("round trip %s; target %s\n", same ? "identical" : "DIFFERS", met ? "met" : "not met");
    return same ? 0 : 1;
}
