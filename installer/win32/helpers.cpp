#include "helpers.h"

#include "os_calls.h"
#include "owners.h"
#include "unique_handle.h"

namespace kvo::installer {

namespace {

LogKind logKindOf(INSTALLMESSAGE type) {
    if (type == INSTALLMESSAGE_INFO)
        return LogKind::Info;
    if (type == INSTALLMESSAGE_ERROR)
        return LogKind::Error;
    return LogKind::Other;
}

// A field of a temporary row: a text or an integer.
class RowField {
public:
    RowField(const wchar_t* text) : text_(text) {}
    RowField(int number) : number_(number), isNumber_(true) {}
    UINT setInto(MSIHANDLE record, UINT field) const {
        return isNumber_ ? os.MsiRecordSetInteger(record, field, number_)
                         : os.MsiRecordSetStringW(record, field, text_);
    }

private:
    const wchar_t* text_ = nullptr;
    int number_ = 0;
    bool isNumber_ = false;
};

// Inserts one temporary row into table (fields in the table's column order; the first names the
// row in log lines). Record, view and database are closed on every path.
UINT addTemporaryRow(MSIHANDLE session, const wchar_t* routine, const wchar_t* table,
                     std::initializer_list<RowField> fields, const wchar_t* rowKey) {
    UniqueMsiHandle database(os.MsiGetActiveDatabase(session));
    if (!database) {
        logError(session, L"%s: unable to get the active database", {routine});
        return ERROR_INVALID_HANDLE;
    }
    TextBuffer<64> query;
    formatText(query, L"SELECT * FROM %s", {table});
    UniqueMsiHandle view;
    UINT result = openView(database.get(), query.text(), view);
    if (result != ERROR_SUCCESS) {
        logError(session, L"%s: unable to query the %s table; rc = X'%lX'", {routine, table, result});
        return result;
    }
    UniqueMsiHandle record(os.MsiCreateRecord(static_cast<UINT>(fields.size())));
    if (!record) {
        logError(session, L"%s: unable to create a record for the row %s", {routine, rowKey});
        return ERROR_FUNCTION_FAILED;
    }
    UINT field = 1;
    for (const RowField& value : fields) {
        result = value.setInto(record.get(), field++);
        if (result != ERROR_SUCCESS) {
            logError(session, L"%s: unable to fill the row %s; rc = X'%lX'", {routine, rowKey, result});
            return result;
        }
    }
    result = os.MsiViewModify(view.get(), MSIMODIFY_INSERT_TEMPORARY, record.get());
    if (result != ERROR_SUCCESS)
        logError(session, L"%s: unable to add the row %s to the %s table; rc = X'%lX'",
                 {routine, rowKey, table, result});
    return result;
}

// Reads the message of the Error table into text (any length).
UINT readErrorMessage(MSIHANDLE session, int number, HeapArray<wchar_t>& text, DWORD& length) {
    UniqueMsiHandle database(os.MsiGetActiveDatabase(session));
    if (!database)
        return ERROR_INVALID_HANDLE;
    TextBuffer<64> query;
    formatText(query, L"SELECT Message FROM Error WHERE Error=%d", {number});
    UniqueMsiHandle view;
    UniqueMsiHandle record;
    UINT result = openView(database.get(), query.text(), view);
    if (result == ERROR_SUCCESS)
        result = os.MsiViewFetch(view.get(), record.receive());
    if (result == ERROR_SUCCESS)
        result = readRecordText(record.get(), 1, text, length);
    return result;
}

}  // namespace

int LogMessage(MSIHANDLE session, INSTALLMESSAGE type, const wchar_t* text) {
    UniqueMsiHandle record(os.MsiCreateRecord(1));
    if (!record)
        return -1;
    TextBuffer<kLineCapacity> line;
    composeLogLine(logKindOf(type), text, line);
    // The installer takes field 0 as a template: a bracket or brace of the line would be read as a
    // property reference or a group and vanish. Escaped, every character arrives as it is.
    TextBuffer<4 * (kLineCapacity - 1) + 1> literal;
    appendInstallerLiteral(literal, line.text());
    if (os.MsiRecordSetStringW(record.get(), 0, literal.text()) != ERROR_SUCCESS)
        return -1;
    os.MsiProcessMessage(session, type, record.get());
    return 0;
}

void LogEntryExit(MSIHANDLE session, int entering, const wchar_t* actionName) {
    logInfo(session, entering != 0 ? L"Entering %s" : L"Exiting %s", {actionName});
}

void LogExitCode(MSIHANDLE session, const wchar_t* actionName, int code) {
    logError(session, L"Exiting %s, return code=%d", {actionName, code});
}

void reportErrorMessage(MSIHANDLE session, int number) {
    UniqueMsiHandle record(os.MsiCreateRecord(1));
    if (!record) {
        logError(session, L"unable to create the record of message %d", {number});
        return;
    }
    const UINT result = os.MsiRecordSetInteger(record.get(), 1, number);
    if (result != ERROR_SUCCESS) {
        logError(session, L"unable to fill the record of message %d; rc = X'%lX'", {number, result});
        return;
    }
    os.MsiProcessMessage(session, INSTALLMESSAGE_ERROR, record.get());
}

UINT GetErrorText(MSIHANDLE session, HeapArray<wchar_t>& text, DWORD& length, int number) {
    text.reset();
    length = 0;
    const UINT result = readErrorMessage(session, number, text, length);
    if (!text) {
        text.reset(heapArray<wchar_t>(kMissingMessageLength));
        length = 0;
        if (text) {
            BoundedText missing(text.get(), kMissingMessageLength);
            formatText(missing, L"Message %d could not be loaded.", {number});
            length = kMissingMessageLength;
        }
    }
    return result;
}

UINT GetCustomActionData(MSIHANDLE session, HeapArray<wchar_t>& data, DWORD& length) {
    const UINT result = readProperty(session, L"CustomActionData", data, length);
    if (result != ERROR_SUCCESS) {
        logError(session, L"unable to read CustomActionData; rc = X'%lX'", {result});
        return ERROR_INSTALL_FAILURE;
    }
    return ERROR_SUCCESS;
}

void AppendModuleSuffix(BoundedText& buffer) {
    appendModuleSuffixTo(buffer);
}

void moduleComponent(BoundedText& component) {
    component.clear();
    component.append(kModuleComponentBase);
    AppendModuleSuffix(component);
}

UINT AddTempDirectoryRow(const wchar_t* directory, const wchar_t* directoryParent, const wchar_t* defaultDir,
                         MSIHANDLE session) {
    return addTemporaryRow(session, L"AddTempDirectoryRow", L"Directory",
                           {directory, directoryParent, defaultDir}, directory);
}

UINT AddTempRemoveFileRow(const wchar_t* fileKey, const wchar_t* component, const wchar_t* fileName,
                          const wchar_t* dirProperty, int installMode, MSIHANDLE session) {
    return addTemporaryRow(session, L"AddTempRemoveFileRow", L"RemoveFile",
                           {fileKey, component, fileName, dirProperty, installMode}, fileKey);
}

UINT AddTempRegistryRow(const wchar_t* registryKey, int root, const wchar_t* key, const wchar_t* name,
                        const wchar_t* value, const wchar_t* component, MSIHANDLE session) {
    return addTemporaryRow(session, L"AddTempRegistryRow", L"Registry",
                           {registryKey, root, key, name, value, component}, registryKey);
}

bool QueryMachineValue(const wchar_t* subkey, const wchar_t* valueName, DWORD& type, BYTE* data,
                       DWORD& size) {
    UniqueKey key;
    if (os.RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, KEY_QUERY_VALUE, key.receive()) != ERROR_SUCCESS)
        return false;
    return os.RegQueryValueExW(key.get(), valueName, nullptr, &type, data, &size) == ERROR_SUCCESS;
}

LONG CreateMachineKey(const wchar_t* subkey, const wchar_t* className) {
    UniqueKey key;
    return os.RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, const_cast<wchar_t*>(className),
                              REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, key.receive(), nullptr);
}

bool SetMachineValue(const wchar_t* subkey, const wchar_t* valueName, DWORD type, const BYTE* data,
                     DWORD size) {
    UniqueKey key;
    if (os.RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, KEY_SET_VALUE, key.receive()) != ERROR_SUCCESS)
        return false;
    return os.RegSetValueExW(key.get(), valueName, 0, type, data, size) == ERROR_SUCCESS;
}

bool FileExists(const wchar_t* path) {
    WIN32_FIND_DATAW entry;
    UniqueFind search(os.FindFirstFileW(path, &entry));
    return search.valid();
}

namespace {

// The installer's string getters (MsiGetPropertyW, MsiRecordGetStringW; get(buffer, &count)) asked
// for the size first, then for the text into a new buffer with `reserve` more units of room after it;
// length = the text's length with the terminator.
template <class Get>
UINT readWhole(Get get, HeapArray<wchar_t>& text, DWORD& length, DWORD reserve) {
    text.reset();
    length = 0;
    wchar_t empty[1] = {L'\0'};
    DWORD size = 0;
    UINT result = get(empty, &size);
    if (result != ERROR_MORE_DATA && result != ERROR_SUCCESS)
        return result;
    if (size > 0x7FFFFFFF - 1 - reserve)
        return ERROR_NOT_ENOUGH_MEMORY;
    text.reset(heapArray<wchar_t>(size + 1 + reserve));
    if (!text)
        return ERROR_NOT_ENOUGH_MEMORY;
    DWORD count = size + 1 + reserve;
    result = get(text.get(), &count);
    if (result != ERROR_SUCCESS) {
        text.reset();
        return result;
    }
    length = count + 1;
    return ERROR_SUCCESS;
}

// The same getters into a fixed buffer: the text, cut where it does not fit; empty on failure.
template <class Get>
UINT readInto(Get get, BoundedText& text) {
    text.clear();
    DWORD size = static_cast<DWORD>(text.capacity());
    const UINT result = get(text.data(), &size);
    if (result == ERROR_SUCCESS)
        text.acceptWritten();
    else
        text.clear();
    return result;
}

// Reads into value with get; shown gets what was read (for one that did not fit: read whole,
// cut where value ends and marked).
template <class Get>
UINT readShown(Get get, BoundedText& value, BoundedText& shown) {
    const UINT result = readInto(get, value);
    shown.clear();
    if (result != ERROR_MORE_DATA) {
        shown.append(value.text());
        return result;
    }
    HeapArray<wchar_t> whole;
    DWORD length = 0;
    if (readWhole(get, whole, length, 0) == ERROR_SUCCESS)
        appendCutRead(shown, whole.get(), value.capacity() - 1);
    return result;
}

}  // namespace

UINT readProperty(MSIHANDLE session, const wchar_t* name, HeapArray<wchar_t>& value, DWORD& length,
                  DWORD reserve) {
    return readWhole(
        [&](wchar_t* buffer, DWORD* count) { return os.MsiGetPropertyW(session, name, buffer, count); },
        value, length, reserve);
}

UINT readPropertyInto(MSIHANDLE session, const wchar_t* name, BoundedText& value) {
    return readInto(
        [&](wchar_t* buffer, DWORD* count) { return os.MsiGetPropertyW(session, name, buffer, count); },
        value);
}

UINT readRecordText(MSIHANDLE record, UINT field, HeapArray<wchar_t>& text, DWORD& length) {
    return readWhole(
        [&](wchar_t* buffer, DWORD* count) { return os.MsiRecordGetStringW(record, field, buffer, count); },
        text, length, 0);
}

UINT readRecordTextInto(MSIHANDLE record, UINT field, BoundedText& text) {
    return readInto(
        [&](wchar_t* buffer, DWORD* count) { return os.MsiRecordGetStringW(record, field, buffer, count); },
        text);
}

UINT formatWithInstaller(MSIHANDLE session, const wchar_t* templateText, HeapArray<wchar_t>& text) {
    text.reset();
    UniqueMsiHandle record(os.MsiCreateRecord(1));
    if (!record)
        return ERROR_FUNCTION_FAILED;
    const UINT result = os.MsiRecordSetStringW(record.get(), 0, templateText);
    if (result != ERROR_SUCCESS)
        return result;
    DWORD length = 0;
    return readWhole([&](wchar_t* buffer,
                         DWORD* count) { return os.MsiFormatRecordW(session, record.get(), buffer, count); },
                     text, length, 0);
}

UINT readPropertyShown(MSIHANDLE session, const wchar_t* name, BoundedText& value, BoundedText& shown) {
    return readShown(
        [&](wchar_t* buffer, DWORD* count) { return os.MsiGetPropertyW(session, name, buffer, count); },
        value, shown);
}

UINT readInstallLocationShown(const wchar_t* productCode, BoundedText& location, BoundedText& shown) {
    return readShown(
        [&](wchar_t* buffer, DWORD* count) {
            return os.MsiGetProductInfoW(productCode, INSTALLPROPERTY_INSTALLLOCATION, buffer, count);
        },
        location, shown);
}

UINT openView(MSIHANDLE database, const wchar_t* query, UniqueMsiHandle& view) {
    UINT result = os.MsiDatabaseOpenViewW(database, query, view.receive());
    if (result == ERROR_SUCCESS)
        result = os.MsiViewExecute(view.get(), 0);
    return result;
}

}  // namespace kvo::installer
