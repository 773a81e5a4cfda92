// What the natives of nqfsfunc share: the error-mode discipline, owners of what they borrow from the
// JVM (string characters, array elements) and of find handles, the two ways a Java string becomes a
// local path, Java strings and string arrays from local text, and exceptions.
#pragma once

#include <windows.h>

#include <jni.h>

#include "heap.h"
#include "os_calls.h"
#include "quiet_error_mode.h"
#include "str.h"
#include "trace_log.h"
#include "unique_handle.h"

namespace kvo::fsnative {

// The library's module handle, recorded at process attach (null where its code is linked into a
// test program).
extern HMODULE libraryModule;

// Every native that touches the file system runs in the quiet error mode of its own thread: natives on
// two threads never leave each other's mode behind, and the process's mode stays the program's
// (NativeDisableErrorHandling and NativeRestoreErrorHandling set that one).
using kvo::kQuietErrorMode;
class QuietErrorMode : public kvo::QuietThreadErrorMode {
public:
    QuietErrorMode() : QuietThreadErrorMode(os.SetThreadErrorMode) {}
};

// The modified UTF-8 bytes of a Java string, released at the end of the scope. Null for a null
// string, or when the JVM cannot supply them (its error then pending).
class UtfChars {
public:
    UtfChars(JNIEnv* env, jstring string);
    ~UtfChars();
    UtfChars(const UtfChars&) = delete;
    UtfChars& operator=(const UtfChars&) = delete;
    const char* get() const { return chars_; }

private:
    JNIEnv* env_;
    jstring string_;
    const char* chars_;
};

// The UTF-16 units of a Java string, released at the end of the scope; as UtfChars.
class StringChars {
public:
    StringChars(JNIEnv* env, jstring string);
    ~StringChars();
    StringChars(const StringChars&) = delete;
    StringChars& operator=(const StringChars&) = delete;
    const jchar* get() const { return chars_; }
    jsize length() const { return length_; }

private:
    JNIEnv* env_;
    jstring string_;
    const jchar* chars_;
    jsize length_;
};

// The elements of a Java byte array, released at the end of the scope with `mode` (0 copies them
// back, JNI_ABORT does not). Null when the JVM cannot supply them (its error then pending).
class ByteElements {
public:
    ByteElements(JNIEnv* env, jbyteArray array, jint mode);
    ~ByteElements();
    ByteElements(const ByteElements&) = delete;
    ByteElements& operator=(const ByteElements&) = delete;
    jbyte* get() const { return elements_; }

private:
    JNIEnv* env_;
    jbyteArray array_;
    jbyte* elements_;
    jint mode_;
};

// The system's lead-byte test for the ANSI code page, in the form the path rules take.
bool isLeadByte(unsigned char byte);

// A volume root as local text ending with a backslash ("C:" -> "C:\\"), converted as ansiPath does.
// Null for a null string, a root of kRootBufferSize bytes or more in modified UTF-8, one without an
// exact local form, or on any failure.
HeapArray<char> localRoot(JNIEnv* env, jstring root);

// The same root as UTF-16 units ending with a backslash, for the wide calls; null as localRoot.
HeapArray<wchar_t> wideRoot(JNIEnv* env, jstring root);

// UTF-16 text in the ANSI code page, exactly: converted with the flags the code page takes and checked
// by converting it back (exact_code_page.h), so that it names what the units name and nothing else.
// Null when a character has no exact local form (a best-fit look-alike, a "?"), the text holds a NUL
// unit, or on any failure.
HeapArray<char> ansiText(const wchar_t* units, int count);

// A Java string as a path in the ANSI code page (ansiText of its UTF-16 units). Null ("no path") for a
// null string and wherever ansiText gives null: a path is never cut or altered into one that names
// another file.
HeapArray<char> ansiPath(JNIEnv* env, jstring string);

// Traces a line through the system's debug output (the library keeps no log of its own).
void traceLine(const char* format, ...) KVO_PRINTF_LIKE(1, 2);

// A new Java string from local text (through Str::localToUTF8); null on failure.
jstring javaString(JNIEnv* env, const char* local);

// A new Java string from UTF-16 text; null on failure.
jstring javaString(JNIEnv* env, const wchar_t* wide);

// A new String[] of count null elements; null on failure (the JVM's error pending).
jobjectArray newStringArray(JNIEnv* env, jsize count);

// Stores a Java string made from local text at index; false on failure.
bool setStringElement(JNIEnv* env, jobjectArray array, jsize index, const char* local);

// A new String[] of count elements, element i made from the local text elementAt(i) (asked for in
// order); null on any failure, with the array's local reference deleted.
template <class ElementAt>
jobjectArray stringArray(JNIEnv* env, jsize count, ElementAt elementAt) {
    const jobjectArray array = newStringArray(env, count);
    if (array == nullptr)
        return nullptr;
    for (jsize i = 0; i < count; ++i) {
        if (!setStringElement(env, array, i, elementAt(i))) {
            env->DeleteLocalRef(array);
            return nullptr;
        }
    }
    return array;
}

// Throws a new exception of class className with message, for the JVM to raise when the native
// returns (if the class cannot be found, the JVM's own error is pending instead).
void throwNew(JNIEnv* env, const char* className, const char* message);

}  // namespace kvo::fsnative
