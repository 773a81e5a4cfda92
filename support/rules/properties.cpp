#include "properties.h"

#include <cstdint>
#include <cstring>
#include <cwchar>

#include "heap.h"
#include "prop_stream.h"

namespace kvo {

namespace {

constexpr int kListValueLimit = 40;
const char kListHeader[] = "-- listing properties --\n";
constexpr int kListHeaderLength = sizeof(kListHeader) - 1;

inline unsigned unitOf(wchar_t c) {
    return static_cast<unsigned>(c) & 0xFFFF;
}

size_t unitLength(const wchar_t* s) {
    size_t n = 0;
    while (s[n] != 0)
        ++n;
    return n;
}

bool sameKey(const wchar_t* a, const wchar_t* b) {
    for (; *a != 0 && *b != 0; ++a, ++b) {
        if (unitOf(*a) != unitOf(*b))
            return false;
    }
    return *a == 0 && *b == 0;
}

// A heap copy of the first length units of s, terminated; null when memory runs out.
wchar_t* copyOf(const wchar_t* s, size_t length) {
    wchar_t* copy = heapArray<wchar_t>(length + 1);
    if (copy != nullptr) {
        std::memcpy(copy, s, length * sizeof(wchar_t));
        copy[length] = 0;
    }
    return copy;
}

void freeEntry(void* entry, wchar_t* key, wchar_t* value) {
    heapRelease(key);
    heapRelease(value);
    heapRelease(entry);
}

int hexValue(int c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The parser's scratch buffer: starts at 80 units and doubles when full. Once memory has run out
// it takes nothing more, and the parse ends.
class Scratch {
public:
    static constexpr size_t kInitialUnits = 80;

    Scratch() : data_(heapArray<wchar_t>(kInitialUnits)), capacity_(data_ != nullptr ? kInitialUnits : 0) {}
    ~Scratch() { heapRelease(data_); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    bool failed() const { return failed_; }
    void clear() { length_ = 0; }
    void add(unsigned unit) {
        if (length_ == capacity_ && !grow())
            return;
        data_[length_++] = static_cast<wchar_t>(unit);
    }
    // A heap copy of the text; null (and failed) when memory runs out.
    wchar_t* copy() {
        wchar_t* text = failed_ ? nullptr : copyOf(data_ != nullptr ? data_ : L"", length_);
        failed_ = failed_ || text == nullptr;
        return text;
    }

private:
    bool grow() {
        const size_t capacity = capacity_ != 0 ? capacity_ * 2 : kInitialUnits;
        wchar_t* bigger = failed_ ? nullptr : heapArray<wchar_t>(capacity);
        if (bigger == nullptr) {
            failed_ = true;
            return false;
        }
        if (length_ != 0)
            std::memcpy(bigger, data_, length_ * sizeof(wchar_t));
        heapRelease(data_);
        data_ = bigger;
        capacity_ = capacity;
        return true;
    }

    wchar_t* data_;
    size_t capacity_;
    size_t length_ = 0;
    bool failed_ = false;
};

// Byte reader with one character of push-back.
class Reader {
public:
    explicit Reader(prop_stream& in) : in_(in) {}
    int next() {
        if (pushed_ != kNone) {
            const int c = pushed_;
            pushed_ = kNone;
            return c;
        }
        return in_.read();
    }
    void pushBack(int c) { pushed_ = c; }

private:
    static constexpr int kNone = -2;
    prop_stream& in_;
    int pushed_ = kNone;
};

bool isBlank(int c) {
    return c == ' ' || c == '\t';
}
bool isLineEnd(int c) {
    return c == '\n' || c == '\r';
}

void putText(prop_stream& out, const char* text) {
    for (; *text; ++text)
        out.write(static_cast<unsigned char>(*text));
}

}  // namespace

Properties::Properties() : Properties(nullptr) {}

Properties::Properties(Properties* defaultsArg) : buckets(nullptr), defaults(defaultsArg), count(0) {}

Properties::~Properties() {
    clear();
}

void Properties::clear() {
    for (int i = 0; i < kChains; ++i) {
        Entry* e = chain(i);
        while (e != nullptr) {
            Entry* next = e->next;
            freeEntry(e, e->key, e->value);
            e = next;
        }
    }
    heapRelease(buckets);
    buckets = nullptr;
    count = 0;
}

wchar_t* Properties::heapCopy(const wchar_t* text) {
    return text != nullptr ? copyOf(text, unitLength(text)) : nullptr;
}

int Properties::chainOf(const wchar_t* key) {
    int32_t h = -1;
    for (; *key != 0; ++key) {
        const uint32_t rotated = static_cast<uint32_t>(h >> 13) | (static_cast<uint32_t>(h) << 3);
        h = static_cast<int32_t>(rotated ^ (unitOf(*key) ^ 0x1Fu));
    }
    return h & 0xFF;
}

Properties::Entry* Properties::find(const wchar_t* key) const {
    for (Entry* e = chain(chainOf(key)); e != nullptr; e = e->next) {
        if (sameKey(e->key, key))
            return e;
    }
    return nullptr;
}

const wchar_t* Properties::getProperty(const wchar_t* key) const {
    if (key == nullptr)
        return nullptr;
    for (const Properties* table = this; table != nullptr; table = table->defaults) {
        if (const Entry* e = table->find(key))
            return e->value;
    }
    return nullptr;
}

bool Properties::setProperty(const wchar_t* key, const wchar_t* value) {
    if (key == nullptr)
        return false;
    return put(heapCopy(key), heapCopy(value != nullptr ? value : L""));
}

bool Properties::put(wchar_t* key, wchar_t* value) {
    if (key == nullptr || value == nullptr) {
        freeEntry(nullptr, key, value);
        return false;
    }
    if (buckets == nullptr) {
        buckets = heapArray<Entry*>(kChains);
        if (buckets == nullptr) {
            freeEntry(nullptr, key, value);
            return false;
        }
        for (int i = 0; i < kChains; ++i)
            buckets[i] = nullptr;
    }
    Entry** link = &buckets[chainOf(key)];
    for (; *link != nullptr; link = &(*link)->next) {
        if (sameKey((*link)->key, key)) {
            heapRelease((*link)->value);
            (*link)->value = value;
            heapRelease(key);
            return true;
        }
    }
    Entry* entry = heapNew<Entry>(Entry{key, value, nullptr});
    if (entry == nullptr) {
        freeEntry(nullptr, key, value);
        return false;
    }
    *link = entry;
    ++count;
    return true;
}

void Properties::remove(const wchar_t* key) {
    if (key == nullptr || buckets == nullptr)
        return;
    for (Entry** link = &buckets[chainOf(key)]; *link != nullptr; link = &(*link)->next) {
        Entry* e = *link;
        if (sameKey(e->key, key)) {
            *link = e->next;
            freeEntry(e, e->key, e->value);
            --count;
            return;
        }
    }
}

const wchar_t** Properties::propertyNames() const {
    const wchar_t** names = heapArray<const wchar_t*>(static_cast<size_t>(count) + 1);
    if (names == nullptr)
        return nullptr;
    int n = 0;
    for (int i = 0; i < kChains; ++i) {
        for (const Entry* e = chain(i); e != nullptr; e = e->next)
            names[n++] = e->key;
    }
    names[n] = nullptr;
    return names;
}

int Properties::load(FILE* stream) {
    if (stream == nullptr)
        return 1;
    file_prop_stream in(stream);
    return parse(in);
}

int Properties::load(const char* buffer, int size) {
    if (buffer == nullptr || size < 0)
        size = 0;
    // The stream only reads from the buffer.
    buf_prop_stream in(reinterpret_cast<unsigned char*>(const_cast<char*>(buffer)), size);
    return parse(in);
}

int Properties::parse(prop_stream& stream) {
    Reader in(stream);
    Scratch text;

    for (;;) {
        if (text.failed())
            return 0;
        // Between entries: blanks, empty lines and comment lines.
        int c = in.next();
        while (isBlank(c) || isLineEnd(c))
            c = in.next();
        if (c < 0)
            return 1;
        if (c == '#' || c == '!') {
            do {
                c = in.next();
            } while (c >= 0 && !isLineEnd(c));
            continue;
        }

        // Key: up to a separator, a blank or the end of the line.
        text.clear();
        while (c >= 0 && c != '=' && c != ':' && !isBlank(c) && !isLineEnd(c)) {
            text.add(static_cast<unsigned>(c));
            c = in.next();
        }
        wchar_t* key = text.copy();
        if (key == nullptr)
            return 0;

        // Separator: blanks, at most one '=' or ':', blanks.
        while (isBlank(c))
            c = in.next();
        if (c == '=' || c == ':')
            c = in.next();
        while (isBlank(c))
            c = in.next();

        // Value: up to an unescaped line end.
        text.clear();
        while (c >= 0 && !isLineEnd(c)) {
            if (c != '\\') {
                text.add(static_cast<unsigned>(c));
                c = in.next();
                continue;
            }
            c = in.next();
            switch (c) {
                case -1:  // a backslash as the last byte adds nothing
                    break;
                case 't':
                    text.add('\t');
                    c = in.next();
                    break;
                case 'n':
                    text.add('\n');
                    c = in.next();
                    break;
                case 'r':
                    text.add('\r');
                    c = in.next();
                    break;
                case 'u': {
                    do {
                        c = in.next();
                    } while (c == 'u');
                    unsigned unit = 0;
                    int digits = 0;
                    for (; digits < 4; ++digits) {
                        const int v = hexValue(c);
                        if (v < 0)
                            break;
                        unit = (unit << 4) | static_cast<unsigned>(v);
                        c = in.next();
                    }
                    // An escape cut short ends with the digits read so far; the character that cut it
                    // is kept and read as part of the value.
                    text.add(unit);
                    break;
                }
                case '\n':
                    do {
                        c = in.next();
                    } while (isBlank(c));
                    break;
                case '\r':
                    c = in.next();
                    if (c == '\n' || isBlank(c)) {
                        do {
                            c = in.next();
                        } while (isBlank(c));
                    }
                    break;
                default:
                    text.add(static_cast<unsigned>(c));
                    c = in.next();
                    break;
            }
        }
        if (!put(key, text.copy()))
            return 0;
        if (c < 0)
            return 1;
    }
}

int Properties::write(prop_stream& out, const wchar_t* header) const {
    static const char kHex[] = "0123456789ABCDEF";
    if (header != nullptr) {
        out.write('#');
        for (const wchar_t* p = header; *p != 0; ++p)
            out.write(static_cast<int>(unitOf(*p)));
        out.write('\n');
    }
    for (int i = 0; i < kChains; ++i) {
        for (const Entry* e = chain(i); e != nullptr; e = e->next) {
            for (const wchar_t* p = e->key; *p != 0; ++p)
                out.write(static_cast<int>(unitOf(*p)));
            out.write('=');
            // Leading spaces of a value are escaped: the reader skips blanks after the separator,
            // so written plainly they would be lost on the next load.
            bool leading = true;
            for (const wchar_t* p = e->value; *p != 0; ++p) {
                const unsigned u = unitOf(*p);
                if (u != ' ')
                    leading = false;
                if (leading) {
                    putText(out, "\\ ");
                    continue;
                }
                switch (u) {
                    case '\t':
                        putText(out, "\\t");
                        break;
                    case '\n':
                        putText(out, "\\n");
                        break;
                    case '\r':
                        putText(out, "\\r");
                        break;
                    case '\\':
                        putText(out, "\\\\");
                        break;
                    default:
                        if (u >= 0x20 && u <= 0x7E) {
                            out.write(static_cast<int>(u));
                        } else {
                            const char escape[] = {'\\',
                                                   'u',
                                                   kHex[(u >> 12) & 0xF],
                                                   kHex[(u >> 8) & 0xF],
                                                   kHex[(u >> 4) & 0xF],
                                                   kHex[u & 0xF],
                                                   '\0'};
                            putText(out, escape);
                        }
                        break;
                }
            }
            out.write('\n');
        }
    }
    return 1;
}

int Properties::save(FILE* stream, const wchar_t* header) const {
    if (stream == nullptr)
        return 1;
    file_prop_stream out(stream);
    return write(out, header);
}

int Properties::save(char* buffer, int size, const wchar_t* header) const {
    if (buffer == nullptr || size < 0)
        size = 0;
    buf_prop_stream out(reinterpret_cast<unsigned char*>(buffer), size);
    return write(out, header);
}

void Properties::list(FILE* stream) const {
    if (stream == nullptr)
        return;
    std::fputs(kListHeader, stream);
    for (int i = 0; i < kChains; ++i) {
        for (const Entry* e = chain(i); e != nullptr; e = e->next) {
            const size_t valueLength = unitLength(e->value);
            if (valueLength <= static_cast<size_t>(kListValueLimit)) {
                std::fprintf(stream, "%ls=%ls\n", e->key, e->value);
            } else {
                wchar_t head[kListValueLimit + 1];
                std::memcpy(head, e->value, kListValueLimit * sizeof(wchar_t));
                head[kListValueLimit] = 0;
                std::fprintf(stream, "%ls=%ls...\n", e->key, head);
            }
        }
    }
}

int Properties::list(wchar_t* buffer, int size) const {
    if (buffer == nullptr || size < 0)
        size = 0;
    // `length` is the running length the listing needs; `written` is where the next unit goes.
    int length = kListHeaderLength;
    int written = 0;
    if (kListHeaderLength < size) {
        for (int i = 0; i < kListHeaderLength; ++i)
            buffer[written++] = static_cast<wchar_t>(kListHeader[i]);
    }
    auto append = [&](const wchar_t* s, size_t n) {
        for (size_t i = 0; i < n; ++i)
            buffer[written++] = s[i];
    };
    for (int i = 0; i < kChains; ++i) {
        for (const Entry* e = chain(i); e != nullptr; e = e->next) {
            const int keyLength = static_cast<int>(unitLength(e->key));
            const int valueLength = static_cast<int>(unitLength(e->value));
            const bool cut = valueLength > kListValueLimit;
            const int lineLength = cut ? keyLength + 46 : keyLength + valueLength + 2;
            if (length + lineLength < size) {
                append(e->key, static_cast<size_t>(keyLength));
                append(L"=", 1);
                append(e->value, static_cast<size_t>(cut ? kListValueLimit : valueLength));
                if (cut)
                    append(L"...", 3);
                append(L"\n", 1);
            }
            length += lineLength;
        }
    }
    if (written < size)
        buffer[written] = 0;
    return length;
}

}  // namespace kvo
