#include "text_rules.h"

namespace kvo::installer {

namespace {

wchar_t foldAscii(wchar_t unit) {
    return unit >= L'A' && unit <= L'Z' ? static_cast<wchar_t>(unit - L'A' + L'a') : unit;
}

bool isHighSurrogateUnit(wchar_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogateUnit(wchar_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

bool oneOf(const wchar_t* name, std::initializer_list<const wchar_t*> names) {
    for (const wchar_t* candidate : names) {
        if (equalsIgnoringAsciiCase(name, candidate))
            return true;
    }
    return false;
}

}  // namespace

void composeLogLine(LogKind kind, const wchar_t* text, BoundedText& line) {
    line.clear();
    if (kind == LogKind::Info)
        formatText(line, L"**** ZAL_INFO -- %s", {text});
    else if (kind == LogKind::Error)
        formatText(line, L"**** ZAL_ERROR -- %s", {text});
}

void appendModuleSuffixTo(BoundedText& name) {
    name.append(L'.');
    name.append(kModuleId);
}

bool equalsIgnoringAsciiCase(const wchar_t* a, const wchar_t* b) {
    if (a == nullptr || b == nullptr)
        return a == b;
    for (; *a != L'\0' && *b != L'\0'; ++a, ++b) {
        if (foldAscii(*a) != foldAscii(*b))
            return false;
    }
    return *a == *b;
}

bool isDotEntry(const wchar_t* name) {
    return name != nullptr && name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

bool isProtectedFileName(const wchar_t* name) {
    return oneOf(name, {L"admin4.txt", L"user1.txt"});
}

bool isKeptInstallFolder(const wchar_t* name) {
    return oneOf(name, {L"data", L"database", L"tempdata", L"log", L"classfix", L"VeDiZade"});
}

bool isProductFolder(const wchar_t* name) {
    return oneOf(name, {L"bin", L"classes", L"jni", L"jre", L"lib", L"proddata"});
}

void directoryTargetNames(const wchar_t* defaultDir, TextSpan& shortName, TextSpan& longName) {
    // The target part ends at the colon that starts the source names.
    std::size_t end = 0;
    std::size_t bar = 0;
    bool hasBar = false;
    for (; defaultDir != nullptr && defaultDir[end] != L'\0' && defaultDir[end] != L':'; ++end) {
        if (defaultDir[end] == L'|' && !hasBar) {
            bar = end;
            hasBar = true;
        }
    }
    if (end == 0 || (end == 1 && defaultDir[0] == L'.')) {
        shortName = longName = TextSpan{L"", 0};
        return;
    }
    shortName = TextSpan{defaultDir, hasBar ? bar : end};
    longName = hasBar ? TextSpan{defaultDir + bar + 1, end - bar - 1} : shortName;
}

namespace {

bool isSeparator(wchar_t unit) {
    return unit == L'\\' || unit == L'/';
}
bool isLetter(wchar_t unit) {
    return (unit >= L'A' && unit <= L'Z') || (unit >= L'a' && unit <= L'z');
}
// Whether text starts with prefix, ASCII letters in any case; `at` moves past it when it does.
bool skipPrefix(const wchar_t*& at, const wchar_t* prefix) {
    const wchar_t* p = at;
    for (; *prefix != L'\0'; ++p, ++prefix) {
        if (foldAscii(*p) != foldAscii(*prefix) && !(isSeparator(*p) && isSeparator(*prefix)))
            return false;
    }
    at = p;
    return true;
}
// Whether only a separator, or nothing, is left.
bool atEnd(const wchar_t* at) {
    return *at == L'\0' || (isSeparator(*at) && at[1] == L'\0');
}
// Skips one path component (at least one unit); false when there is none.
bool skipComponent(const wchar_t*& at) {
    const wchar_t* start = at;
    while (*at != L'\0' && !isSeparator(*at))
        ++at;
    return at != start;
}

}  // namespace

RootKind rootKind(const wchar_t* path) {
    if (path == nullptr)
        return RootKind::None;
    const wchar_t* at = path;
    bool share = false;
    if (skipPrefix(at, L"\\\\?\\") || skipPrefix(at, L"\\\\.\\")) {
        if (skipPrefix(at, L"Volume{")) {
            while (*at != L'\0' && *at != L'}' && !isSeparator(*at))
                ++at;
            return *at == L'}' && atEnd(at + 1) ? RootKind::Drive : RootKind::None;
        }
        share = skipPrefix(at, L"UNC\\");
    } else {
        share = skipPrefix(at, L"\\\\");
    }
    if (!share)
        return isLetter(at[0]) && at[1] == L':' && atEnd(at + 2) ? RootKind::Drive : RootKind::None;
    // The server, then at most the share.
    if (!skipComponent(at))
        return RootKind::None;
    if (atEnd(at))
        return RootKind::Share;
    ++at;
    return skipComponent(at) && atEnd(at) ? RootKind::Share : RootKind::None;
}

std::size_t parentFolderLength(const wchar_t* path) {
    std::size_t length = textLength(path);
    if (length > 0 && isSeparator(path[length - 1]))
        --length;
    while (length > 0 && !isSeparator(path[length - 1]))
        --length;
    return length;
}

bool asksToDeleteData(const wchar_t* value) {
    return value != nullptr && value[0] == L'y';
}

const wchar_t* versionWithoutHash(const wchar_t* text) {
    if (text == nullptr)
        return L"";
    return text[0] == L'#' ? text + 1 : text;
}

bool isProductLoggingPolicy(const wchar_t* value) {
    return equalsIgnoringAsciiCase(value, kProductLoggingPolicy);
}

namespace {
wchar_t* findPlaceholderSuffix(wchar_t* name) {
    const std::size_t suffixLength = textLength(kPlaceholderSuffix);
    for (wchar_t* p = name; p != nullptr && *p != L'\0'; ++p) {
        std::size_t i = 0;
        while (i < suffixLength && p[i] == kPlaceholderSuffix[i])
            ++i;
        if (i == suffixLength)
            return p;
    }
    return nullptr;
}
}  // namespace

bool isPlaceholderName(const wchar_t* name) {
    return findPlaceholderSuffix(const_cast<wchar_t*>(name)) != nullptr;
}

void cutAtPlaceholderSuffix(wchar_t* name) {
    wchar_t* suffix = findPlaceholderSuffix(name);
    if (suffix != nullptr)
        *suffix = L'\0';
}

bool isMissingSectionMarker(const wchar_t* text) {
    return equalsIgnoringAsciiCase(text, kMissingSectionMarker);
}

int leadingMessageNumber(const wchar_t* text) {
    int number = 0;
    for (int i = 0; text != nullptr && i < 9 && text[i] >= L'0' && text[i] <= L'9'; ++i)
        number = number * 10 + (text[i] - L'0');
    return number;
}

const wchar_t* optionLine(int installed, int requested) {
    if (installed == kStateLocal)
        return requested == kStateAbsent ? L"%s was selected to be removed." : L"%s is already installed.";
    return requested == kStateLocal ? L"%s was selected to be installed." : nullptr;
}

bool ensureTrailingBackslash(BoundedText& path) {
    if (path.endsWith(L'\\'))
        return true;
    return path.appendWhole(L"\\", 1);
}

void appendCutRead(BoundedText& out, const wchar_t* text, std::size_t keep) {
    const std::size_t length = textLength(text);
    if (length <= keep) {
        out.append(text, length);
        return;
    }
    if (keep > 0 && isHighSurrogateUnit(text[keep - 1]) && isLowSurrogateUnit(text[keep]))
        --keep;
    out.append(text, keep);
    out.append(kCutMark);
}

bool TextTokens::next(const wchar_t*& token, std::size_t& length) {
    while (at_ != end_ && isSeparator_(*at_))
        ++at_;
    if (at_ == end_)
        return false;
    token = at_;
    while (at_ != end_ && !isSeparator_(*at_))
        ++at_;
    length = static_cast<std::size_t>(at_ - token);
    return true;
}

}  // namespace kvo::installer
