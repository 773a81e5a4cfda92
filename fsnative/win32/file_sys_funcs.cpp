// The natives of com.orvane.kvo.libs.FileSysFuncs: copy and move, volumes, attributes, file times,
// the error mode, the native separator and a message loop for the calling thread. Failures are
// results (false, null, -1, 0); no native throws an exception of its own. A path is its exact form in
// the ANSI code page (ansiPath), or the native fails: it never acts on a file the path does not name.
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <lm.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdint>

#include "com_orvane_kvo_libs_FileSysFuncs.h"
#include "jni_support.h"
#include "kvoucd32.h"
#include "native_values.h"
#include "os_calls.h"
#include "path_rules.h"
#include "unique_handle.h"

namespace kvo::fsnative {

namespace {

constexpr jlong kFailedSize = -1;
constexpr int kLabelSize = 128;
constexpr int kLocalBackslash = 0x5C;
constexpr jint kSecondsAccessed = 0, kSecondsCreated = 1, kSecondsWritten = 2;

// Static int fields of the Java class, read once and kept for the life of the process. A failed load
// (a missing field, whose error stays pending) is tried again on the next call. Two threads loading
// at once store the same values.
template <std::size_t N>
class StaticIntCache {
public:
    explicit StaticIntCache(const char* const (&names)[N]) : names_(names) {}

    // The values, or false with the JVM's error pending.
    bool load(JNIEnv* env, jclass cls, std::int32_t (&values)[N]) {
        if (!loaded_.load(std::memory_order_acquire)) {
            for (std::size_t i = 0; i < N; ++i) {
                const jfieldID id = env->GetStaticFieldID(cls, names_[i], "I");
                if (id == nullptr)
                    return false;
                values_[i].store(env->GetStaticIntField(cls, id), std::memory_order_relaxed);
            }
            loaded_.store(true, std::memory_order_release);
        }
        for (std::size_t i = 0; i < N; ++i)
            values[i] = values_[i].load(std::memory_order_relaxed);
        return true;
    }

private:
    const char* const (&names_)[N];
    std::atomic<std::int32_t> values_[N] = {};
    std::atomic<bool> loaded_{false};
};

StaticIntCache<kAttributeCount> attributeCache(kAttributeFields);
StaticIntCache<kDriveTypeCount> driveTypeCache(kDriveTypeFields);

// The two int fields of a holder object, or false with the JVM's error pending.
bool holderFields(JNIEnv* env, jobject holder, const char* first, const char* second, jfieldID* firstId,
                  jfieldID* secondId) {
    const jclass cls = env->GetObjectClass(holder);
    *firstId = env->GetFieldID(cls, first, "I");
    *secondId = *firstId != nullptr ? env->GetFieldID(cls, second, "I") : nullptr;
    env->DeleteLocalRef(cls);
    return *secondId != nullptr;
}

bool readFileTime(JNIEnv* env, jobject holder, FILETIME* time) {
    jfieldID low, high;
    if (!holderFields(env, holder, "lowDateTime", "hiDateTime", &low, &high))
        return false;
    const std::uint64_t value = joinHalves(env->GetIntField(holder, low), env->GetIntField(holder, high));
    time->dwLowDateTime = static_cast<DWORD>(value);
    time->dwHighDateTime = static_cast<DWORD>(value >> 32);
    return true;
}

bool storeFileTime(JNIEnv* env, jobject holder, const FILETIME& time) {
    jfieldID low, high;
    if (!holderFields(env, holder, "lowDateTime", "hiDateTime", &low, &high))
        return false;
    const std::uint64_t value = joinHalves(static_cast<std::int32_t>(time.dwLowDateTime),
                                           static_cast<std::int32_t>(time.dwHighDateTime));
    env->SetIntField(holder, low, lowHalf(value));
    env->SetIntField(holder, high, highHalf(value));
    return true;
}

bool readDosDateTime(JNIEnv* env, jobject holder, WORD* date, WORD* time) {
    jfieldID dateId, timeId;
    if (!holderFields(env, holder, "date", "time", &dateId, &timeId))
        return false;
    *date = dosWord(env->GetIntField(holder, dateId));
    *time = dosWord(env->GetIntField(holder, timeId));
    return true;
}

bool storeDosDateTime(JNIEnv* env, jobject holder, WORD date, WORD time) {
    jfieldID dateId, timeId;
    if (!holderFields(env, holder, "date", "time", &dateId, &timeId))
        return false;
    env->SetIntField(holder, dateId, dosField(date));
    env->SetIntField(holder, timeId, dosField(time));
    return true;
}

// Sectors per cluster x bytes per sector x (total or free) clusters, or -1.
jlong volumeBytes(JNIEnv* env, jstring root, bool total) {
    const QuietErrorMode quiet;
    const HeapArray<char> path = localRoot(env, root);
    if (!path)
        return kFailedSize;
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    if (GetDiskFreeSpaceA(path.get(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters) !=
        1)
        return kFailedSize;
    const std::uint64_t clusterBytes = static_cast<std::uint64_t>(sectorsPerCluster) * bytesPerSector;
    return static_cast<jlong>(clusterBytes * (total ? totalClusters : freeClusters));
}

// A buffer the network functions allocated.
struct NetBufferTraits {
    using Value = LPBYTE;
    static LPBYTE none() { return nullptr; }
    static bool owns(LPBYTE buffer) { return buffer != nullptr; }
    static void close(LPBYTE buffer) { os.NetApiBufferFree(buffer); }
};

// The remote name of the connection whose local name, with a backslash, is root; null if none. The
// name is the one the system gives (UTF-16), not its local form: that is the C run-time library's
// narrowing, which reads a character as the wrong one under another ANSI code page or takes a
// look-alike of it. A name whose local form does not fit the remote-name buffer is skipped, as ever.
jstring shareName(JNIEnv* env, const char* root) {
    kvo::UniqueResource<NetBufferTraits> buffer;
    DWORD read = 0, total = 0, resume = 0;
    const NET_API_STATUS status =
        os.NetUseEnum(nullptr, 0, buffer.receive(), MAX_PREFERRED_LENGTH, &read, &total, &resume);
    if (status != NERR_Success || !buffer)
        return nullptr;
    const USE_INFO_0* entries = reinterpret_cast<const USE_INFO_0*>(buffer.get());
    for (DWORD i = 0; i < read; ++i) {
        if (!useNameMatchesRoot(entries[i].ui0_local, root))
            continue;
        char remote[kUseRemoteNameSize];
        if (narrowUseName(entries[i].ui0_remote, remote, sizeof(remote), 0))
            return javaString(env, entries[i].ui0_remote);
    }
    return nullptr;
}

std::int64_t statSeconds(const char* path, jint which) {
    if (which != kSecondsAccessed && which != kSecondsCreated && which != kSecondsWritten)
        return 0;
    const int fd = _open(path, _O_RDONLY);
    if (fd < 0)
        return 0;
    struct _stat64 status;
    const bool examined = _fstat64(fd, &status) == 0;
    _close(fd);
    if (!examined)
        return 0;
    const __time64_t seconds = which == kSecondsAccessed  ? status.st_atime
                               : which == kSecondsCreated ? status.st_ctime
                                                          : status.st_mtime;
    return static_cast<std::int64_t>(seconds);
}

}  // namespace

}  // namespace kvo::fsnative

using namespace kvo::fsnative;
using kvo::HeapArray;

JNIEXPORT jboolean JNICALL Java_com_orvane_kvo_libs_FileSysFuncs_NativeCopyFile(JNIEnv* env, jclass,
                                                                                jstring from, jstring to,
                                                                                jboolean overwrite) {
    const QuietErrorMode quiet;
    const HeapArray<char> source = ansiPath(env, from);
    const HeapArray<char> target = source ? ansiPath(env, to) : HeapArray<char>();
    if (!target)
        return JNI_FALSE;
    const BOOL failIfExists = overwrite ? FALSE : TRUE;
    return CopyFileA(source.get(), target.get(), failIfExists) == 1 ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_com_orvane_kvo_libs_FileSysFuncs_NativeMoveFile(JNIEnv* env, jclass,
                                                                                jstring from, jstring to,
                                                                                jboolean overwrite) {
    const QuietErrorMode quiet;
    const HeapArray<char> source = ansiPath(env, from);
    const HeapArray<char> target = source ? ansiPath(env, to) : HeapArray<char>();
    if (!target)
        return JNI_FALSE;
    const DWORD flags = MOVEFILE_COPY_ALLOWED | (overwrite ? MOVEFILE_REPLACE_EXISTING : 0);
    return MoveFileExA(source.get(), target.get(), flags) == 1 ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jobjectArray JNICALL Java_com_orvane_kvo_libs_FileSysFuncs_NativeGetVolumes(JNIEnv* env, jclass) {
    const QuietErrorMode quiet;
    // Asked for the size first; a drive that appears between the two calls asks for more room.
    constexpr int kAttempts = 4;
    HeapArray<char> block;
    DWORD length = 0;
    DWORD size = os.GetLogicalDriveStringsA(0, nullptr);
    for (int attempt = 0; size != 0 && attempt < kAttempts; ++attempt) {
        block = kvo::makeHeapArray<char>(size + 1);
        if (!block)
            return nullptr;
        length = os.GetLogicalDriveStringsA(size, block.get());
        if (length <= size)
            break;
        size = length;
        length = 0;
    }
    jsize count = 0;
    for (RootStrings roots(block.get(), length); roots.next() != nullptr;)
        ++count;
    RootStrings roots(block.get(), length);
    return stringArray(env, count, [&](jsize) { return roots.next(); });
}

JNIEXPORT jstring JNICALL Java_com_orvane_kvo_libs_FileSysFuncs_NativeGetVolumeName(JNIEnv* env, jclass,
                                                                                    jstring root) {
    const QuietErrorMode quiet;
    const HeapArray<wchar_t> path = wideRoot(env, root);
    if (!path)
        return nullptr;
    // The label as the volume holds it: the "A" call would give a best-fit look-alike of a label that
    // the local code page can't hold exactly.
    wchar_t label[kLabelSize];
    // The file-system name is not asked for: a long one would make the call fail and lose the label.
    if (GetVolumeInformationW(path.get(), label, kLabelSize, nullptr, nullptr, nullptr, nullptr, 0) != 1)
        return nullptr;
    return javaString(env, label);
}

JNIEXPORT jlong JNICALL Java_com_orvane_kvo_libs_FileSysFuncs_NativeGetVolumeSize(JNIEnv* env, jclass,
                                                                                  jstring root) {
    return volumeBytes(env, root, true);
}

JNIEXPORT jlong JNICALL Java_com_orvane_kvo_libs_FileSysFuncs_NativeGetVolumeFreeSpace(JNIEnv* env, jclass,
                                                                                       jstring root) {
    return volumeBytes(env, root, false);
}

JNIEXPORT jint JNICALL Java_com_orvane_kvo_libs_FileSysFuncs_NativeGetVolumeDriveType(JNIEnv* env, jclass cls,
                                                                                      jstring root) {
    std::int32_t types[kDriveTypeCount];
    if (!driveTypeCache.load(env, cls, types))
        return 0;
    const HeapArray<char> path = localRoot(env, root);
    if (!path)
        return 0;
    return javaDriveType(GetDriveTypeA(path.get()), types);
}

JNIEXPORT jstring JNICALL Java_com_orvane_kvo_libs_FileSysFuncs_NativeGetVolumeShareName(JNIEnv* env, jclass,
                                                                                         jstring root) {
    const QuietErrorMode quiet;
    const HeapArray<char> path = localRoot(env, root);
    if (!path)
        return nullptr;
    if (GetDriveTypeA(path.get()) != DRIVE_REMOTE)
        return nullptr;
    return shareName(env, path.get());
}

JNIEXPORT jint JNICALL Java_com_orvane_kvo_libs_FileSysFuncs_NativeDisableErrorHandling(JNIEnv*, jclass) {
    return static_cast<jint>(SetErrorMode(kQuietErrorMode));
}

JNIEXPORT jint JNICALL Java_com_orvane_kvo_libs_FileSysFuncs_NativeRestoreErrorHandling(JNIEnv*, jclass,
                                                                                        jint mode) {
    return static_cast<jint>(SetErrorMode(static_cast<UINT>(mode)));
}

JNIEXPORT void JNICALL Java_com_orvane_kvo_libs_FileSysFuncs_nativeEndThreadAndWindowProcess(JNIEnv* env,
                                                                                             jclass) {
    // From here on the thread is a plain Windows thread: env must not be used again.
    JavaVM* vm = nullptr;
    if (env->GetJavaVM(&vm) == JNI_OK && vm != nullptr)
        vm->DetachCurrentThread();
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
}

JNIEXPORT jboolean JNICALL Java_com_orvane_kvo_libs_FileSysFuncs_nativeSetFileAttributes(JNIEnv* env,
                                                                                         jclass cls,
                                                                                         jstring path,
                                                                                         jint attributes) {
    const QuietErrorMode quiet;
    std::int32_t values[kAttributeCount];
    if (!attributeCache.load(env, cls, values))
        return JNI_FALSE;
    const HeapArray<char> local = ansiPath(env, path);
    if (!local)
        return JNI_FALSE;
    return SetFileAttributesA(local.get(), systemAttributes(attributes, values)) == 1 ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jint JNICALL Java_com_orvane_kvo_libs_FileSysFuncs_nativeGetFileAttributes(JNIEnv* env, jclass cls,
                                                                                     jstring path) {
    const QuietErrorMode quiet;
    std::int32_t values[kAttributeCount];
    if (!attributeCache.load(env, cls, values))
        return -1;
    const HeapArray<char> local = ansiPath(env, path);
    if (!local)
        return -1;
    const DWORD bits = GetFileAttributesA(local.get());
    if (bits == INVALID_FILE_ATTRIBUTES)
        return -1;
    return javaAttributes(bits, values);
}

JNIEXPORT jboolean JNICALL Java_com_orvane_kvo_libs_FileSysFuncs_nativeGetFileTime(
    JNIEnv* env, jclass, jstring path, jobject creation, jobject lastAccess, jobject lastWrite) {
    const QuietErrorMode quiet;
    const HeapArray<char> local = ansiPath(env, path);
    if (!local)
        return JNI_FALSE;
    const kvo::UniqueHandle file(
        os.CreateFileA(local.get(), 0, 0, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file)
        return JNI_FALSE;
    FILETIME times[3];
    if (!os.GetFileTime(file.get(), &times[0], &times[1], &times[2]))
        return JNI_FALSE;
    const jobject holders[3] = {creation, lastAccess, lastWrite};
    for (int i = 0; i < 3; ++i) {
        if (holders[i] == nullptr)
            continue;
        FILETIME localTime;
        if (!FileTimeToLocalFileTime(&times[i], &localTime) || !storeFileTime(env, holders[i], localTime))
            return JNI_FALSE;
    }
    return JNI_TRUE;
}

JNIEXPORT jboolean JNICALL Java_com_orvane_kvo_libs_FileSysFuncs_nativeSetFileTime(
    JNIEnv* env, jclass, jstring path, jobject creation, jobject lastAccess, jobject lastWrite) {
    const QuietErrorMode quiet;
    const HeapArray<char> local = ansiPath(env, path);
    if (!local)
        return JNI_FALSE;
    const kvo::UniqueHandle file(os.CreateFileA(local.get(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file)
        return JNI_FALSE;
    // Each time in a call of its own, as given (no conversion from local time); the result is that
    // of the last call made.
    const jobject holders[3] = {creation, lastAccess, lastWrite};
    BOOL last = FALSE;
    for (int i = 0; i < 3; ++i) {
        if (holders[i] == nullptr)
            continue;
        FILETIME time;
        if (!readFileTime(env, holders[i], &time))
            return JNI_FALSE;
        last = os.SetFileTime(file.get(), i == 0 ? &time : nullptr, i == 1 ? &time : nullptr,
                              i == 2 ? &time : nullptr);
    }
    return last == 1 ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_com_orvane_kvo_libs_FileSysFuncs_nativeFileTimeToDosDateTime(
    JNIEnv* env, jclass, jobject fileTime, jobject dosDateTime) {
    if (fileTime == nullptr || dosDateTime == nullptr)
        return JNI_FALSE;
    FILETIME time;
    if (!readFileTime(env, fileTime, &time))
        return JNI_FALSE;
    WORD dosDate = 0, dosTime = 0;
    if (FileTimeToDosDateTime(&time, &dosDate, &dosTime) != 1)
        return JNI_FALSE;
    return storeDosDateTime(env, dosDateTime, dosDate, dosTime) ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT jboolean JNICALL Java_com_orvane_kvo_libs_FileSysFuncs_nativeDosDateTimeToFileTime(
    JNIEnv* env, jclass, jobject dosDateTime, jobject fileTime) {
    if (dosDateTime == nullptr || fileTime == nullptr)
        return JNI_FALSE;
    WORD dosDate = 0, dosTime = 0;
    if (!readDosDateTime(env, dosDateTime, &dosDate, &dosTime))
        return JNI_FALSE;
    FILETIME time;
    if (DosDateTimeToFileTime(dosDate, dosTime, &time) != 1)
        return JNI_FALSE;
    return storeFileTime(env, fileTime, time) ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT void JNICALL Java_com_orvane_kvo_libs_FileSysFuncs_initNativeSep(JNIEnv* env, jclass cls) {
    wchar_t separator = 0;
    NFConvertLocalCharToUnicode("\\", &separator, kLocalBackslash, nullptr);
    const jfieldID id = env->GetStaticFieldID(cls, "native_sep", "C");
    if (id != nullptr)
        env->SetStaticCharField(cls, id, static_cast<jchar>(separator));
}

JNIEXPORT jlong JNICALL Java_com_orvane_kvo_libs_FileSysFuncs_nativeGetFileTimeMillis(JNIEnv* env, jclass,
                                                                                      jstring path,
                                                                                      jint which) {
    const HeapArray<char> local = ansiPath(env, path);
    if (!local)
        return 0;
    return static_cast<jlong>(statSeconds(local.get(), which));
}
