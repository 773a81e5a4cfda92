// Throughput of kvoucd32's table-driven conversions (the platform-free rules, built natively) against
// ICU and iconv on the same texts as the benchmark under Wine: Western prose and Western text with
// evenly spread accented letters in 1252, Japanese prose in 932 (the local table then CP942; the peers
// convert with their own code page 932, which gives the same bytes for this text). The peers are handed
// the length; the rules find the terminator themselves. Prints MB/s of the local text's bytes and the
// ratios rules / ICU and rules / iconv (>= 1: the rules are faster), best of alternating rounds.
//
// Usage: bench_textconv_native [folder of the CP*.UNI files]
#include <iconv.h>
#include <unicode/ucnv.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "cp_fast_tables.h"
#include "cp_image.h"
#include "sample_texts.h"

#ifndef KVO_CODEPAGE_DIR
#define KVO_CODEPAGE_DIR "."
#endif

using namespace kvo::textconv;

namespace {

constexpr int kRounds = 11;

struct Table {
    std::vector<unsigned char> image;
    CpRecords records{};
    CpFastTables fast;
};

bool loadTable(const std::string& dir, unsigned cp, Table* t) {
    std::ifstream in(dir + "/CP" + std::to_string(cp) + ".UNI", std::ios::binary);
    t->image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return parseCpImage(t->image.data(), t->image.size(), &t->records) &&
           buildFastTables(t->records, &t->fast);
}

// The bytes of a UTF-8 text in the table's code page.
std::string inCodePage(const Table& t, const char8_t* utf8) {
    const auto* src = reinterpret_cast<const unsigned char*>(utf8);
    std::string out(fastUtf8ToCp(t.fast, src, nullptr, '*'), '\0');
    fastUtf8ToCp(t.fast, src, reinterpret_cast<unsigned char*>(out.data()), '*');
    out.pop_back();  // the terminator
    return out;
}

double seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Best times of alternating rounds of each run, in seconds.
std::vector<double> measure(const std::vector<std::function<void()>>& runs) {
    std::vector<double> best(runs.size(), 1e30);
    for (const auto& run : runs)
        run();  // warm up
    for (int round = 0; round < kRounds; ++round) {
        for (size_t k = 0; k < runs.size(); ++k) {
            const double start = seconds();
            runs[k]();
            best[k] = std::min(best[k], seconds() - start);
        }
    }
    return best;
}

struct Peers {
    UConverter* icu = nullptr;
    UConverter* icuUtf8 = nullptr;
    iconv_t toUnicode = reinterpret_cast<iconv_t>(-1);
    iconv_t fromUnicode = reinterpret_cast<iconv_t>(-1);
    iconv_t fromUtf8 = reinterpret_cast<iconv_t>(-1);
};

bool openPeers(const char* icuName, const char* iconvName, Peers* p) {
    UErrorCode error = U_ZERO_ERROR;
    p->icu = ucnv_open(icuName, &error);
    p->icuUtf8 = ucnv_open("UTF-8", &error);
    p->toUnicode = iconv_open("UTF-16LE", iconvName);
    p->fromUnicode = iconv_open(iconvName, "UTF-16LE");
    p->fromUtf8 = iconv_open(iconvName, "UTF-8");
    const iconv_t none = reinterpret_cast<iconv_t>(-1);
    return U_SUCCESS(error) && p->toUnicode != none && p->fromUnicode != none && p->fromUtf8 != none;
}

void closePeers(Peers* p) {
    ucnv_close(p->icu);
    ucnv_close(p->icuUtf8);
    iconv_close(p->toUnicode);
    iconv_close(p->fromUnicode);
    iconv_close(p->fromUtf8);
}

// One iconv conversion of a whole text from its initial state.
void iconvWhole(iconv_t cd, const void* src, size_t srcBytes, void* dst, size_t dstBytes) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = static_cast<char*>(const_cast<void*>(src));
    char* out = static_cast<char*>(dst);
    iconv(cd, &in, &srcBytes, &out, &dstBytes);
}

// The three conversions of one local text against both peers, printed as one row set with whether the
// targets were met (Japanese: both directions 1.5 times ICU); true if the rules and both peers gave the
// same text.
bool runRowSet(const char* title, const Table& t, const std::string& local, const char* icuName,
               const char* iconvName, bool japanese) {
    Peers peers;
    if (!openPeers(icuName, iconvName, &peers)) {
        std::fprintf(stderr, "bench_textconv_native: ICU %s or iconv %s cannot be opened\n", icuName,
                     iconvName);
        closePeers(&peers);
        return false;
    }
    const auto* src = reinterpret_cast<const unsigned char*>(local.c_str());
    std::vector<char16_t> wide(
        fastCpToUnicode(t.fast, src, static_cast<char16_t*>(nullptr), 0, '*', nullptr));
    fastCpToUnicode(t.fast, src, wide.data(), static_cast<int>(wide.size()), '*', nullptr);
    const int units = static_cast<int>(wide.size()) - 1;
    std::vector<unsigned char> utf8(local.size() * 3 + 1);
    {
        // UTF-8 of the same text.
        unsigned char* out = utf8.data();
        for (int k = 0; k < units; ++k)
            out += encodeUtf8(wide[k], out);
        *out = 0;
        utf8.resize(static_cast<size_t>(out - utf8.data()) + 1);
    }
    const int utf8Length = static_cast<int>(utf8.size()) - 1;

    std::vector<char16_t> wideOut(wide.size() + 16);
    std::vector<char> localOut(local.size() + 16);
    std::vector<UChar> pivot(1024);
    const int wideRoom = static_cast<int>(wideOut.size());
    const int localRoom = static_cast<int>(localOut.size());

    struct Row {
        const char* name;
        std::function<void()> rules, icu, iconv;
        bool toUnicode;
    };
    std::vector<Row> rows;
    rows.push_back(
        {"local -> Unicode", [&] { fastCpToUnicode(t.fast, src, wideOut.data(), wideRoom, '*', nullptr); },
         [&] {
             UErrorCode e = U_ZERO_ERROR;
             ucnv_toUChars(peers.icu, wideOut.data(), wideRoom, local.data(),
                           static_cast<int32_t>(local.size()), &e);
         },
         [&] { iconvWhole(peers.toUnicode, local.data(), local.size(), wideOut.data(), wideOut.size() * 2); },
         true});
    rows.push_back({"Unicode -> local",
                    [&] {
                        fastUnicodeToCp(t.fast, wide.data(),
                                        reinterpret_cast<unsigned char*>(localOut.data()), localRoom, '*',
                                        nullptr);
                    },
                    [&] {
                        UErrorCode e = U_ZERO_ERROR;
                        ucnv_fromUChars(peers.icu, localOut.data(), localRoom, wide.data(), units, &e);
                    },
                    [&] {
                        iconvWhole(peers.fromUnicode, wide.data(), static_cast<size_t>(units) * 2,
                                   localOut.data(), localOut.size());
                    },
                    false});
    rows.push_back({"UTF-8 -> local",
                    [&] {
                        // The export's way: a counting pass, then the conversion where the output fits
                        // (which also keeps the compiler from leaving out the count).
                        if (fastUtf8ToCp(t.fast, utf8.data(), nullptr, '*') <= localOut.size())
                            fastUtf8ToCp(t.fast, utf8.data(),
                                         reinterpret_cast<unsigned char*>(localOut.data()), '*');
                    },
                    [&] {
                        UErrorCode e = U_ZERO_ERROR;
                        char* target = localOut.data();
                        const char* source = reinterpret_cast<const char*>(utf8.data());
                        UChar* pivotSource = pivot.data();
                        UChar* pivotTarget = pivot.data();
                        ucnv_convertEx(peers.icu, peers.icuUtf8, &target, target + localRoom, &source,
                                       source + utf8Length, pivot.data(), &pivotSource, &pivotTarget,
                                       pivot.data() + pivot.size(), true, true, &e);
                    },
                    [&] {
                        iconvWhole(peers.fromUtf8, utf8.data(), static_cast<size_t>(utf8Length),
                                   localOut.data(), localOut.size());
                    },
                    false});
    // Whether the last run left the text in the row's output.
    const auto gave = [&](const Row& r, const std::function<void()>& run) {
        std::fill(wideOut.begin(), wideOut.end(), u'\0');
        std::fill(localOut.begin(), localOut.end(), '\0');
        run();
        return r.toUnicode ? std::memcmp(wideOut.data(), wide.data(), static_cast<size_t>(units) * 2) == 0
                           : std::memcmp(localOut.data(), local.data(), local.size()) == 0;
    };

    size_t nonAscii = 0;
    for (unsigned char c : local)
        nonAscii += c >= 0x80 ? 1 : 0;
    std::printf("\nkvoucd32 rules natively, table CP%s, %zu bytes of %s (%.1f%% of the bytes non-ASCII)\n",
                japanese ? "942 (peers: code page 932)" : "1252", local.size(), title,
                100.0 * static_cast<double>(nonAscii) / static_cast<double>(local.size()));
    std::printf("%-18s %9s %9s %9s %8s %8s %8s\n", "conversion", "rules", "ICU", "iconv", "x ICU", "x iconv",
                "target");
    std::printf("%-18s %9s %9s %9s %8s %8s %8s\n", "", "MB/s", "MB/s", "MB/s", "", "", "x ICU");
    bool met = true, same = true;
    const double megabytes = static_cast<double>(local.size()) / 1e6;
    for (const Row& r : rows) {
        const std::vector<double> best = measure({r.rules, r.icu, r.iconv});
        const double rules = megabytes / best[0], icu = megabytes / best[1], iconv = megabytes / best[2];
        const bool targeted = japanese && std::strcmp(r.name, "UTF-8 -> local") != 0;
        met = met && (!targeted || rules / icu >= 1.5);
        std::printf("%-18s %9.1f %9.1f %9.1f %8.2f %8.2f %8s\n", r.name, rules, icu, iconv, rules / icu,
                    rules / iconv, targeted ? "1.5" : "-");
        same = same && gave(r, r.rules) && gave(r, r.icu) && gave(r, r.iconv);
    }
    std::printf("MB/s of the %zu local bytes; peers handed the length\n", local.size());
    std::printf("rules' and peers' text %s; targets %s\n", same ? "identical" : "DIFFERS",
                !japanese ? "none"
                : met     ? "met"
                          : "not met");
    closePeers(&peers);
    return same;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : KVO_CODEPAGE_DIR;
    Table western, japanese;
    if (!loadTable(dir, 1252, &western) || !loadTable(dir, 942, &japanese)) {
        std::fprintf(stderr, "bench_textconv_native: no valid CP1252.UNI or CP942.UNI in %s\n", dir.c_str());
        return 2;
    }
    std::printf("block loops: %s\n", western.fast.byteShuffles ? "SSSE3" : "SSE2");
    bool same = true;
    same = runRowSet("Western prose", western,
                     kvobench::repeatToSize(inCodePage(western, kvobench::kWesternProse)), "windows-1252",
                     "CP1252", false) &&
           same;
    same =
        runRowSet("Western text with evenly spread accented letters", western,
                  kvobench::spreadAccents(kvobench::repeatToSize(inCodePage(western, kvobench::kSpreadBase)),
                                          inCodePage(western, kvobench::kSpreadLetters)),
                  "windows-1252", "CP1252", false) &&
        same;
    same = runRowSet("Japanese prose", japanese,
                     kvobench::repeatToSize(inCodePage(japanese, kvobench::kJapaneseProse)), "windows-31j",
                     "CP932", true) &&
           same;
    return same ? 0 : 1;
}
