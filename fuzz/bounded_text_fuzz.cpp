// kta_ca's texts in fixed buffers from hostile text (installer/rules/bounded_text.*, text_rules.*):
// a BoundedText over a buffer of exactly its capacity (1 to 600 units) is driven by a sequence of
// operations taken from the input (appends of texts, spans, units and numbers, whole appends,
// clear, truncate, formatting, whole joins, the installer-literal escape, the trailing backslash,
// the module suffix, log lines, a text the system wrote into the buffer, a cut read marked "..."),
// each with texts from the
// input, surrogates and lone halves included. After each, the buffer is compared with a model:
//  - nothing is written past the buffer (AddressSanitizer), the text is terminated within it;
//  - what does not fit is cut at the buffer: the text stays a prefix of all that was appended since
//    the last clear, and once a cut happened nothing more is added;
//  - a cut never separates the two halves of a surrogate pair of the text being appended;
//  - results and the cut mark as documented.
// The fixed-name decisions on outside text (case-insensitive names, dot entries, protected files,
// kept and product folders, DELETEDATA, versions, placeholders, message numbers, the target names of
// a DefaultDir, the parent of a folder) are compared with models too; drive and share roots are
// told from any text without reading past it.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "bounded_text.h"
#include "fuzz_support.h"
#include "text_rules.h"
#include "wide_text.h"

using namespace kvo::installer;
using namespace kvofuzz;

namespace {

// --- Texts from the input ----------------------------------------------------------------------

// A text of up to maxUnits units, without zero units: bytes below 0xF0 are units of their value
// (0 is left out), 0xF0 a surrogate pair, 0xF1 a lone high half, 0xF2 a lone low half, and any
// other byte from 0xF3 up is followed by two bytes of a unit (little-endian).
Units takeText(FuzzedDataProvider& in, size_t maxUnits) {
    const size_t count = in.ConsumeIntegralInRange<size_t>(0, maxUnits);
    Units units;
    while (units.size() < count && in.remaining_bytes() > 0) {
        const uint8_t b = in.ConsumeIntegral<uint8_t>();
        if (b == 0)
            continue;
        if (b < 0xF0) {
            units.push_back(b);
        } else if (b == 0xF0) {
            units.push_back(0xD83D);
            units.push_back(0xDE00);
        } else if (b == 0xF1) {
            units.push_back(0xD800 + in.ConsumeIntegralInRange<uint32_t>(0, 0x3FF));
        } else if (b == 0xF2) {
            units.push_back(0xDC00 + in.ConsumeIntegralInRange<uint32_t>(0, 0x3FF));
        } else {
            const uint32_t u = in.ConsumeIntegral<uint16_t>();
            if (u != 0)
                units.push_back(u);
        }
    }
    return units;
}

// A terminated text in an exactly sized buffer, kept alive with the units.
struct Wide {
    Units units;
    ExactBuffer<wchar_t> buffer;
    explicit Wide(const Units& u) : units(u), buffer(wideBuffer(u, true)) {}
    const wchar_t* get() const { return buffer.get(); }
};

// --- The model ---------------------------------------------------------------------------------

struct Model {
    size_t capacity;
    Units text;
    bool cut = false;

    size_t room() const { return capacity - 1 - text.size(); }

    // As much of the piece as fits, never the first half of a pair without its second; nothing once
    // a cut happened.
    void append(const Units& piece) {
        if (cut)
            return;
        if (piece.size() <= room()) {
            text.insert(text.end(), piece.begin(), piece.end());
            return;
        }
        size_t count = room();
        if (count > 0 && isHighSurrogate(piece[count - 1]) && isLowSurrogate(piece[count]))
            --count;
        text.insert(text.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(count));
        cut = true;
    }
    bool appendWhole(const Units& piece) {
        if (cut || piece.size() > room()) {
            cut = true;
            return false;
        }
        append(piece);
        return true;
    }
    void clear() {
        text.clear();
        cut = false;
    }
    // A text the system wrote into the buffer: up to its first zero unit, or cut where the buffer ends.
    void written(const Units& buffer) {
        clear();
        for (size_t i = 0; i < buffer.size(); ++i) {
            if (buffer[i] == 0) {
                text.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(i));
                return;
            }
        }
        append(buffer);
    }
};

Units decimal(unsigned long long value, bool negative) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%s%llu", negative ? "-" : "", value);
    return unitsOf(digits);
}

Units hex(unsigned long long value) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%llX", value);
    return unitsOf(digits);
}

Units concat(std::initializer_list<Units> parts) {
    Units all;
    for (const Units& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

void compare(const BoundedText& out, const Model& model, const char* what) {
    KVO_FUZZ_CHECK(out.length() < model.capacity, "%s: length %zu in a buffer of %zu", what, out.length(),
                   model.capacity);
    KVO_FUZZ_CHECK(out.text()[out.length()] == 0, "%s: not terminated at %zu", what, out.length());
    const Units got = unitsOf(out.text(), out.length());
    KVO_FUZZ_CHECK(got == model.text, "%s (capacity %zu): text %s\n  expected %s", what, model.capacity,
                   show(got).c_str(), show(model.text).c_str());
    KVO_FUZZ_CHECK(out.cut() == model.cut, "%s: cut %d, expected %d", what, out.cut(), model.cut);
}

// --- formatText ---------------------------------------------------------------------------------

// One argument, in the forms a caller has: a terminated text, a span, another BoundedText, numbers.
struct Arg {
    enum Kind { Text, Span, Bounded, Int, LongLong, Unsigned, UnsignedLongLong } kind;
    Units units;  // Text, Span, Bounded: the text the argument stands for
    long long s = 0;
    unsigned long long u = 0;
};

Units argText(const Arg& a, uint32_t conversion) {
    switch (a.kind) {
        case Arg::Text:
        case Arg::Span:
        case Arg::Bounded:
            return a.units;
        case Arg::Int:
        case Arg::LongLong:
            return conversion == 'X' ? hex(static_cast<unsigned long long>(a.s))
                                     : decimal(a.s < 0 ? 0ULL - static_cast<unsigned long long>(a.s)
                                                       : static_cast<unsigned long long>(a.s),
                                               a.s < 0);
        default:
            return conversion == 'X' ? hex(a.u) : decimal(a.u, false);
    }
}

// The pattern's pieces: runs of literal text, "%" for "%%" and for a conversion that stays, and the
// arguments, each appended to the model on its own.
bool modelFormat(Model& model, const Units& pattern, const std::vector<Arg>& args) {
    size_t next = 0;
    for (size_t p = 0; p < pattern.size();) {
        Units literal;
        while (p < pattern.size() && pattern[p] != '%')
            literal.push_back(pattern[p++]);
        model.append(literal);
        if (p == pattern.size())
            break;
        if (p + 1 < pattern.size() && pattern[p + 1] == '%') {
            model.append({'%'});
            p += 2;
            continue;
        }
        size_t conversion = p + 1;
        if (conversion < pattern.size() && pattern[conversion] == 'l')
            ++conversion;
        const uint32_t letter = conversion < pattern.size() ? pattern[conversion] : 0;
        if ((letter != 's' && letter != 'd' && letter != 'u' && letter != 'X') || next == args.size()) {
            model.append({'%'});
            ++p;
            continue;
        }
        model.append(argText(args[next++], letter));
        p = conversion + 1;
    }
    return !model.cut;
}

bool callFormat(BoundedText& out, const wchar_t* pattern, const std::vector<Arg>& args,
                std::vector<Wide>& texts) {
    std::vector<FormatArg> formatArgs;
    texts.reserve(args.size());
    for (const Arg& a : args) {
        switch (a.kind) {
            case Arg::Text:
                texts.emplace_back(a.units);
                formatArgs.emplace_back(texts.back().get());
                break;
            case Arg::Span:
                // The span lies in a longer text: nothing after its end may be read as part of it.
                texts.emplace_back(concat({a.units, unitsOf("SPAN-END")}));
                formatArgs.emplace_back(TextSpan{texts.back().get(), a.units.size()});
                break;
            case Arg::Bounded:
                formatArgs.emplace_back(static_cast<int>(0));  // replaced below
                break;
            case Arg::Int:
                formatArgs.emplace_back(static_cast<int>(a.s));
                break;
            case Arg::LongLong:
                formatArgs.emplace_back(a.s);
                break;
            case Arg::Unsigned:
                formatArgs.emplace_back(static_cast<unsigned>(a.u));
                break;
            case Arg::UnsignedLongLong:
                formatArgs.emplace_back(a.u);
                break;
        }
    }
    // BoundedText arguments: a text kept in its own buffer of exactly its size.
    std::vector<ExactBuffer<wchar_t>> boundedBuffers;
    boundedBuffers.reserve(args.size());
    std::vector<std::unique_ptr<BoundedText>> bounded;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i].kind != Arg::Bounded)
            continue;
        boundedBuffers.emplace_back(args[i].units.size() + 1, 0);
        bounded.push_back(
            std::make_unique<BoundedText>(boundedBuffers.back().get(), args[i].units.size() + 1));
        bounded.back()->append(Wide(args[i].units).get());
        formatArgs[i] = FormatArg(*bounded.back());
    }
    switch (formatArgs.size()) {
        case 0:
            return formatText(out, pattern, {});
        case 1:
            return formatText(out, pattern, {formatArgs[0]});
        case 2:
            return formatText(out, pattern, {formatArgs[0], formatArgs[1]});
        case 3:
            return formatText(out, pattern, {formatArgs[0], formatArgs[1], formatArgs[2]});
        default:
            return formatText(out, pattern, {formatArgs[0], formatArgs[1], formatArgs[2], formatArgs[3]});
    }
}

std::vector<Arg> takeArgs(FuzzedDataProvider& in) {
    std::vector<Arg> args(in.ConsumeIntegralInRange<size_t>(0, 4));
    for (Arg& a : args) {
        a.kind = static_cast<Arg::Kind>(in.ConsumeIntegralInRange<int>(0, 6));
        switch (a.kind) {
            case Arg::Text:
            case Arg::Span:
            case Arg::Bounded:
                a.units = takeText(in, 700);
                break;
            case Arg::Int:
                a.s = in.ConsumeIntegral<int>();
                break;
            case Arg::LongLong:
                a.s = in.ConsumeIntegral<long long>();
                break;
            case Arg::Unsigned:
                a.u = in.ConsumeIntegral<unsigned>();
                break;
            case Arg::UnsignedLongLong:
                a.u = in.ConsumeIntegral<unsigned long long>();
                break;
        }
    }
    return args;
}

// --- The installer-literal escape ------------------------------------------------------------------

bool modelInstallerLiteral(Model& model, const Units& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const uint32_t u = text[i];
        Units piece;
        if (u == '[' || u == ']' || u == '{' || u == '}') {
            piece = {'[', '\\', u, ']'};
        } else if (isHighSurrogate(u) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            piece = {u, text[i + 1]};
            ++i;
        } else {
            piece = {u};
        }
        if (!model.appendWhole(piece))
            return false;
    }
    return true;
}

// --- The fixed-name decisions ------------------------------------------------------------------

uint32_t fold(uint32_t u) {
    return u >= 'A' && u <= 'Z' ? u - 'A' + 'a' : u;
}

bool modelEqualsIgnoringCase(const Units& a, const Units& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i]))
            return false;
    return true;
}

bool oneOf(const Units& name, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (modelEqualsIgnoringCase(name, unitsOf(n)))
            return true;
    return false;
}

void checkNameRules(const Units& a, const Units& b) {
    const Wide wa(a), wb(b);
    const std::string shown = show(a);
    KVO_FUZZ_CHECK(equalsIgnoringAsciiCase(wa.get(), wb.get()) == modelEqualsIgnoringCase(a, b),
                   "equalsIgnoringAsciiCase(%s, %s)", shown.c_str(), show(b).c_str());
    KVO_FUZZ_CHECK(isDotEntry(wa.get()) == (a == unitsOf(".") || a == unitsOf("..")), "isDotEntry(%s)",
                   shown.c_str());
    KVO_FUZZ_CHECK(isProtectedFileName(wa.get()) == oneOf(a, {"admin4.txt", "user1.txt"}),
                   "isProtectedFileName(%s)", shown.c_str());
    KVO_FUZZ_CHECK(isKeptInstallFolder(wa.get()) ==
                       oneOf(a, {"data", "database", "tempdata", "log", "classfix", "VeDiZade"}),
                   "isKeptInstallFolder(%s)", shown.c_str());
    KVO_FUZZ_CHECK(isProductFolder(wa.get()) == oneOf(a, {"bin", "classes", "jni", "jre", "lib", "proddata"}),
                   "isProductFolder(%s)", shown.c_str());
    KVO_FUZZ_CHECK(isProductLoggingPolicy(wa.get()) == oneOf(a, {"aiawea"}), "isProductLoggingPolicy(%s)",
                   shown.c_str());
    KVO_FUZZ_CHECK(isMissingSectionMarker(wa.get()) == oneOf(a, {"RSPFILE_BAD"}),
                   "isMissingSectionMarker(%s)", shown.c_str());
    KVO_FUZZ_CHECK(asksToDeleteData(wa.get()) == (!a.empty() && a[0] == 'y'), "asksToDeleteData(%s)",
                   shown.c_str());
    KVO_FUZZ_CHECK(versionWithoutHash(wa.get()) == wa.get() + (!a.empty() && a[0] == '#' ? 1 : 0),
                   "versionWithoutHash(%s)", shown.c_str());

    int number = 0;
    for (size_t i = 0; i < a.size() && i < 9 && a[i] >= '0' && a[i] <= '9'; ++i)
        number = number * 10 + static_cast<int>(a[i] - '0');
    KVO_FUZZ_CHECK(leadingMessageNumber(wa.get()) == number, "leadingMessageNumber(%s): %d, expected %d",
                   shown.c_str(), leadingMessageNumber(wa.get()), number);

    // Placeholder features: "_tempf" anywhere; the name cut at its first one.
    const Units suffix = unitsOf("_tempf");
    size_t at = a.size();
    for (size_t i = 0; i + suffix.size() <= a.size(); ++i) {
        if (Units(a.begin() + static_cast<std::ptrdiff_t>(i),
                  a.begin() + static_cast<std::ptrdiff_t>(i + suffix.size())) == suffix) {
            at = i;
            break;
        }
    }
    KVO_FUZZ_CHECK(isPlaceholderName(wa.get()) == (at != a.size()), "isPlaceholderName(%s)", shown.c_str());

    // DefaultDir: the target part ends at the first ':', its names split at its first '|'; "." and
    // an empty part name no folder. The parent of a folder is a start of it ending with a separator.
    const Units target(a.begin(), std::find(a.begin(), a.end(), uint32_t{':'}));
    const auto bar = std::find(target.begin(), target.end(), uint32_t{'|'});
    const bool none = target.empty() || target == unitsOf(".");
    TextSpan shortName{};
    TextSpan longName{};
    directoryTargetNames(wa.get(), shortName, longName);
    KVO_FUZZ_CHECK(
        unitsOf(shortName.text, shortName.length) == (none ? Units{} : Units(target.begin(), bar)) &&
            unitsOf(longName.text, longName.length) == (none || bar == target.end()
                                                            ? unitsOf(shortName.text, shortName.length)
                                                            : Units(bar + 1, target.end())),
        "directoryTargetNames(%s)", shown.c_str());
    const size_t parent = parentFolderLength(wa.get());
    KVO_FUZZ_CHECK(parent <= a.size() && (parent == 0 || a[parent - 1] == '\\' || a[parent - 1] == '/'),
                   "parentFolderLength(%s): %zu", shown.c_str(), parent);
    rootKind(wa.get());
    ExactBuffer<wchar_t> name = wideBuffer(a, true);
    cutAtPlaceholderSuffix(name.get());
    KVO_FUZZ_CHECK(unitsOf(name.get()) == Units(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(at)),
                   "cutAtPlaceholderSuffix(%s)", shown.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const size_t capacity = in.ConsumeIntegralInRange<size_t>(1, 600);
    ExactBuffer<wchar_t> buffer(capacity, 0x5A5A);
    Model model{capacity, {}, false};

    // A new text, or one the buffer holds already (which need not be terminated within it).
    std::unique_ptr<BoundedText> outPtr;
    if (in.ConsumeBool()) {
        const Units held = takeText(in, capacity);
        for (size_t i = 0; i < capacity; ++i)
            buffer[i] = i < held.size() ? static_cast<wchar_t>(held[i]) : (i == held.size() ? 0 : L'x');
        outPtr = std::make_unique<BoundedText>(buffer.get(), capacity, BoundedText::KeepText{});
        model.written(
            Units(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(std::min(held.size(), capacity))));
    } else {
        outPtr = std::make_unique<BoundedText>(buffer.get(), capacity);
    }
    BoundedText& out = *outPtr;
    compare(out, model, "start");

    for (int step = 0; step < 24 && in.remaining_bytes() > 0; ++step) {
        switch (in.ConsumeIntegralInRange<int>(0, 17)) {
            case 0: {
                const Wide text(takeText(in, 700));
                out.append(text.get());
                model.append(text.units);
                compare(out, model, "append(text)");
                break;
            }
            case 1: {
                const Units text = takeText(in, 700);
                const Wide longer(concat({text, unitsOf("SPAN-END")}));
                out.append(longer.get(), text.size());
                model.append(text);
                compare(out, model, "append(text, length)");
                break;
            }
            case 2: {
                const Units unit = takeText(in, 1);
                if (unit.empty())
                    break;
                out.append(static_cast<wchar_t>(unit[0]));
                model.append({unit[0]});
                compare(out, model, "append(unit)");
                break;
            }
            case 3: {
                const long long v = in.ConsumeIntegral<long long>();
                out.appendSigned(v);
                model.append(decimal(
                    v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v),
                    v < 0));
                compare(out, model, "appendSigned");
                break;
            }
            case 4: {
                const unsigned long long v = in.ConsumeIntegral<unsigned long long>();
                out.appendUnsigned(v);
                model.append(decimal(v, false));
                compare(out, model, "appendUnsigned");
                break;
            }
            case 5: {
                const unsigned long long v = in.ConsumeIntegral<unsigned long long>();
                out.appendHex(v);
                model.append(hex(v));
                compare(out, model, "appendHex");
                break;
            }
            case 6: {
                const Units text = takeText(in, 700);
                const Wide longer(concat({text, unitsOf("SPAN-END")}));
                const bool whole = out.appendWhole(longer.get(), text.size());
                KVO_FUZZ_CHECK(whole == model.appendWhole(text), "appendWhole gave %d", whole);
                compare(out, model, "appendWhole");
                break;
            }
            case 7:
                out.clear();
                model.clear();
                compare(out, model, "clear");
                break;
            case 8: {
                const size_t length = in.ConsumeIntegralInRange<size_t>(0, capacity + 2);
                out.truncate(length);
                if (length < model.text.size())
                    model.text.resize(length);
                compare(out, model, "truncate");
                break;
            }
            case 9: {
                const Wide pattern(takeText(in, 200));
                const std::vector<Arg> args = takeArgs(in);
                std::vector<Wide> texts;
                const bool whole = callFormat(out, pattern.get(), args, texts);
                KVO_FUZZ_CHECK(whole == modelFormat(model, pattern.units, args), "formatText gave %d", whole);
                compare(out, model, "formatText");
                break;
            }
            case 10: {
                std::vector<Wide> parts;
                const size_t count = in.ConsumeIntegralInRange<size_t>(1, 3);
                for (size_t i = 0; i < count; ++i)
                    parts.emplace_back(takeText(in, 300));
                bool whole = false;
                Units all;
                if (count == 1) {
                    whole = joinWhole(out, {parts[0].get()});
                    all = parts[0].units;
                } else if (count == 2) {
                    whole = joinWhole(out, {parts[0].get(), parts[1].get()});
                    all = concat({parts[0].units, parts[1].units});
                } else {
                    whole = joinWhole(out, {parts[0].get(), parts[1].get(), parts[2].get()});
                    all = concat({parts[0].units, parts[1].units, parts[2].units});
                }
                // All parts or nothing, and then cut.
                model.clear();
                const bool fits = all.size() <= capacity - 1;
                if (fits)
                    model.text = all;
                model.cut = !fits;
                KVO_FUZZ_CHECK(whole == fits, "joinWhole gave %d for %zu units", whole, all.size());
                compare(out, model, "joinWhole");
                break;
            }
            case 11: {
                const Wide text(takeText(in, 400));
                const bool whole = appendInstallerLiteral(out, text.get());
                KVO_FUZZ_CHECK(whole == modelInstallerLiteral(model, text.units),
                               "appendInstallerLiteral gave %d", whole);
                compare(out, model, "appendInstallerLiteral");
                break;
            }
            case 12: {
                const bool ends = ensureTrailingBackslash(out);
                const bool expected =
                    (!model.text.empty() && model.text.back() == '\\') || model.appendWhole({'\\'});
                KVO_FUZZ_CHECK(ends == expected, "ensureTrailingBackslash gave %d", ends);
                compare(out, model, "ensureTrailingBackslash");
                break;
            }
            case 13:
                appendModuleSuffixTo(out);
                model.append({'.'});
                model.append(unitsOf("7C2E41A9_58B3_4D6F_A0E7_1B94C3D85F26"));
                compare(out, model, "appendModuleSuffixTo");
                break;
            case 14: {
                const int kind = in.ConsumeIntegralInRange<int>(0, 2);
                const Wide text(takeText(in, 700));
                composeLogLine(static_cast<LogKind>(kind), text.get(), out);
                model.clear();
                if (kind != static_cast<int>(LogKind::Other)) {
                    model.append(unitsOf(kind == static_cast<int>(LogKind::Info) ? "**** ZAL_INFO -- "
                                                                                 : "**** ZAL_ERROR -- "));
                    model.append(text.units);
                }
                compare(out, model, "composeLogLine");
                break;
            }
            case 15: {
                // The system writes at most capacity units, terminated or not.
                Units written = takeText(in, capacity);
                written.resize(std::min(written.size(), capacity));
                for (size_t i = 0; i < written.size(); ++i)
                    out.data()[i] = static_cast<wchar_t>(written[i]);
                if (written.size() < capacity)
                    out.data()[written.size()] = 0;
                out.acceptWritten();
                model.written(written.size() < capacity ? concat({written, {0}}) : written);
                compare(out, model, "acceptWritten");
                break;
            }
            case 16:
                checkNameRules(takeText(in, 40), takeText(in, 40));
                break;
            case 17: {
                // The first `keep` units (one fewer where a pair would be split), "..." when longer.
                const Wide text(takeText(in, 400));
                size_t keep = std::min(in.ConsumeIntegralInRange<size_t>(0, 400), text.units.size());
                const bool longer = keep < text.units.size();
                appendCutRead(out, text.get(), keep);
                if (longer && keep > 0 && isHighSurrogate(text.units[keep - 1]) &&
                    isLowSurrogate(text.units[keep]))
                    --keep;
                model.append(
                    Units(text.units.begin(), text.units.begin() + static_cast<std::ptrdiff_t>(keep)));
                if (longer)
                    model.append(unitsOf("..."));
                compare(out, model, "appendCutRead");
                break;
            }
        }
    }
    return 0;
}
