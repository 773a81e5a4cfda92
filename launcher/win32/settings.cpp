// Launcher settings: the product's registry key and the directory layout derived from it, and the
// number and yes/no lookups in the launcher properties.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <initializer_list>

#include "bounded_path.h"
#include "local_code_page.h"
#include "os_calls.h"
#include "property_values.h"
#include "settings.h"
#include "state.h"
#include "trace_log.h"
#include "variant.h"

namespace kvo::launcher {

namespace {

// Reads a string value into a 260-byte buffer. The buffer is empty unless the whole value fits it with
// a terminator and names the directory exactly in the local code page: a value stored without its
// terminator that fills the buffer is one character too long and would be read cut, as the parent of
// the directory meant or a file name short of its end, and a best-fit form of a name the code page
// cannot hold names another directory ("C:\\Ωmega\\" would be "C:\\Omega\\" under 1252).
void readDirectory(HKEY key, const wchar_t* name, char* buffer) {
    buffer[0] = 0;
    wchar_t value[kPathBufferSize];
    DWORD type = REG_NONE;
    DWORD size = sizeof(value);
    if (os.RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return;
    const int count = static_cast<int>(wcsnlen(value, size / sizeof(wchar_t)));
    if (count == 0 || count > kMaxPathLength)
        return;
    if (!localPathInto(value, count, buffer))
        std::fprintf(stderr, "LoadSettings: registry value \"%ls\" has no exact local form; rc = X'%lX'\n",
                     name, GetLastError());
}

// A flag changes only when its value is read successfully: 1 when non-zero.
void readFlag(HKEY key, const wchar_t* name, int* flag) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (os.RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) ==
        ERROR_SUCCESS)
        *flag = value != 0 ? 1 : 0;
}

}  // namespace

void LoadSettings() {
    char* const directories[] = {rootDirectory,     binDirectory,      dataDirectory,
                                 databaseDirectory, jniDirectory,      jreDirectory,
                                 logDirectory,      proddataDirectory, tempdataDirectory};
    for (char* directory : directories)
        directory[0] = 0;
    logOutputFlag = noClassGCFlag = jitFlag = smpOkFlag = 0;

    HKEY key = nullptr;
    LONG rc = os.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &key);
    if (rc != ERROR_SUCCESS) {
        std::fprintf(stderr, "LoadSettings: unable to open registry key \"%s\"; rc = X'%lX'\n", kSettingsKey,
                     static_cast<unsigned long>(rc));
    } else {
        readDirectory(key, L"Root", rootDirectory);
        readDirectory(key, L"Data", dataDirectory);
        readDirectory(key, L"JreDir", jreDirectory);
        readDirectory(key, L"LogDir", logDirectory);
        if (currentVariant().readsLogOutput)
            readFlag(key, L"LogOutput", &logOutputFlag);
        readFlag(key, L"NoClassGC", &noClassGCFlag);
        readFlag(key, L"JIT", &jitFlag);
        readFlag(key, L"SMP_OK", &smpOkFlag);
        rc = os.RegCloseKey(key);
        if (rc != ERROR_SUCCESS)
            std::fprintf(stderr, "LoadSettings: unable to close registry key \"%s\"; rc = X'%lX'\n",
                         kSettingsKey, static_cast<unsigned long>(rc));
    }

    // File names are appended to these directly: make sure a stored directory ends with a backslash.
    for (char* directory : {rootDirectory, dataDirectory, jreDirectory, logDirectory})
        ensureTrailingBackslash(directory, isLocalLeadByte);

    if (rootDirectory[0] == 0) {
        // A path that does not fit is cut to the buffer (and on older systems left unterminated), and
        // its size returned: the root would be a parent of the real one, never used; and the program's
        // folder is the root only in its exact local form. The root stays empty otherwise, and the
        // launcher goes no further.
        wchar_t programPath[kPathBufferSize] = {};
        char localProgramPath[kPathBufferSize];
        const DWORD length = os.GetModuleFileNameW(nullptr, programPath, kPathBufferSize);
        if (length == 0 || length >= static_cast<DWORD>(kPathBufferSize))
            std::fprintf(
                stderr, "LoadSettings: unable to get program file name; rc = X'%lX'\n",
                static_cast<unsigned long>(length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER));
        else if (!localPathInto(programPath, static_cast<int>(length), localProgramPath))
            std::fprintf(stderr, "LoadSettings: program file name has no exact local form; rc = X'%lX'\n",
                         GetLastError());
        else
            rootFromProgramPath(rootDirectory, localProgramPath, isLocalLeadByte);
    }

    defaultDirectory(binDirectory, rootDirectory, "bin\\");
    defaultDirectory(dataDirectory, rootDirectory, "data\\");
    defaultDirectory(databaseDirectory, rootDirectory, "database\\");
    defaultDirectory(jreDirectory, rootDirectory, "jre\\");
    defaultDirectory(jniDirectory, rootDirectory, "jni\\");
    defaultDirectory(logDirectory, rootDirectory, "log\\");
    defaultDirectory(proddataDirectory, rootDirectory, "proddata\\");
    defaultDirectory(tempdataDirectory, rootDirectory, "tempdata\\");
}

unsigned long GetProperty(const wchar_t* key, unsigned long defaultValue) {
    KVO_TRACE(traceEntry, "GetProperty: key = \"%S\", default = %lu", key, defaultValue);
    unsigned long result = defaultValue;
    const wchar_t* value = launcherProperties.getProperty(key);
    if (value == nullptr) {
        KVO_TRACE(traceInfo, "GetProperty: key \"%S\" not found", key);
    } else {
        KVO_TRACE(traceInfo, "GetProperty: %S = \"%S\"", key, value);
        unsigned long number = 0;
        if (parseUnsigned32(value, &number))
            result = number;
        else
            KVO_TRACE(traceInfo, "GetProperty: unable to convert \"%S\"", value);
    }
    KVO_TRACE(traceExit, "GetProperty: return ( %lu )", result);
    return result;
}

int GetBooleanProperty(const wchar_t* key, int defaultValue) {
    KVO_TRACE(traceEntry, "GetBooleanProperty: key = \"%S\", default = %s", key,
              defaultValue ? "TRUE" : "FALSE");
    int result = defaultValue ? 1 : 0;
    const wchar_t* value = launcherProperties.getProperty(key);
    if (value == nullptr) {
        KVO_TRACE(traceInfo, "GetBooleanProperty: key \"%S\" not found", key);
    } else {
        KVO_TRACE(traceInfo, "GetBooleanProperty: %S = \"%S\"", key, value);
        if (parseBooleanText(value) == 1)
            result = 1;
    }
    KVO_TRACE(traceExit, "GetBooleanProperty: return ( %s )", result ? "TRUE" : "FALSE");
    return result;
}

}  // namespace kvo::launcher
