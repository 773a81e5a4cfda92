// FixFileDatesCA: creation times raised to last-write times in a directory tree.
#include "file_dates.h"

#include "helpers.h"
#include "kta_ca.h"
#include "os_calls.h"
#include "owners.h"
#include "row_keys.h"

namespace kvo::installer {

namespace {

// The walker's log lines are composed in buffers of this size.
constexpr std::size_t kWalkerLineCapacity = 388;
constexpr int kIncompleteMessage = 25014;

void walkerInfo(MSIHANDLE session, const wchar_t* pattern, std::initializer_list<FormatArg> args) {
    logInfo<kWalkerLineCapacity>(session, pattern, args);
}
void walkerError(MSIHANDLE session, const wchar_t* pattern, std::initializer_list<FormatArg> args) {
    logError<kWalkerLineCapacity>(session, pattern, args);
}

// Exclusions are whole directory paths; file names compare without regard to case.
bool isExcluded(const wchar_t* directory, const FileDateParameters* exclusions) {
    for (std::size_t i = 0; exclusions != nullptr && i < exclusions->excludeCount(); ++i) {
        if (CompareStringOrdinal(directory, -1, exclusions->exclude(i), -1, TRUE) == CSTR_EQUAL)
            return true;
    }
    return false;
}

// One file whose creation time is earlier than its last-write time; the number of failures (0 or 1).
unsigned fixFileDate(MSIHANDLE session, const wchar_t* path, const WIN32_FIND_DATAW& entry) {
    walkerInfo(session, L"CreateTime < LastWriteTime for file \"%s\"", {path});
    if (isProtectedFileName(entry.cFileName)) {
        walkerInfo(session, L"Excluding file %s", {path});
        return 0;
    }
    // Attribute writing only: a read-only file is changed like any other.
    const HANDLE file =
        os.CreateFileW(path, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        walkerError(session, L"unable to open file \"%s\"; rc = %u", {path, GetLastError()});
        return 1;
    }
    unsigned errors = 0;
    if (!os.SetFileTime(file, &entry.ftLastWriteTime, nullptr, nullptr)) {
        walkerError(session, L"unable to set file time for file \"%s\"; rc = %u", {path, GetLastError()});
        errors = 1;
    }
    if (!os.CloseHandle(file))
        walkerInfo(session, L"unable to close handle for file \"%s\"; rc = %u", {path, GetLastError()});
    return errors;
}

}  // namespace

unsigned FixTreeFileDates(MSIHANDLE session, const wchar_t* directory, const FileDateParameters* exclusions) {
    if (isExcluded(directory, exclusions)) {
        walkerInfo(session, L"exclude directory \"%s\"", {directory});
        return 0;
    }
    TextBuffer<kPathCapacity> pattern;
    if (!joinWhole(pattern, {directory, L"*"})) {
        walkerError(session,
                    L"the directory \"%s\" is not searched: its search pattern is longer than %d characters",
                    {directory, kMaxPathLength});
        return 1;
    }
    WIN32_FIND_DATAW entry;
    UniqueFind search(os.FindFirstFileW(pattern.text(), &entry));
    if (!search.valid()) {
        walkerError(session, L"no files found for file name \"%s\", rc = %u", {pattern, GetLastError()});
        return 1;
    }
    unsigned errors = 0;
    do {
        if (isDotEntry(entry.cFileName))
            continue;
        const bool isDirectory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        TextBuffer<kPathCapacity> path;
        if (!joinWhole(path, {directory, entry.cFileName}) ||
            (isDirectory && !ensureTrailingBackslash(path))) {
            walkerError(session, L"\"%s\" in \"%s\" is left alone: its path is longer than %d characters",
                        {entry.cFileName, directory, kMaxPathLength});
            ++errors;
        } else if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            // A junction or symbolic link: what it shows lies elsewhere. The times the search reports
            // are the link's own, and opening it would reach and change its target.
            walkerInfo(session, L"link \"%s\" is left alone", {path});
        } else if (isDirectory) {
            errors += FixTreeFileDates(session, path.text(), exclusions);
        } else if (CompareFileTime(&entry.ftCreationTime, &entry.ftLastWriteTime) < 0) {
            errors += fixFileDate(session, path.text(), entry);
        }
    } while (os.FindNextFileW(search.get(), &entry));
    const DWORD ended = GetLastError();
    if (ended != ERROR_NO_MORE_FILES) {
        walkerError(session, L"unable to get next file; rc = %u", {ended});
        ++errors;
    }
    if (!search.close()) {
        const DWORD error = GetLastError();
        if (error != ERROR_NO_MORE_FILES)
            walkerInfo(session, L"unable to close search handle; rc = %u", {error});
    }
    return errors;
}

namespace {
constexpr wchar_t kFixFileDates[] = L"KTA_Core/FixFileDatesCA";
}  // namespace

UINT runFixFileDates(MSIHANDLE session) {
    LogEntryExit(session, 1, kFixFileDates);
    // The parameters are in the property named like the action, module-qualified.
    TextBuffer<kKeyCapacity> property(L"KTA_FixFileDatesCA");
    AppendModuleSuffix(property);
    HeapArray<wchar_t> text;
    DWORD length = 0;
    if (readProperty(session, property.text(), text, length) != ERROR_SUCCESS) {
        LogMessage(session, INSTALLMESSAGE_INFO, L"Could not obtain CustomAction data.");
        LogExitCode(session, kFixFileDates, -1);
        return ERROR_INSTALL_FAILURE;
    }
    logInfo(session, L"CustomAction data passed in is %s", {text.get()});

    FileDateParameters parameters;
    const bool listed = parameters.parse(text.get(), length - 1);
    if (parameters.searchStatus() == SearchDirectory::Missing) {
        LogMessage(session, INSTALLMESSAGE_ERROR, L"Could not retrieve search directory");
        reportErrorMessage(session, kIncompleteMessage);
        LogExitCode(session, kFixFileDates, -2);
        return ERROR_INSTALL_FAILURE;
    }
    unsigned errors = 0;
    if (parameters.searchStatus() == SearchDirectory::Found) {
        logInfo(session, L"Search Directory = \"%s\"", {parameters.searchDirectory()});
    } else {
        // Never cut: a cut path names another directory. The tree is not searched and counts as
        // one failure.
        logError(session, L"Search Directory \"%s\" does not fit in %d characters; it is not searched",
                 {TextSpan{parameters.firstToken(), parameters.firstTokenLength()}, kMaxPathLength});
        errors = 1;
    }
    logInfo(session, L"Number of exclude directories: %d.", {parameters.excludeCount()});
    if (!listed) {
        LogMessage(session, INSTALLMESSAGE_ERROR, L"Could not build the list of exclude directories.");
        LogExitCode(session, kFixFileDates, -1);
        return ERROR_INSTALL_FAILURE;
    }
    for (std::size_t i = 0; i < parameters.excludeCount(); ++i)
        logInfo(session, L"ExcludeDirectory[ %d ] = \"%s\"", {i, parameters.exclude(i)});

    if (parameters.searchStatus() == SearchDirectory::Found)
        errors += FixTreeFileDates(session, parameters.searchDirectory(),
                                   parameters.excludeCount() > 0 ? &parameters : nullptr);
    if (errors != 0)
        reportErrorMessage(session, kIncompleteMessage);
    LogEntryExit(session, 0, kFixFileDates);
    return ERROR_SUCCESS;
}

}  // namespace kvo::installer

extern "C" UINT __stdcall FixFileDatesCA(MSIHANDLE session) {
    return kvo::installer::runFixFileDates(session);
}
