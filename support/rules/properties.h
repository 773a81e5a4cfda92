// Table of wide-character keys and values in the classic properties syntax: filled from a file or
// a memory buffer, looked up by key (falling back to a chain of default tables), written back out
// and listed for people. Platform-free.
//
// Text is UTF-16: one wchar_t per 16-bit unit (wchar_t is wider on some hosts; only its low 16 bits
// are ever used).
#pragma once

#include <cstdio>

namespace kvo {

class prop_stream;

class Properties {
public:
    static constexpr int kChains = 256;

    // The chains are allocated with the first entry: constructing a table never fails.
    Properties();
    explicit Properties(Properties* defaults);  // defaults is not owned
    virtual ~Properties();

    Properties(const Properties&) = delete;
    Properties& operator=(const Properties&) = delete;

    // Parse an open stream (opened in text mode by the caller) or size bytes of memory.
    // Each byte is one unit (ISO 8859-1); other characters come as \u escapes. Returns 1; 0 when
    // memory ran out, which ends the parse (the entries stored until then stay).
    int load(FILE* stream);
    int load(const char* buffer, int size);

    // Value of key here, else in the defaults chain; null if no table has it. The result points into
    // the table and stays valid until that entry is replaced or removed.
    const wchar_t* getProperty(const wchar_t* key) const;

    // Stores copies of key and value (null value: ""); false when memory runs out (nothing changes).
    bool setProperty(const wchar_t* key, const wchar_t* value);
    // Stores key and value, heap strings from kvo::heap (heapArray<wchar_t>), taking ownership of
    // both. False, with both freed and the table unchanged, when either is null or memory runs out.
    bool put(wchar_t* key, wchar_t* value);
    // Removes key from this table only.
    void remove(const wchar_t* key);
    // Removes every entry of this table.
    void clear();

    // New array of size()+1 pointers to this table's own keys in chain order, ended by null, or null
    // when memory runs out. The caller frees the array (heapRelease), not the keys.
    const wchar_t** propertyNames() const;

    // Writes "#header" (if given) and one key=value line per entry. Always returns 1; a buffer
    // keeps what fits in size bytes.
    int save(FILE* stream, const wchar_t* header) const;
    int save(char* buffer, int size, const wchar_t* header) const;

    // Listing for people: a header line, then key=value with values longer than 40 units cut.
    void list(FILE* stream) const;
    // The same listing into a wide buffer of size units; returns the length the listing needs.
    int list(wchar_t* buffer, int size) const;

    int size() const { return count; }

    // Chain index of a key (exposed for tests and for the listing order).
    static int chainOf(const wchar_t* key);

    // A heap copy of text (heapArray<wchar_t>) for put, or null when memory runs out.
    static wchar_t* heapCopy(const wchar_t* text);

private:
    struct Entry {
        wchar_t* key;
        wchar_t* value;
        Entry* next;
    };

    int parse(prop_stream& in);
    int write(prop_stream& out, const wchar_t* header) const;
    Entry* find(const wchar_t* key) const;
    Entry* chain(int index) const { return buckets != nullptr ? buckets[index] : nullptr; }

    Entry** buckets;  // null until the first entry
    Properties* defaults;
    int count;
};

}  // namespace kvo
