// The natives of com.orvane.kvo.libs.UNCFile: queries and operations on the path held by the Java
// object's field `path`, local or \\server\share\... . Failures are results (false, 0, null); a
// path that is missing, null or not convertible to the ANSI code page without loss is "absent". A
// listing holds only names that name their entries exactly.
#include <windows.h>

#include <cstdint>
#include <cwchar>

#include "com_orvane_kvo_libs_UNCFile.h"
#include "exact_code_page.h"
#include "jni_support.h"
#include "name_list.h"
#include "native_values.h"
#include "os_calls.h"
#include "path_rules.h"

namespace kvo::fsnative {

namespace {

// The string in the object's field `path`, as a new local reference; null when the field is missing
// (its error pending) or holds null.
jstring pathStringOf(JNIEnv* env, jobject obj) {
    const jclass cls = env->GetObjectClass(obj);
    const jfieldID id = env->GetFieldID(cls, "path", "Ljava/lang/String;");
    env->DeleteLocalRef(cls);
    if (id == nullptr)
        return nullptr;
    return static_cast<jstring>(env->GetObjectField(obj, id));
}

// The object's path in the ANSI code page; null when absent.
HeapArray<char> pathOf(JNIEnv* env, jobject obj) {
    const jstring path = pathStringOf(env, obj);
    if (path == nullptr)
        return HeapArray<char>();
    HeapArray<char> local = ansiPath(env, path);
    env->DeleteLocalRef(path);
    return local;
}

DWORD attributesOf(JNIEnv* env, jobject obj) {
    const QuietErrorMode quiet;
    const HeapArray<char> path = pathOf(env, obj);
    return path ? GetFileAttributesA(path.get()) : INVALID_FILE_ATTRIBUTES;
}

// The first directory entry that matches the object's path, or false.
bool findEntry(JNIEnv* env, jobject obj, WIN32_FIND_DATAA* entry) {
    const QuietErrorMode quiet;
    const HeapArray<char> path = pathOf(env, obj);
    if (!path)
        return false;
    const UniqueFind find(FindFirstFileA(path.get(), entry));
    return find.valid();
}

jboolean result(BOOL called) {
    return called ? JNI_TRUE : JNI_FALSE;
}

// A check of the object's path by its UTF-16 units; false when absent.
jboolean checkPath(JNIEnv* env, jobject obj, bool (*rule)(const std::uint16_t*, std::size_t)) {
    const QuietErrorMode quiet;
    const jstring path = pathStringOf(env, obj);
    if (path == nullptr)
        return JNI_FALSE;
    bool answer = false;
    {
        const StringChars chars(env, path);
        if (chars.get() != nullptr)
            answer = rule(chars.get(), static_cast<std::size_t>(chars.length()));
    }
    env->DeleteLocalRef(path);
    return answer ? JNI_TRUE : JNI_FALSE;
}

// Room for an entry's name in the ANSI code page: four bytes a unit at most, and the terminator.
constexpr int kNameBytes = 4 * MAX_PATH + 1;

// An entry's name (at most MAX_PATH units) in the ANSI code page into out, when it is exact (as
// ansiText, without heap memory): false when the name has no exact local form.
bool exactName(const wchar_t* name, char (&out)[kNameBytes]) {
    const int count = static_cast<int>(std::wcslen(name));
    wchar_t back[MAX_PATH];
    if (count == 0 || count > MAX_PATH)
        return false;
    const int n = kvo::exactBytesInto({os.WideCharToMultiByte, os.MultiByteToWideChar}, os.GetACP(), name,
                                      count, out, kNameBytes - 1, back);
    out[n] = 0;
    return n != 0;
}

// The name a listing gives an entry: its long name where that has an exact local form, else its short
// name where it has one with an exact local form (it names the same entry), else none (false), traced.
bool listedName(const WIN32_FIND_DATAW& entry, char (&name)[kNameBytes]) {
    if (exactName(entry.cFileName, name) || exactName(entry.cAlternateFileName, name))
        return true;
    traceLine("list0_unc: entry \"%ls\" left out: no exact name in code page %u", entry.cFileName,
              os.GetACP());
    return false;
}

bool isDotOrDotDot(const wchar_t* name) {
    return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0;
}

// The names of a directory ("." and ".." left out) in the order the file system gives them, each one
// that names its entry exactly in the ANSI code page (listedName); false when the path is absent or
// empty, is no directory that can be listed, the search fails before its end, or memory is short.
// The entries come from the wide calls: the "A" calls fill names by best fit, and a look-alike or a
// "?" would name another file, or several.
bool collectNames(JNIEnv* env, jobject obj, NameList& names) {
    const jstring path = pathStringOf(env, obj);
    if (path == nullptr)
        return false;
    // A path without an exact local form is absent here as for every native.
    HeapArray<std::uint16_t> pattern;
    {
        const StringChars chars(env, path);
        if (chars.get() != nullptr && ansiPath(env, path))
            pattern = listPattern(chars.get(), static_cast<std::size_t>(chars.length()));
    }
    env->DeleteLocalRef(path);
    if (!pattern)
        return false;
    WIN32_FIND_DATAW entry;
    const UniqueFind find(os.FindFirstFileW(reinterpret_cast<const wchar_t*>(pattern.get()), &entry));
    if (!find.valid())
        return false;
    do {
        if (isDotOrDotDot(entry.cFileName))
            continue;
        char name[kNameBytes];
        if (listedName(entry, name) && !names.add(name))
            return false;
    } while (os.FindNextFileW(find.get(), &entry));
    // Only the end of the entries ends a listing: one cut short by an error is no listing.
    return GetLastError() == ERROR_NO_MORE_FILES;
}

}  // namespace

}  // namespace kvo::fsnative

using namespace kvo::fsnative;
using kvo::HeapArray;

JNIEXPORT jboolean JNICALL Java_com_orvane_kvo_libs_UNCFile_exists0_1unc(JNIEnv* env, jobject obj) {
    return result(attributesOf(env, obj) != INVALID_FILE_ATTRIBUTES);
}

JNIEXPORT jboolean JNICALL Java_com_orvane_kvo_libs_UNCFile_canRead0_1unc(JNIEnv* env, jobject obj) {
    return result(attributesOf(env, obj) != INVALID_FILE_ATTRIBUTES);
}

JNIEXPORT jboolean JNICALL Java_com_orvane_kvo_libs_UNCFile_canWrite0_1unc(JNIEnv* env, jobject obj) {
    const DWORD attributes = attributesOf(env, obj);
    return result(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) == 0);
}

JNIEXPORT jboolean JNICALL Java_com_orvane_kvo_libs_UNCFile_isFile0_1unc(JNIEnv* env, jobject obj) {
    const DWORD attributes = attributesOf(env, obj);
    return result(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0);
}

JNIEXPORT jboolean JNICALL Java_com_orvane_kvo_libs_UNCFile_isDirectory0_1unc(JNIEnv* env, jobject obj) {
    const DWORD attributes = attributesOf(env, obj);
    return result(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
}

JNIEXPORT jlong JNICALL Java_com_orvane_kvo_libs_UNCFile_lastModified0_1unc(JNIEnv* env, jobject obj) {
    WIN32_FIND_DATAA entry;
    if (!findEntry(env, obj, &entry))
        return 0;
    return static_cast<jlong>(joinHalves(static_cast<std::int32_t>(entry.ftLastWriteTime.dwLowDateTime),
                                         static_cast<std::int32_t>(entry.ftLastWriteTime.dwHighDateTime)));
}

JNIEXPORT jlong JNICALL Java_com_orvane_kvo_libs_UNCFile_length0_1unc(JNIEnv* env, jobject obj) {
    WIN32_FIND_DATAA entry;
    if (!findEntry(env, obj, &entry))
        return 0;
    return static_cast<jlong>(joinHalves(static_cast<std::int32_t>(entry.nFileSizeLow),
                                         static_cast<std::int32_t>(entry.nFileSizeHigh)));
}

JNIEXPORT jboolean JNICALL Java_com_orvane_kvo_libs_UNCFile_mkdir0_1unc(JNIEnv* env, jobject obj) {
    const QuietErrorMode quiet;
    const HeapArray<char> path = pathOf(env, obj);
    return result(path && CreateDirectoryA(path.get(), nullptr));
}

JNIEXPORT jboolean JNICALL Java_com_orvane_kvo_libs_UNCFile_renameTo0_1unc(JNIEnv* env, jobject obj,
                                                                           jobject dest) {
    const QuietErrorMode quiet;
    if (dest == nullptr)
        return JNI_FALSE;
    const HeapArray<char> source = pathOf(env, obj);
    if (!source || env->ExceptionCheck())
        return JNI_FALSE;
    const HeapArray<char> target = pathOf(env, dest);
    return result(target && MoveFileExA(source.get(), target.get(), 0));
}

JNIEXPORT jboolean JNICALL Java_com_orvane_kvo_libs_UNCFile_delete0_1unc(JNIEnv* env, jobject obj) {
    const QuietErrorMode quiet;
    const HeapArray<char> path = pathOf(env, obj);
    return result(path && DeleteFileA(path.get()));
}

JNIEXPORT jboolean JNICALL Java_com_orvane_kvo_libs_UNCFile_rmdir0_1unc(JNIEnv* env, jobject obj) {
    const QuietErrorMode quiet;
    const HeapArray<char> path = pathOf(env, obj);
    return result(path && RemoveDirectoryA(path.get()));
}

JNIEXPORT jobjectArray JNICALL Java_com_orvane_kvo_libs_UNCFile_list0_1unc(JNIEnv* env, jobject obj) {
    const QuietErrorMode quiet;
    NameList names;
    if (!collectNames(env, obj, names) || env->ExceptionCheck())
        return nullptr;
    const jsize count = static_cast<jsize>(names.size());
    return stringArray(env, count, [&](jsize i) { return names[static_cast<std::size_t>(i)]; });
}

JNIEXPORT jstring JNICALL Java_com_orvane_kvo_libs_UNCFile_canonPath_1unc(JNIEnv*, jobject, jstring p) {
    return p;
}

JNIEXPORT jboolean JNICALL Java_com_orvane_kvo_libs_UNCFile_isUNC(JNIEnv* env, jobject obj) {
    return checkPath(env, obj, isUncPath);
}

JNIEXPORT jboolean JNICALL Java_com_orvane_kvo_libs_UNCFile_isAbsolute(JNIEnv* env, jobject obj) {
    return checkPath(env, obj, isAbsolutePath);
}
