// The actions that prepare the installation state: the version being installed, the installed
// location as INSTALLDIR, a saved installation directory, features kept from being deselected, and
// the installer's machine-wide logging policy.
#include "installation_state.h"

#include "helpers.h"
#include "kta_ca.h"
#include "os_calls.h"
#include "owners.h"
#include "row_keys.h"

namespace kvo::installer {

namespace {

constexpr wchar_t kGetVersions[] = L"KTA_Core/GetVersionsCA";
constexpr wchar_t kSetInstalledInstallDir[] = L"KTA_Core/SetInstalledINSTALLDIRCA";
constexpr wchar_t kSaveInstallDir[] = L"KTA_Core/SaveINSTALLDIRUpgRBCA";
constexpr wchar_t kSetOld31Features[] = L"KTA_Core/SetOld31FeaturesCA";
constexpr wchar_t kSetLoggingPolicy[] = L"KTA_Core/SetLoggingPolicyCA";
constexpr wchar_t kResetLoggingPolicy[] = L"KTA_Core/ResetLoggingPolicyCA";

constexpr std::size_t kVersionCapacity = 16;
constexpr std::size_t kConditionCapacity = 257;
constexpr int kNotAbsent = 16;  // Feature attribute: the user interface does not offer "absent"

constexpr wchar_t kProductKey[] = L"SOFTWARE\\Orvane\\Varnel\\CurrentVersion";
constexpr wchar_t kSavedRootKey[] = L"SOFTWARE\\Orvane\\Varnel\\User";
constexpr wchar_t kPolicyKey[] = L"Software\\Policies\\Microsoft\\Windows\\Installer";

// Rewrites a fetched Feature row whose field was just changed (setResult: the result of that
// change): deleted, then inserted again as a temporary row. False when it could not be: a walk of
// rows ends at the first such failure. Windows lets a custom action change temporary rows only, so
// it refuses to delete a row of the package itself: the walk then ends at its first row, and the
// Feature table stays as it was.
bool rewriteRow(MSIHANDLE session, MSIHANDLE view, MSIHANDLE record, UINT setResult) {
    if (setResult != ERROR_SUCCESS) {
        logError(session, L"SetOld31FeaturesCA: unable to change a Feature record; rc = X'%lX'", {setResult});
        return false;
    }
    UINT result = os.MsiViewModify(view, MSIMODIFY_DELETE, record);
    if (result != ERROR_SUCCESS) {
        logError(session, L"SetOld31FeaturesCA: the installer refused to rewrite a Feature row; rc = X'%lX'",
                 {result});
        return false;
    }
    result = os.MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, record);
    if (result != ERROR_SUCCESS) {
        logError(session, L"SetOld31FeaturesCA: unable to insert a Feature row again; rc = X'%lX'", {result});
        return false;
    }
    return true;
}

}  // namespace

UINT AddTempFeatureRow(MSIHANDLE view, const wchar_t* featureName) {
    UniqueMsiHandle record(os.MsiCreateRecord(8));
    if (!record)
        return ERROR_FUNCTION_FAILED;
    UINT result = os.MsiRecordSetStringW(record.get(), 1, featureName);
    if (result == ERROR_SUCCESS)
        result = os.MsiRecordSetStringW(record.get(), 2, L"");
    if (result == ERROR_SUCCESS)
        result = os.MsiRecordSetStringW(record.get(), 3, L"If you see this, something is wrong");
    if (result == ERROR_SUCCESS)
        result = os.MsiRecordSetStringW(record.get(), 4, L"Help me");
    if (result == ERROR_SUCCESS)
        result = os.MsiRecordSetInteger(record.get(), 5, 1);
    if (result == ERROR_SUCCESS)
        result = os.MsiRecordSetInteger(record.get(), 6, 100);
    if (result == ERROR_SUCCESS)
        result = os.MsiRecordSetStringW(record.get(), 7, L"INSTALLDIR");
    if (result == ERROR_SUCCESS)
        result = os.MsiRecordSetInteger(record.get(), 8, 8);
    if (result == ERROR_SUCCESS)
        result = os.MsiViewModify(view, MSIMODIFY_INSERT_TEMPORARY, record.get());
    return result;
}

namespace {

UINT runGetVersions(MSIHANDLE session) {
    UniqueMsiHandle database(os.MsiGetActiveDatabase(session));
    LogEntryExit(session, 1, kGetVersions);
    TextBuffer<256> query;
    formatText(query, L"SELECT * FROM Registry WHERE `Key`='%s' AND Name='Version'", {kProductKey});
    UniqueMsiHandle view;
    UniqueMsiHandle record;
    TextBuffer<kVersionCapacity> version;
    // Each step runs only when every step before it succeeded; a failure is logged by its own step
    // and by each later one, with the same code.
    UINT result = database ? os.MsiDatabaseOpenViewW(database.get(), query.text(), view.receive())
                           : static_cast<UINT>(ERROR_INVALID_HANDLE);
    if (result != ERROR_SUCCESS)
        logInfo(session, L"MsiDatabaseOpenView failed!  Return code:  %d", {result});
    if (result == ERROR_SUCCESS)
        result = os.MsiViewExecute(view.get(), 0);
    if (result != ERROR_SUCCESS)
        logInfo(session, L"MsiViewExecute failed!  Return code:  %d", {result});
    if (result == ERROR_SUCCESS)
        result = os.MsiViewFetch(view.get(), record.receive());
    if (result != ERROR_SUCCESS)
        logInfo(session, L"MsiViewFetch failed!  Return code:  %d", {result});
    if (result == ERROR_SUCCESS)
        result = readRecordTextInto(record.get(), 5, version);  // a version that does not fit is not used
    if (result != ERROR_SUCCESS)
        logInfo(session, L"Could not determine current version.  rc=%d", {result});
    else
        logInfo(session, L"Installing version %s", {version});
    const UINT set = os.MsiSetPropertyW(session, L"FUNCTION_VERSION", versionWithoutHash(version.text()));
    if (set != ERROR_SUCCESS)
        logError(session, L"GetVersionsCA: unable to set FUNCTION_VERSION; rc = X'%lX'", {set});
    TextBuffer<kVersionCapacity> read;
    TextBuffer<kVersionCapacity + 3> previous;  // logged only; one too long shows marked cut
    readPropertyShown(session, L"PREVIOUS_VERSION", read, previous);
    if (!previous.empty())
        logInfo(session, L"Installing over version %s", {previous});
    LogEntryExit(session, 0, kGetVersions);
    return ERROR_SUCCESS;
}

UINT runSetInstalledInstallDir(MSIHANDLE session) {
    LogEntryExit(session, 1, kSetInstalledInstallDir);
    TextBuffer<64> productCode;
    readPropertyInto(session, L"ProductCode", productCode);
    logInfo(session, L"Product code is %s", {productCode});
    TextBuffer<kPathCapacity> location;
    TextBuffer<kPathCapacity + 3> shown;
    // Never set to a cut path: one too long is logged as far as it was read, and INSTALLDIR is set as
    // for none read.
    if (readInstallLocationShown(productCode.text(), location, shown) == ERROR_MORE_DATA)
        logError(session, L"The installed location %s is longer than %d characters", {shown, kMaxPathLength});
    logInfo(session, L"Setting INSTALLDIR to %s", {location});
    const UINT result = os.MsiSetPropertyW(session, L"INSTALLDIR", location.text());
    if (result != ERROR_SUCCESS)
        logError(session, L"SetInstalledINSTALLDIRCA: unable to set INSTALLDIR; rc = X'%lX'", {result});
    LogEntryExit(session, 0, kSetInstalledInstallDir);
    return ERROR_SUCCESS;
}

UINT runSaveInstallDir(MSIHANDLE session) {
    LogEntryExit(session, 1, kSaveInstallDir);
    // Run deferred or as rollback: CustomActionData is all it reads.
    HeapArray<wchar_t> directory;
    DWORD length = 0;
    if (GetCustomActionData(session, directory, length) != ERROR_SUCCESS) {
        LogMessage(session, INSTALLMESSAGE_INFO, L"Could not obtain installation directory to save.");
        LogExitCode(session, kSaveInstallDir, -1);
        return ERROR_INSTALL_FAILURE;
    }
    logInfo(session, L"Installation directory to save is %s", {directory.get()});
    const LONG created = CreateMachineKey(kSavedRootKey, nullptr);
    if (created != ERROR_SUCCESS)
        logError(session, L"SaveINSTALLDIRUpgRBCA: unable to create HKLM\\%s; rc = X'%lX'",
                 {kSavedRootKey, created});
    if (!SetMachineValue(kSavedRootKey, L"Root", REG_SZ, reinterpret_cast<const BYTE*>(directory.get()),
                         length * static_cast<DWORD>(sizeof(wchar_t))))
        logError(session, L"SaveINSTALLDIRUpgRBCA: unable to write HKLM\\%s Root", {kSavedRootKey});
    LogEntryExit(session, 0, kSaveInstallDir);
    return ERROR_SUCCESS;
}

// Moves every child feature under a placeholder parent "<parent>_tempf" (restore = false), or back
// under its parent (restore = true). A parent whose placeholder name would not fit a feature name
// keeps its children: a cut placeholder could never be told apart and restored.
void moveChildren(MSIHANDLE session, MSIHANDLE database, MSIHANDLE allFeatures, bool restore) {
    UniqueMsiHandle children;
    if (openView(database, L"SELECT * FROM Feature WHERE Feature_Parent is not null ORDER BY Feature_Parent",
                 children) != ERROR_SUCCESS)
        return;
    TextBuffer<kFeatureCapacity> lastParent;
    TextBuffer<kFeatureCapacity> placeholder;
    UniqueMsiHandle record;
    while (os.MsiViewFetch(children.get(), record.receive()) == ERROR_SUCCESS) {
        TextBuffer<kFeatureCapacity> parent;
        if (readRecordTextInto(record.get(), 2, parent) != ERROR_SUCCESS)
            continue;
        if (restore) {
            if (!isPlaceholderName(parent.text()))
                continue;
            cutAtPlaceholderSuffix(parent.data());
            parent.acceptWritten();
            if (!rewriteRow(session, children.get(), record.get(),
                            os.MsiRecordSetStringW(record.get(), 2, parent.text())))
                return;
            continue;
        }
        if (isPlaceholderName(parent.text()))
            continue;  // moved already
        if (!equalsIgnoringAsciiCase(parent.text(), lastParent.text())) {
            lastParent.clear();
            lastParent.append(parent.text());
            placeholder.clear();
            formatText(placeholder, L"%s%s", {parent, kPlaceholderSuffix});
            if (placeholder.cut()) {
                logError(session,
                         L"SetOld31FeaturesCA: no placeholder for the feature %s; its children stay under it",
                         {parent});
                placeholder.clear();
            } else {
                const UINT added = AddTempFeatureRow(allFeatures, placeholder.text());
                if (added != ERROR_SUCCESS)
                    logError(session, L"SetOld31FeaturesCA: unable to add the feature %s; rc = X'%lX'",
                             {placeholder, added});
            }
        }
        if (placeholder.empty())
            continue;
        if (!rewriteRow(session, children.get(), record.get(),
                        os.MsiRecordSetStringW(record.get(), 2, placeholder.text())))
            return;
    }
}

// Whether some row of the Condition table for the feature evaluates true.
bool hasTrueCondition(MSIHANDLE session, MSIHANDLE database, const wchar_t* feature) {
    UniqueMsiHandle conditions;
    if (openView(database, L"SELECT * FROM Condition", conditions) != ERROR_SUCCESS)
        return false;
    UniqueMsiHandle record;
    bool holds = false;
    while (!holds && os.MsiViewFetch(conditions.get(), record.receive()) == ERROR_SUCCESS) {
        TextBuffer<kFeatureCapacity> name;
        TextBuffer<kConditionCapacity> condition;
        if (readRecordTextInto(record.get(), 1, name) == ERROR_SUCCESS &&
            equalsIgnoringAsciiCase(name.text(), feature) &&
            readRecordTextInto(record.get(), 3, condition) == ERROR_SUCCESS)
            holds = os.MsiEvaluateConditionW(session, condition.text()) == MSICONDITION_TRUE;
    }
    return holds;
}

UINT runSetOld31Features(MSIHANDLE session) {
    UniqueMsiHandle database(os.MsiGetActiveDatabase(session));
    LogEntryExit(session, 1, kSetOld31Features);
    UniqueMsiHandle allFeatures;
    UniqueMsiHandle record;
    const bool anyFeature =
        database && openView(database.get(), L"SELECT * FROM Feature", allFeatures) == ERROR_SUCCESS &&
        os.MsiViewFetch(allFeatures.get(), record.receive()) == ERROR_SUCCESS;
    if (database)
        moveChildren(session, database.get(), allFeatures.get(), false);
    if (anyFeature) {
        // A view is executed again only after it was closed.
        os.MsiViewClose(allFeatures.get());
        if (os.MsiViewExecute(allFeatures.get(), 0) == ERROR_SUCCESS) {
            while (os.MsiViewFetch(allFeatures.get(), record.receive()) == ERROR_SUCCESS) {
                TextBuffer<kFeatureCapacity> name;
                if (readRecordTextInto(record.get(), 1, name) != ERROR_SUCCESS ||
                    isPlaceholderName(name.text()) || !hasTrueCondition(session, database.get(), name.text()))
                    continue;
                int attributes = os.MsiRecordGetInteger(record.get(), 8);
                if (attributes == static_cast<int>(MSI_NULL_INTEGER))
                    attributes = 0;
                // Marked already (a rewritten row the walk meets again): the same result.
                if ((attributes & kNotAbsent) != 0)
                    continue;
                if (!rewriteRow(session, allFeatures.get(), record.get(),
                                os.MsiRecordSetInteger(record.get(), 8, attributes | kNotAbsent)))
                    break;
            }
        }
    }
    if (database) {
        moveChildren(session, database.get(), allFeatures.get(), true);
        UniqueMsiHandle features;
        if (openView(database.get(), L"SELECT * FROM Feature", features) == ERROR_SUCCESS) {
            while (os.MsiViewFetch(features.get(), record.receive()) == ERROR_SUCCESS) {
                TextBuffer<kFeatureCapacity> name;
                if (readRecordTextInto(record.get(), 1, name) == ERROR_SUCCESS &&
                    isPlaceholderName(name.text()))
                    os.MsiViewModify(features.get(), MSIMODIFY_DELETE, record.get());
            }
        }
    }
    LogEntryExit(session, 0, kSetOld31Features);
    return ERROR_SUCCESS;
}

// The machine's installer logging policy: true when read (a value longer than 256 bytes counts as
// absent); value is then terminated within its buffer.
bool readLoggingPolicy(TextBuffer<129>& value) {
    DWORD type = 0;
    DWORD size = 256;
    value.clear();
    if (!QueryMachineValue(kPolicyKey, L"Logging", type, reinterpret_cast<BYTE*>(value.data()), size))
        return false;
    value.data()[size / sizeof(wchar_t)] = L'\0';
    value.acceptWritten();
    return true;
}

// The temporary Registry row that has the installer write (on install) or remove (on removal) the
// logging policy with the product's component. Fails the action when it cannot be added.
bool addPolicyRow(MSIHANDLE session, const wchar_t* actionName) {
    TextBuffer<kKeyCapacity> component;
    moduleComponent(component);
    logInfo(session, L"Adding Logging value to the Installer key in the Registry table under component %s",
            {component});
    const UINT result = AddTempRegistryRow(L"KVOLoggingPolicy", 2, kPolicyKey, L"Logging",
                                           kProductLoggingPolicy, component.text(), session);
    if (result != ERROR_SUCCESS) {
        logError(session,
                 L"Failed adding Logging value to the Installer key in the Registry table under component "
                 L"%s; RC=%d",
                 {component, result});
        LogExitCode(session, actionName, static_cast<int>(result));
        return false;
    }
    return true;
}

UINT runSetLoggingPolicy(MSIHANDLE session) {
    LogEntryExit(session, 1, kSetLoggingPolicy);
    TextBuffer<129> policy;
    if (!readLoggingPolicy(policy)) {
        LogMessage(session, INSTALLMESSAGE_INFO,
                   L"Did not find an existing Logging policy... creating new one");
        if (!addPolicyRow(session, kSetLoggingPolicy))
            return ERROR_INSTALL_FAILURE;
    }
    LogEntryExit(session, 0, kSetLoggingPolicy);
    return ERROR_SUCCESS;
}

UINT runResetLoggingPolicy(MSIHANDLE session) {
    LogEntryExit(session, 1, kResetLoggingPolicy);
    TextBuffer<129> policy;
    if (readLoggingPolicy(policy) && isProductLoggingPolicy(policy.text())) {
        LogMessage(session, INSTALLMESSAGE_INFO,
                   L"Found the Logging policy that we added to the registry... removing it");
        if (!addPolicyRow(session, kResetLoggingPolicy))
            return ERROR_INSTALL_FAILURE;
    }
    LogEntryExit(session, 0, kResetLoggingPolicy);
    return ERROR_SUCCESS;
}

}  // namespace

}  // namespace kvo::installer

extern "C" UINT __stdcall GetVersionsCA(MSIHANDLE session) {
    return kvo::installer::runGetVersions(session);
}
extern "C" UINT __stdcall SetInstalledINSTALLDIRCA(MSIHANDLE session) {
    return kvo::installer::runSetInstalledInstallDir(session);
}
extern "C" UINT __stdcall SaveINSTALLDIRUpgRBCA(MSIHANDLE session) {
    return kvo::installer::runSaveInstallDir(session);
}
extern "C" UINT __stdcall SetOld31FeaturesCA(MSIHANDLE session) {
    return kvo::installer::runSetOld31Features(session);
}
extern "C" UINT __stdcall SetLoggingPolicyCA(MSIHANDLE session) {
    return kvo::installer::runSetLoggingPolicy(session);
}
extern "C" UINT __stdcall ResetLoggingPolicyCA(MSIHANDLE session) {
    return kvo::installer::runResetLoggingPolicy(session);
}
