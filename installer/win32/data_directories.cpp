// The data-directory actions: the question about persistent data, the removal of the data, tempdata,
// log and classfix trees and of empty folders in the installer's own removal steps, the seeding
// of the data directory from the product's defaults and its rollback.
#include "data_directories.h"

#include <cstring>

#include "helpers.h"
#include "kta_ca.h"
#include "os_calls.h"
#include "owners.h"
#include "shared_folders.h"

namespace kvo::installer {

RemovalCounters removalCounters;

namespace {

constexpr int kRemoveOnUninstall = 2;            // RemoveFile install mode: when the component is removed
constexpr int kRemoveOnInstallAndUninstall = 3;  // both when it is installed and when it is removed

// What tells the three walkers apart.
struct RemovalWalk {
    const wchar_t* routine;  // for log lines
    KeyCounter& counter;
    const wchar_t* prefix;  // null: the empty-folder keys
    const wchar_t* component;
    int installMode;
    bool removesFiles;
    bool removesLinks;  // a link met in the tree goes (the link, not its target); else it is left alone
};

// Attributes not known yet: the walker looks at the directory's own entry.
constexpr DWORD kUnknownAttributes = INVALID_FILE_ATTRIBUTES;

const wchar_t* entryName(const WIN32_FIND_DATAW& entry) {
    return entry.cAlternateFileName[0] != L'\0' ? entry.cAlternateFileName : entry.cFileName;
}

bool isDirectory(const WIN32_FIND_DATAW& entry) {
    return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// A junction, a symbolic link or any other reparse point: never walked into, since what it shows
// lies outside the tree (on Windows the installer would delete a link target's files through it).
bool isReparsePoint(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The attributes of the entry of path itself (a link's own, not its target's); INVALID_FILE_ATTRIBUTES
// when there is none.
DWORD entryAttributes(const wchar_t* path) {
    WIN32_FIND_DATAW entry;
    UniqueFind search(os.FindFirstFileW(path, &entry));
    return search.valid() ? entry.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

int scheduleRemoval(const RemovalWalk& walk, const wchar_t* name, const wchar_t* parentPath,
                    const wchar_t* parentDirKey, DWORD attributes, MSIHANDLE session) {
    TextBuffer<kPathCapacity> path;
    TextBuffer<kPathCapacity> pattern;
    if (!joinWhole(path, {parentPath, name, L"\\"}) || !joinWhole(pattern, {path.text(), L"*"})) {
        logError(session,
                 L"%s: the path %s%s\\* does not fit in %d characters; it is not scheduled for removal",
                 {walk.routine, parentPath, name, kMaxPathLength});
        return 0;
    }
    if (attributes == kUnknownAttributes) {
        path.truncate(path.length() - 1);  // the entry itself, without its backslash
        attributes = entryAttributes(path.text());
        path.append(L'\\');
    }
    const bool link = isReparsePoint(attributes);
    if (link && !walk.removesLinks) {
        logInfo(session, L"%s: %s%s is a link; it is left alone", {walk.routine, parentPath, name});
        return 1;
    }
    const unsigned number = walk.counter.take();
    RemovalKeys keys;
    if (walk.prefix != nullptr)
        treeRemovalKeys(walk.prefix, number, keys);
    else
        emptyRemovalKeys(number, keys);
    AddTempDirectoryRow(keys.directory.text(), parentDirKey, name, session);
    // An empty file name: the installer removes the folder itself once it is empty.
    AddTempRemoveFileRow(keys.folderRow.text(), walk.component, L"", keys.directory.text(), walk.installMode,
                         session);
    if (link) {
        // Removing a link removes the link itself. Its folder row is all it gets: a files row or the
        // rows of its folders would name what the link points to.
        logInfo(session, L"%s: %s%s is a link; only the link is removed, not what it points to",
                {walk.routine, parentPath, name});
        return 1;
    }

    WIN32_FIND_DATAW entry;
    UniqueFind search(os.FindFirstFileW(pattern.text(), &entry));
    if (!search.valid()) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return 1;
        logError(session, L"%s: unable to list %s; rc = X'%lX'", {walk.routine, pattern, error});
        return 0;
    }
    int result = 1;
    bool filesScheduled = false;
    do {
        if (isDotEntry(entry.cFileName))
            continue;
        if (isDirectory(entry)) {
            result = scheduleRemoval(walk, entryName(entry), path.text(), keys.directory.text(),
                                     entry.dwFileAttributes, session);
        } else if (walk.removesFiles && !filesScheduled) {
            // "*": the installer deletes every file of the folder.
            AddTempRemoveFileRow(keys.filesRow.text(), walk.component, L"*", keys.directory.text(),
                                 walk.installMode, session);
            filesScheduled = true;
        }
    } while (result == 1 && os.FindNextFileW(search.get(), &entry));
    return result;
}

// The installation directory of the product being run, from the installer's product information.
// Fails (logged, 1603 for the action) when it cannot be read or is empty.
bool readInstallLocation(MSIHANDLE session, const wchar_t* actionName, BoundedText& location) {
    TextBuffer<64> productCode;
    readPropertyInto(session, L"ProductCode", productCode);
    TextBuffer<kPathCapacity + 3> shown;
    UINT result = readInstallLocationShown(productCode.text(), location, shown);
    if (result == ERROR_SUCCESS && !location.empty() && !ensureTrailingBackslash(location))
        result = ERROR_MORE_DATA;
    if (result != ERROR_SUCCESS || location.empty()) {
        logError(session, L"Could not determine Install Directory, RC=%d, Install Directory=%s",
                 {result, shown});
        LogExitCode(session, actionName, -1);
        return false;
    }
    return true;
}

// Whether the product installs or makes the folder `entry` of its installation directory: one of
// its own folders, or one that the package's Directory table puts directly below INSTALLDIR.
bool isProductsFolder(MSIHANDLE database, const WIN32_FIND_DATAW& entry) {
    if (isProductFolder(entry.cFileName) || isProductFolder(entry.cAlternateFileName))
        return true;
    UniqueMsiHandle view;
    UniqueMsiHandle record;
    if (database == 0 ||
        openView(database, L"SELECT `DefaultDir` FROM `Directory` WHERE `Directory_Parent`='INSTALLDIR'",
                 view) != ERROR_SUCCESS)
        return false;
    while (os.MsiViewFetch(view.get(), record.receive()) == ERROR_SUCCESS) {
        TextBuffer<256> defaultDir;
        TextSpan shortName{};
        TextSpan longName{};
        if (readRecordTextInto(record.get(), 1, defaultDir) != ERROR_SUCCESS)
            continue;
        directoryTargetNames(defaultDir.text(), shortName, longName);
        for (const TextSpan& target : {shortName, longName}) {
            for (const wchar_t* name : {entry.cFileName, entry.cAlternateFileName}) {
                if (target.length > 0 &&
                    CompareStringOrdinal(name, -1, target.text, static_cast<int>(target.length), TRUE) ==
                        CSTR_EQUAL)
                    return true;
            }
        }
    }
    return false;
}

}  // namespace

int ScheduleTreeRemoval(const wchar_t* name, const wchar_t* parentPath, const wchar_t* parentDirKey,
                        const wchar_t* prefix, const wchar_t* component, MSIHANDLE session) {
    const RemovalWalk walk{
        L"ScheduleTreeRemoval", removalCounters.tree, prefix, component, kRemoveOnUninstall, true, true};
    return scheduleRemoval(walk, name, parentPath, parentDirKey, kUnknownAttributes, session);
}

int ScheduleClassfixRemoval(const wchar_t* name, const wchar_t* parentPath, const wchar_t* parentDirKey,
                            const wchar_t* prefix, MSIHANDLE session) {
    TextBuffer<kKeyCapacity> component;
    moduleComponent(component);
    const RemovalWalk walk{L"ScheduleClassfixRemoval",
                           removalCounters.classfix,
                           prefix,
                           component.text(),
                           kRemoveOnInstallAndUninstall,
                           true,
                           true};
    return scheduleRemoval(walk, name, parentPath, parentDirKey, kUnknownAttributes, session);
}

int ScheduleEmptyRemoval(const wchar_t* name, const wchar_t* parentPath, const wchar_t* parentDirKey,
                         MSIHANDLE session) {
    TextBuffer<kKeyCapacity> component;
    moduleComponent(component);
    // A link is no empty folder: removing it would not wait for it to be empty.
    const RemovalWalk walk{L"ScheduleEmptyRemoval",
                           removalCounters.empty,
                           nullptr,
                           component.text(),
                           kRemoveOnUninstall,
                           false,
                           false};
    return scheduleRemoval(walk, name, parentPath, parentDirKey, kUnknownAttributes, session);
}

int CopyProddata(MSIHANDLE session, const wchar_t* sourceDir, const wchar_t* destDir) {
    TextBuffer<kPathCapacity> pattern;
    if (!joinWhole(pattern, {sourceDir, L"*"})) {
        logError(session, L"Could not copy %s; the path is longer than %d characters.",
                 {sourceDir, kMaxPathLength});
        return -1;
    }
    WIN32_FIND_DATAW entry;
    UniqueFind search(os.FindFirstFileW(pattern.text(), &entry));
    if (!search.valid())
        return 0;
    int result = 0;
    do {
        if (isDotEntry(entry.cFileName))
            continue;
        const wchar_t* name = entry.cFileName;
        TextBuffer<kPathCapacity> source;
        TextBuffer<kPathCapacity> destination;
        if (isDirectory(entry)) {
            // The directory's own listing needs room for the "*" after its backslash.
            if (!joinWhole(source, {sourceDir, name, L"\\"}) || source.length() >= kPathCapacity - 1 ||
                !joinWhole(destination, {destDir, name, L"\\"})) {
                logError(session, L"Could not create %s%s directory; the path is longer than %d characters.",
                         {destDir, name, kMaxPathLength});
                result = -1;
            } else if (os.CreateDirectoryW(destination.text(), nullptr) ||
                       GetLastError() == ERROR_ALREADY_EXISTS) {
                result = CopyProddata(session, source.text(), destination.text());
            } else {
                logError(session, L"Could not create %s directory; return code=%d.",
                         {destination, static_cast<long>(GetLastError())});
                result = -1;
            }
        } else if (!joinWhole(source, {sourceDir, name}) || !joinWhole(destination, {destDir, name})) {
            logError(session, L"Could not copy %s%s to %s%s; the path is longer than %d characters.",
                     {sourceDir, name, destDir, name, kMaxPathLength});
            result = -2;
        } else if (os.CopyFileW(source.text(), destination.text(), TRUE)) {
            logInfo(session, L"Copied %s to %s.", {source, destination});
        } else if (GetLastError() == ERROR_FILE_EXISTS) {
            logInfo(session, L"Skipped copy of existing file: %s", {destination});
        } else {
            logError(session, L"Could not copy %s to %s.", {source, destination});
            result = -2;
        }
    } while (result == 0 && os.FindNextFileW(search.get(), &entry));
    return result;
}

namespace {
// Whether the two files hold the same bytes (false when either cannot be read).
bool sameContents(const wchar_t* one, const wchar_t* other) {
    UniqueHandle first(CreateFileW(one, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    UniqueHandle second(
        CreateFileW(other, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER firstSize{};
    LARGE_INTEGER secondSize{};
    if (!first || !second || !GetFileSizeEx(first.get(), &firstSize) ||
        !GetFileSizeEx(second.get(), &secondSize) || firstSize.QuadPart != secondSize.QuadPart)
        return false;
    char firstBytes[4096];
    char secondBytes[4096];
    for (LONGLONG left = firstSize.QuadPart; left > 0;) {
        DWORD firstRead = 0;
        DWORD secondRead = 0;
        if (!ReadFile(first.get(), firstBytes, sizeof firstBytes, &firstRead, nullptr) ||
            !ReadFile(second.get(), secondBytes, sizeof secondBytes, &secondRead, nullptr) ||
            firstRead == 0 || firstRead != secondRead || std::memcmp(firstBytes, secondBytes, firstRead) != 0)
            return false;
        left -= firstRead;
    }
    return true;
}
}  // namespace

void removeSeededCopies(MSIHANDLE session, const wchar_t* sourceDir, const wchar_t* destDir) {
    TextBuffer<kPathCapacity> pattern;
    WIN32_FIND_DATAW entry;
    UniqueFind search(joinWhole(pattern, {sourceDir, L"*"}) ? os.FindFirstFileW(pattern.text(), &entry)
                                                            : INVALID_HANDLE_VALUE);
    if (!search.valid())
        return;
    do {
        if (isDotEntry(entry.cFileName))
            continue;
        TextBuffer<kPathCapacity> source;
        TextBuffer<kPathCapacity> destination;
        if (!joinWhole(source, {sourceDir, entry.cFileName, isDirectory(entry) ? L"\\" : L""}) ||
            !joinWhole(destination, {destDir, entry.cFileName})) {
            logError(session,
                     L"Could not remove the seeded copy of %s%s; the path is longer than %d characters.",
                     {sourceDir, entry.cFileName, kMaxPathLength});
            continue;
        }
        const DWORD attributes = GetFileAttributesW(destination.text());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            continue;  // never copied
        if (isReparsePoint(attributes)) {
            logInfo(session, L"Leaving %s alone: it is a link", {destination});
        } else if (isDirectory(entry)) {
            // The folder goes only when nothing but seeded copies was in it.
            if (destination.appendWhole(L"\\", 1))
                removeSeededCopies(session, source.text(), destination.text());
            if (RemoveDirectoryW(destination.text()))
                logInfo(session, L"Removed seeded folder %s", {destination});
        } else if (!sameContents(source.text(), destination.text())) {
            logInfo(session, L"Kept %s: it differs from %s", {destination, source});
        } else if (DeleteFileW(destination.text())) {
            logInfo(session, L"Removed seeded copy %s", {destination});
        } else {
            logError(session, L"Could not remove seeded copy %s; rc = X'%lX'", {destination, GetLastError()});
        }
    } while (os.FindNextFileW(search.get(), &entry));
}

namespace {
constexpr wchar_t kAskDeletePersistentData[] = L"KTA_Core/AskDeletePersistentDataCA";
constexpr wchar_t kCleanUpTheEmpties[] = L"KTA_Core/CleanUpTheEmptiesCA";
constexpr wchar_t kDeleteClassfix[] = L"KTA_Core/DeleteClassfixCA";
constexpr wchar_t kDeleteData[] = L"KTA_Core/DeleteDataCA";
constexpr wchar_t kSeedData[] = L"KTA_Core/SeedDataCA";
constexpr wchar_t kSeedDataRB[] = L"KTA_Core/SeedDataRBCA";

constexpr int kQuestionMessage = 25006;
}  // namespace

UINT runAskDeletePersistentData(MSIHANDLE session) {
    LogEntryExit(session, 1, kAskDeletePersistentData);
    HeapArray<wchar_t> question;
    HeapArray<wchar_t> caption;
    HeapArray<wchar_t> formattedCaption;
    DWORD length = 0;
    GetErrorText(session, question, length, kQuestionMessage);
    GetErrorText(session, caption, length, kCaptionMessage);
    if (!question || !caption) {
        logError(session, L"AskDeletePersistentDataCA: no memory for the texts of messages %d and %d",
                 {kQuestionMessage, kCaptionMessage});
        LogExitCode(session, kAskDeletePersistentData, ERROR_NOT_ENOUGH_MEMORY);
        return ERROR_INSTALL_FAILURE;
    }
    // The caption may refer to properties; the question is shown as it is.
    UINT result = formatWithInstaller(session, caption.get(), formattedCaption);
    bool remove = false;
    if (result == ERROR_SUCCESS) {
        remove = os.MessageBoxW(os.GetForegroundWindow(), question.get(), formattedCaption.get(),
                                MB_YESNO | MB_TASKMODAL) == IDYES;
    } else {
        logError(session, L"AskDeletePersistentDataCA: unable to format the caption; rc = X'%lX'", {result});
    }
    if (remove) {
        LogMessage(session, INSTALLMESSAGE_INFO, L"User selected to DELETE configuration data.");
        result = os.MsiSetPropertyW(session, L"DELETEDATA", L"y");
        if (result != ERROR_SUCCESS)
            logError(session, L"AskDeletePersistentDataCA: unable to set DELETEDATA; rc = X'%lX'", {result});
    } else {
        LogMessage(session, INSTALLMESSAGE_INFO, L"User selected to NOT DELETE configuration data.");
    }
    LogEntryExit(session, 0, kAskDeletePersistentData);
    return result;
}

UINT runCleanUpTheEmpties(MSIHANDLE session) {
    LogEntryExit(session, 1, kCleanUpTheEmpties);
    TextBuffer<kPathCapacity> location;
    if (!readInstallLocation(session, kCleanUpTheEmpties, location))
        return ERROR_INSTALL_FAILURE;
    if (!mayWalkBelow(session, location.text(), L"empty folders")) {
        LogEntryExit(session, 0, kCleanUpTheEmpties);
        return ERROR_SUCCESS;
    }
    TextBuffer<kKeyCapacity> component;
    moduleComponent(component);
    // The installation directory itself goes if it is empty.
    AddTempRemoveFileRow(L"EMPTY_INSTALLDIR", component.text(), L"", L"INSTALLDIR", kRemoveOnUninstall,
                         session);

    TextBuffer<kPathCapacity> pattern;
    WIN32_FIND_DATAW entry;
    UniqueFind search(joinWhole(pattern, {location.text(), L"*"}) ? os.FindFirstFileW(pattern.text(), &entry)
                                                                  : INVALID_HANDLE_VALUE);
    UniqueMsiHandle database(os.MsiGetActiveDatabase(session));
    if (search.valid()) {
        do {
            // A folder is kept when either of its names is one of the kept ones.
            if (isDotEntry(entry.cFileName) || !isDirectory(entry) || isKeptInstallFolder(entry.cFileName) ||
                isKeptInstallFolder(entry.cAlternateFileName))
                continue;
            if (isReparsePoint(entry.dwFileAttributes)) {
                logInfo(session, L"Leaving %s%s alone: it is a link", {location, entry.cFileName});
                continue;
            }
            // The installation directory may be shared: what the product never made is someone else's.
            if (!isProductsFolder(database.get(), entry)) {
                logInfo(session, L"Leaving %s%s alone: it is not a folder of this product",
                        {location, entry.cFileName});
                continue;
            }
            const wchar_t* name = entryName(entry);
            if (ScheduleEmptyRemoval(name, location.text(), L"INSTALLDIR", session) == 1)
                logInfo(session, L"Successfully added %s directory to RemoveFile table (if empty)", {name});
            else
                logError(session, L"Could not add %s directory to RemoveFile table (if empty)", {name});
        } while (os.FindNextFileW(search.get(), &entry));
    }
    LogEntryExit(session, 0, kCleanUpTheEmpties);
    return ERROR_SUCCESS;
}

namespace {
constexpr wchar_t kPreviousRoot[] = L"PREVIOUS_ROOT_DIRECTORY";

// The Directory row of the previous installation root itself, under which the classfix rows name
// the tree that was walked, wherever INSTALLDIR is now: a Directory key that is also a property
// resolves to that property's value (at CostFinalize). A row there already (an earlier call) stays.
bool addPreviousRootRow(MSIHANDLE session) {
    UniqueMsiHandle database(os.MsiGetActiveDatabase(session));
    UniqueMsiHandle view;
    UniqueMsiHandle record;
    if (database &&
        openView(database.get(),
                 L"SELECT `Directory` FROM `Directory` WHERE `Directory`='PREVIOUS_ROOT_DIRECTORY'",
                 view) == ERROR_SUCCESS &&
        os.MsiViewFetch(view.get(), record.receive()) == ERROR_SUCCESS)
        return true;
    return AddTempDirectoryRow(kPreviousRoot, L"TARGETDIR", L".", session) == ERROR_SUCCESS;
}
}  // namespace

UINT runDeleteClassfix(MSIHANDLE session) {
    LogEntryExit(session, 1, kDeleteClassfix);
    TextBuffer<kPathCapacity> root;
    TextBuffer<kPathCapacity + 3> shown;
    UINT result = readPropertyShown(session, kPreviousRoot, root, shown);
    if (result == ERROR_SUCCESS && !root.empty() && !ensureTrailingBackslash(root))
        result = ERROR_MORE_DATA;
    if (result != ERROR_SUCCESS || root.empty()) {
        logError(session, L"Could not determine Install Directory, RC=%d, Install Directory=%s",
                 {result, shown});
        LogExitCode(session, kDeleteClassfix, -1);
        return ERROR_INSTALL_FAILURE;
    }
    if (addPreviousRootRow(session) &&
        ScheduleClassfixRemoval(L"classfix", root.text(), kPreviousRoot, L"CF", session) == 1)
        LogMessage(session, INSTALLMESSAGE_INFO,
                   L"Successfully added classfix directory to RemoveFile table");
    else
        LogMessage(session, INSTALLMESSAGE_ERROR, L"Could not add classfix directory to RemoveFile table");
    LogEntryExit(session, 0, kDeleteClassfix);
    return ERROR_SUCCESS;
}

namespace {
void scheduleNamedTree(MSIHANDLE session, const wchar_t* name, const wchar_t* location,
                       const wchar_t* component) {
    if (ScheduleTreeRemoval(name, location, L"INSTALLDIR", L"KTA_KVO", component, session) == 1)
        logInfo(session, L"Successfully added %s directory to RemoveFile table", {name});
    else
        logError(session, L"Could not add %s directory to RemoveFile table", {name});
}
}  // namespace

UINT runDeleteData(MSIHANDLE session) {
    LogEntryExit(session, 1, kDeleteData);
    TextBuffer<5> answer;
    const bool remove =
        readPropertyInto(session, L"DELETEDATA", answer) == ERROR_SUCCESS && asksToDeleteData(answer.text());
    TextBuffer<kPathCapacity> location;
    if (!readInstallLocation(session, kDeleteData, location))
        return ERROR_INSTALL_FAILURE;
    TextBuffer<kKeyCapacity> component;
    moduleComponent(component);
    // Below a drive root or a folder of the system, folders named data, log or tempdata may be
    // anyone's: the installer removes what it installed there, and nothing else goes.
    const bool walk =
        mayWalkBelow(session, location.text(),
                     remove ? L"the data, log and temporary files" : L"the log and temporary files");
    if (remove) {
        if (walk)
            scheduleNamedTree(session, L"data", location.text(), component.text());
        // With the component's removal the installer removes the Explorer's saved order of the
        // product's Start-menu folder.
        const UINT result = AddTempRegistryRow(L"KVODelMenuOrder", 1,
                                               L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Menu"
                                               L"Order\\Start Menu\\Programs\\ZAL Varnel",
                                               L"Order", L"DeleteMe", component.text(), session);
        if (result == ERROR_SUCCESS)
            LogMessage(session, INSTALLMESSAGE_INFO, L"Sucessfully added MenuOrder value to Registry Table");
        else
            logError(session, L"Could not add MenuOrder value to Registry Table, rc = %d", {result});
    }
    if (walk) {
        scheduleNamedTree(session, L"tempdata", location.text(), component.text());
        scheduleNamedTree(session, L"log", location.text(), component.text());
    }
    LogEntryExit(session, 0, kDeleteData);
    return ERROR_SUCCESS;
}

namespace {
// The seeding's folders from CustomActionData, the installation directory: proddata\defaults\ and
// data\ below it. Logs and fails (exit code -1) when they cannot be had.
bool seedingFolders(MSIHANDLE session, const wchar_t* actionName, BoundedText& source,
                    BoundedText& destination) {
    // A deferred action: CustomActionData is all it reads (Windows gives it no other property).
    TextBuffer<kPathCapacity> directory;
    TextBuffer<kPathCapacity + 3> shown;
    UINT result = readPropertyShown(session, L"CustomActionData", directory, shown);
    if (result == ERROR_SUCCESS && (directory.empty() || !ensureTrailingBackslash(directory) ||
                                    !joinWhole(source, {directory.text(), L"proddata\\defaults\\"}) ||
                                    !joinWhole(destination, {directory.text(), L"data\\"})))
        result = directory.empty() ? ERROR_INVALID_DATA : ERROR_MORE_DATA;
    if (result != ERROR_SUCCESS) {
        logError(session,
                 L"Could not obtain the installation directory from CustomActionData \"%s\"; rc = X'%lX'",
                 {shown, result});
        LogExitCode(session, actionName, -1);
        return false;
    }
    return true;
}
}  // namespace

UINT runSeedData(MSIHANDLE session) {
    LogEntryExit(session, 1, kSeedData);
    TextBuffer<kPathCapacity> source;
    TextBuffer<kPathCapacity> destination;
    if (!seedingFolders(session, kSeedData, source, destination))
        return ERROR_INSTALL_FAILURE;
    logInfo(session, L"Sourcedir is %s", {source});
    logInfo(session, L"Destdir is %s", {destination});
    const int copied = CopyProddata(session, source.text(), destination.text());
    if (copied == 0) {
        logInfo(session, L"CopyProddata returned %d", {copied});
        LogEntryExit(session, 0, kSeedData);
        return ERROR_SUCCESS;
    }
    logError(session, L"CopyProddata returned %d", {copied});
    LogExitCode(session, kSeedData, copied);
    return ERROR_INSTALL_FAILURE;
}

UINT runSeedDataRB(MSIHANDLE session) {
    LogEntryExit(session, 1, kSeedDataRB);
    TextBuffer<kPathCapacity> source;
    TextBuffer<kPathCapacity> destination;
    if (!seedingFolders(session, kSeedDataRB, source, destination))
        return ERROR_INSTALL_FAILURE;
    removeSeededCopies(session, source.text(), destination.text());
    LogEntryExit(session, 0, kSeedDataRB);
    return ERROR_SUCCESS;
}

}  // namespace kvo::installer

extern "C" UINT __stdcall AskDeletePersistentDataCA(MSIHANDLE session) {
    return kvo::installer::runAskDeletePersistentData(session);
}
extern "C" UINT __stdcall CleanUpTheEmptiesCA(MSIHANDLE session) {
    return kvo::installer::runCleanUpTheEmpties(session);
}
extern "C" UINT __stdcall DeleteClassfixCA(MSIHANDLE session) {
    return kvo::installer::runDeleteClassfix(session);
}
extern "C" UINT __stdcall DeleteDataCA(MSIHANDLE session) {
    return kvo::installer::runDeleteData(session);
}
extern "C" UINT __stdcall SeedDataCA(MSIHANDLE session) {
    return kvo::installer::runSeedData(session);
}
extern "C" UINT __stdcall SeedDataRBCA(MSIHANDLE session) {
    return kvo::installer::runSeedDataRB(session);
}
