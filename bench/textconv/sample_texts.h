// The texts both text-conversion benchmarks convert (the one under Wine against the system, the native
// one against ICU and iconv): sentences of the kind the product converts (messages, descriptions, file
// names) as UTF-8, repeated to 4 MiB once put into the local code page, and Western text whose
// accented letters are spread evenly. Each benchmark puts the sentences into the code page its own way.
#pragma once

#include <cctype>
#include <cstddef>
#include <random>
#include <string>

namespace kvobench {

constexpr size_t kTextBytes = 4u << 20;

inline const char8_t* const kJapaneseProse =
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

inline const char8_t* const kWesternProse =
    u8"The configuration file was read and the next job starts on 10 October at 06:00. "
    u8"Le r\u00e9pertoire de donn\u00e9es n'a pas \u00e9t\u00e9 trouv\u00e9 ; la t\u00e2che est "
    u8"arr\u00eat\u00e9e. "
    u8"Die Datei wurde nicht gefunden, bitte \u00fcberpr\u00fcfen Sie die Einstellungen f\u00fcr "
    u8"M\u00fcnchen. "
    u8"El proceso termin\u00f3 con el c\u00f3digo 5; el coste fue de 12 \u20ac. "
    u8"Unable to open C:\\Program Files\\Data\\settings.properties; rc = X'00000005'.\n";

// ASCII prose, and the accented letters spread into it.
inline const char8_t* const kSpreadBase =
    u8"The configuration file was read and the next job starts on 10 October at 06:00. "
    u8"The data directory was not found; the task is stopped and will be started again later. "
    u8"Please check the settings for the service and the path C:\\Program Files\\Data\\logs. "
    u8"Unable to open settings.properties; rc = X'00000005'. The process ended with code 5.\n";
inline const char8_t* const kSpreadLetters =
    u8"\u00e9\u00e8\u00ea\u00e0\u00e2\u00e7\u00f4\u00fb\u00fc\u00f6\u00e4\u00f1\u00ed\u00f3\u00e1\u00c9";

// A sentence repeated until the text holds kTextBytes bytes.
inline std::string repeatToSize(const std::string& sentence) {
    std::string text;
    text.reserve(kTextBytes + sentence.size());
    while (text.size() < kTextBytes)
        text += sentence;
    return text;
}

// ASCII prose (repeated to size) in which letters at random positions, about one byte in thirty and
// never two adjacent, are replaced by the single-byte accented letters of `accented`.
inline std::string spreadAccents(const std::string& ascii, const std::string& accented) {
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

}  // namespace kvobench
