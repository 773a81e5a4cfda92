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
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "kvoucd32.h"

namespace {

constexpr size_t kTextBytes = 4u << 20;
constexpr int kRounds = 11;

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
std::string repeatToSize(const std::string& sentence);

// Prose of the kind the product converts (messages, descriptions, file names), repeated to 4 MiB
// and converted to the local code page by the system.
std::string makeText(unsigned acp) {
    const char8_t* utf8;
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
    return repeatToSize(inAnsiCodePage(utf8));
}

// Western text whose accented letters are spread evenly: ASCII prose in which letters at random
// positions (about one byte in thirty, never two adjacent) are replaced by accented ones.
std::string makeSpreadText() {
    const std::string ascii = repeatToSize(inAnsiCodePage(
        u8"The configuration file was read and the next job starts on 10 October at 06:00. "
        u8"The data directory was not found; the task is stopped and will be started again later. "
        u8"Please check the settings for the service and the path C:\\Program Files\\Data\\logs. "
        u8"Unable to open settings.properties; rc = X'00000005'. The process ended with code 5.\n"));
    const std::string accented = inAnsiCodePage(
        u8"\u00e9\u00e8\u00ea\u00e0\u00e2\u00e7\u00f4\u00fb\u00fc\u00f6\u00e4\u00f1\u00ed\u00f3\u00e1\u00c9");
    size_t letters = 0;
    for (unsigned char c : ascii)
        letters += std::isalpha(c) ? 1 : 0;
    const double p = (static_cast<double>(ascii.size()) / 30.0) / static_cast<double>(letters);
    std::mt19937 rng(30);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    std::string text = ascii;
    bool previous = false;
    for (char& c : text) {
        const bool replace = !previous && std::isalpha(static_cast<unsigned char>(c)) && uniform(rng) < p;
        if (replace)
            c = accented[rng() % accented.size()];
        previous = replace;
    }
    return text;
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

std::string repeatToSize(const std::string& sentence) {
    std::string text;
    text.reserve(kTextBytes + sentence.size());
    while (text.size() < kTextBytes)
        text += sentence;
    return text;
}

// The five conversions of one local text (and its Unicode, CompUnicode and UTF-8 forms), printed as one
// row set with whether every row met its target (932: every row 0.5 and Unicode -> local 1.0;
// otherwise every row 2.0); true if both ways gave the same text.
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
        const double target = !doubleByte ? 2.0 : std::strcmp(r.name, "Unicode -> local") == 0 ? 1.0 : 0.5;
        met = met && ratio >= target;
        std::printf("%-22s %11.1f %11.1f %11.1f %8.2f %8.2f %8.1f %11.1f\n", r.name, r.table, r.terminated,
                    r.counted, ratio, r.table / r.counted, target, r.copy);
    }
    std::printf("MB/s of the %zu local bytes; memcpy: the row's source bytes copied, as a ceiling\n",
                local.size());
    std::printf("round trip %s; targets %s\n", same ? "identical" : "DIFFERS", met ? "met" : "not met");
    return same;
}

}  // namespace

int main() {
    bool same = true;
    if (GetACP() == 932) {
        same = runRowSet("Japanese prose", makeText(932)) && same;
    } else {
        same = runRowSet("Western prose", makeText(GetACP())) && same;
        same = runRowSet("Western text with evenly spread accented letters", makeSpreadText()) && same;
    }
    return same ? 0 : 1;
}
