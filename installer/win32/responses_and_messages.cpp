// The actions around an installation's input and output: a response-file section turned into
// properties, invalid parameters reported, the chosen options and the product written to the log,
// and the warning and property message boxes.
#include "helpers.h"
#include "kta_ca.h"
#include "os_calls.h"
#include "owners.h"
#include "response_keys.h"
#include "row_keys.h"

namespace kvo::installer {

namespace {

constexpr wchar_t kReadRspFile[] = L"KTA_Core/ReadRspFileCA";
constexpr wchar_t kDisplayPropertyMsgBox[] = L"DisplayPropertyMsgBoxCA";

constexpr std::size_t kSectionCapacity = 32;
constexpr DWORD kFirstProfileBuffer = 1025;
constexpr DWORD kLastProfileBuffer = 65600;  // 1025 doubled six times

constexpr int kInvalidParametersMessage = 25012;

// A profile string in a buffer that grows until the text fits: values and key lists are never cut.
// Null when it would need more than kLastProfileBuffer units, or no memory could be had; count is
// what the system reported (units before the final terminator).
HeapArray<wchar_t> readProfileText(const wchar_t* section, const wchar_t* key, const wchar_t* defaultText,
                                   const wchar_t* path, DWORD& count) {
    // A cut text comes back with a count of the buffer size less 2 (key lists) or less 1 (values).
    const DWORD cutCount = key == nullptr ? 2 : 1;
    for (DWORD size = kFirstProfileBuffer; size <= kLastProfileBuffer; size *= 2) {
        HeapArray<wchar_t> text(heapArray<wchar_t>(size));
        if (!text)
            return text;
        count = os.GetPrivateProfileStringW(section, key, defaultText, text.get(), size, path);
        if (count + cutCount < size)
            return text;
    }
    return HeapArray<wchar_t>();
}

// Whether the file has the section: the profile functions hand back the default text both for a
// missing section and for one without keys, and only the list of the file's sections tells them apart.
bool hasSection(const wchar_t* section, const wchar_t* path) {
    DWORD count = 0;
    const HeapArray<wchar_t> sections = readProfileText(nullptr, nullptr, L"", path, count);
    for (const wchar_t* name = sections.get(); name != nullptr && name < sections.get() + count;
         name += textLength(name) + 1) {
        if (CompareStringOrdinal(name, -1, section, -1, TRUE) == CSTR_EQUAL)
            return true;
    }
    return false;
}

UINT runReadRspFile(MSIHANDLE session) {
    LogEntryExit(session, 1, kReadRspFile);
    TextBuffer<kPathCapacity> path;
    const UINT read = readPropertyInto(session, L"RSP", path);
    if (read == ERROR_SUCCESS && path.empty()) {
        TextBuffer<kPathCapacity> sourceDir;
        TextBuffer<kPathCapacity> fileName;
        readPropertyInto(session, L"SourceDir", sourceDir);
        readPropertyInto(session, L"ResponseFile", fileName);
        // SourceDir ends with a backslash. A path that does not fit is not cut and used.
        if (!joinWhole(path, {sourceDir.text(), fileName.text()})) {
            logError(session, L"Specified response file, %s%s, does not fit in %d characters",
                     {sourceDir, fileName, kMaxPathLength});
            LogExitCode(session, kReadRspFile, 1);
            return ERROR_INSTALL_FAILURE;
        }
        const UINT set = os.MsiSetPropertyW(session, L"RSP", path.text());
        if (set != ERROR_SUCCESS)
            logError(session, L"ReadRspFileCA: unable to set RSP; rc = X'%lX'", {set});
    } else if (read != ERROR_SUCCESS) {
        logError(session, L"ReadRspFileCA: unable to read RSP; rc = X'%lX'", {read});
        LogExitCode(session, kReadRspFile, 1);
        return ERROR_INSTALL_FAILURE;
    }
    if (!FileExists(path.text())) {
        logError(session, L"Specified response file, %s, does not exist", {path});
        LogExitCode(session, kReadRspFile, 1);
        return ERROR_INSTALL_FAILURE;
    }
    TextBuffer<kSectionCapacity> section;
    if (readPropertyInto(session, L"ResponseFileHeading", section) != ERROR_SUCCESS) {
        logError(session, L"ReadRspFileCA: the response file section name does not fit in %d characters",
                 {static_cast<int>(kSectionCapacity - 1)});
        LogExitCode(session, kReadRspFile, 2);
        return ERROR_INSTALL_FAILURE;
    }
    DWORD count = 0;
    const HeapArray<wchar_t> keys =
        readProfileText(section.text(), nullptr, kMissingSectionMarker, path.text(), count);
    if (!keys) {
        logError(session, L"ReadRspFileCA: the key names of section %s of %s could not be read",
                 {section, path});
        LogExitCode(session, kReadRspFile, 2);
        return ERROR_INSTALL_FAILURE;
    }
    if (isMissingSectionMarker(keys.get()) && !hasSection(section.text(), path.text())) {
        logError(session, L"The file %s is not a valid response file.", {path});
        LogExitCode(session, kReadRspFile, 2);
        return ERROR_INSTALL_FAILURE;
    }
    // A section without keys gives the default text too: it has no names to read.
    ResponseKeyNames names(keys.get(), isMissingSectionMarker(keys.get()) ? 0 : count);
    const wchar_t* name;
    std::size_t length;
    while (names.next(name, length)) {
        HeapArray<wchar_t> key(heapArray<wchar_t>(length + 1));
        DWORD valueCount = 0;
        HeapArray<wchar_t> value;
        if (key) {
            for (std::size_t i = 0; i < length; ++i)
                key[i] = name[i];
            key[length] = L'\0';
            value = readProfileText(section.text(), key.get(), L"", path.text(), valueCount);
        }
        if (!value) {
            logError(session, L"ReadRspFileCA: the value of %s could not be read whole; it is not used",
                     {TextSpan{name, length}});
            continue;
        }
        const UINT set = os.MsiSetPropertyW(session, key.get(), value.get());
        if (set != ERROR_SUCCESS)
            logError(session, L"ReadRspFileCA: unable to set %s; rc = X'%lX'", {key.get(), set});
    }
    LogEntryExit(session, 0, kReadRspFile);
    return ERROR_SUCCESS;
}

UINT runInvalidParmsErrorMessage(MSIHANDLE session) {
    // The installer presents message 25012 with the bad parameters as its second field.
    HeapArray<wchar_t> parameters;
    DWORD length = 0;
    const UINT read = readProperty(session, L"BADPARMS", parameters, length);
    UniqueMsiHandle record(os.MsiCreateRecord(2));
    if (!record) {
        logError(session, L"InvalidParmsErrorMessageCA: unable to create the record of message %d",
                 {kInvalidParametersMessage});
    } else {
        UINT result = os.MsiRecordSetInteger(record.get(), 1, kInvalidParametersMessage);
        if (result == ERROR_SUCCESS)
            result = os.MsiRecordSetStringW(record.get(), 2, read == ERROR_SUCCESS ? parameters.get() : L"");
        if (result == ERROR_SUCCESS)
            os.MsiProcessMessage(session, INSTALLMESSAGE_ERROR, record.get());
        else
            logError(session,
                     L"InvalidParmsErrorMessageCA: unable to fill the record of message %d; rc = X'%lX'",
                     {kInvalidParametersMessage, result});
    }
    return ERROR_INSTALL_FAILURE;
}

UINT runLogOptionsSelected(MSIHANDLE session) {
    LogMessage(session, INSTALLMESSAGE_INFO, L"======================================================");
    LogMessage(session, INSTALLMESSAGE_INFO, L"Options chosen for this installation are listed below.");
    TextBuffer<kPathCapacity> read;
    TextBuffer<kPathCapacity + 3> directory;  // logged only; one too long shows marked cut
    readPropertyShown(session, L"INSTALLDIR", read, directory);
    LogMessage(session, INSTALLMESSAGE_INFO, L"Target installation directory is:");
    logInfo(session, L"\t%s", {directory});
    UniqueMsiHandle database(os.MsiGetActiveDatabase(session));
    UniqueMsiHandle features;
    UINT result = database ? openView(database.get(), L"SELECT * FROM Feature", features)
                           : static_cast<UINT>(ERROR_INVALID_HANDLE);
    UniqueMsiHandle record;
    while (result == ERROR_SUCCESS && os.MsiViewFetch(features.get(), record.receive()) == ERROR_SUCCESS) {
        TextBuffer<kFeatureCapacity> name;
        INSTALLSTATE installed = INSTALLSTATE_UNKNOWN;
        INSTALLSTATE requested = INSTALLSTATE_UNKNOWN;
        if (readRecordTextInto(record.get(), 1, name) != ERROR_SUCCESS ||
            os.MsiGetFeatureStateW(session, name.text(), &installed, &requested) != ERROR_SUCCESS)
            continue;
        const wchar_t* line = optionLine(installed, requested);
        if (line != nullptr)
            logInfo(session, line, {name});
    }
    return ERROR_SUCCESS;
}

UINT runIntroduceLog(MSIHANDLE session) {
    HeapArray<wchar_t> product;
    DWORD length = 0;
    if (readProperty(session, L"ProductName", product, length) != ERROR_SUCCESS)
        return ERROR_INSTALL_FAILURE;
    logInfo(session, L"Log is for %s product", {product.get()});
    return ERROR_SUCCESS;
}

// Message `number` of the Error table, formatted by the installer; null when it could not be.
HeapArray<wchar_t> formattedMessage(MSIHANDLE session, int number) {
    HeapArray<wchar_t> text;
    HeapArray<wchar_t> formatted;
    DWORD length = 0;
    GetErrorText(session, text, length, number);
    if (text)
        formatWithInstaller(session, text.get(), formatted);
    return formatted;
}

UINT runDisplayWarningMessageBox(MSIHANDLE session) {
    TextBuffer<6> numberText;  // up to five digits
    readPropertyInto(session, L"DISPLAY_ERROR_MESSAGE_NUMBER", numberText);
    const HeapArray<wchar_t> text = formattedMessage(session, leadingMessageNumber(numberText.text()));
    const HeapArray<wchar_t> caption = formattedMessage(session, kCaptionMessage);
    if (caption)
        os.MessageBoxW(os.GetForegroundWindow(), text ? text.get() : L"", caption.get(),
                       MB_OK | MB_ICONWARNING | MB_TASKMODAL);
    else
        logError(session, L"DisplayWarningMessageBoxCA: the caption (message %d) could not be formatted",
                 {kCaptionMessage});
    return ERROR_SUCCESS;
}

UINT runDisplayPropertyMsgBox(MSIHANDLE session) {
    LogEntryExit(session, 1, kDisplayPropertyMsgBox);
    // The name of the property to show, module-qualified.
    TextBuffer<kKeyCapacity> nameProperty(L"PropertyNameToDisplay");
    AppendModuleSuffix(nameProperty);
    HeapArray<wchar_t> name;
    DWORD nameLength = 0;
    if (readProperty(session, nameProperty.text(), name, nameLength,
                     static_cast<DWORD>(kModuleSuffixLength)) != ERROR_SUCCESS)
        return ERROR_INSTALL_FAILURE;
    BoundedText qualified(name.get(), nameLength + kModuleSuffixLength, BoundedText::KeepText{});
    AppendModuleSuffix(qualified);
    HeapArray<wchar_t> value;
    DWORD valueLength = 0;
    if (readProperty(session, qualified.text(), value, valueLength) != ERROR_SUCCESS)
        return ERROR_INSTALL_FAILURE;
    const wchar_t kPattern[] = L"The value for property %s is %s.";
    const std::size_t capacity = qualified.length() + valueLength + textLength(kPattern);
    HeapArray<wchar_t> message(heapArray<wchar_t>(capacity));
    if (!message) {
        logError(session, L"DisplayPropertyMsgBoxCA: no memory for the text of %s", {qualified});
        return ERROR_INSTALL_FAILURE;
    }
    BoundedText text(message.get(), capacity);
    formatText(text, kPattern, {qualified, value.get()});
    os.MessageBoxW(os.GetForegroundWindow(), text.text(), L"Custom Action",
                   MB_OK | MB_ICONINFORMATION | MB_TASKMODAL);
    LogEntryExit(session, 0, kDisplayPropertyMsgBox);
    return ERROR_SUCCESS;
}

}  // namespace

}  // namespace kvo::installer

extern "C" UINT __stdcall ReadRspFileCA(MSIHANDLE session) {
    return kvo::installer::runReadRspFile(session);
}
extern "C" UINT __stdcall InvalidParmsErrorMessageCA(MSIHANDLE session) {
    return kvo::installer::runInvalidParmsErrorMessage(session);
}
extern "C" UINT __stdcall LogOptionsSelectedCA(MSIHANDLE session) {
    return kvo::installer::runLogOptionsSelected(session);
}
extern "C" UINT __stdcall IntroduceLogCA(MSIHANDLE session) {
    return kvo::installer::runIntroduceLog(session);
}
extern "C" UINT __stdcall DisplayWarningMessageBoxCA(MSIHANDLE session) {
    return kvo::installer::runDisplayWarningMessageBox(session);
}
extern "C" UINT __stdcall DisplayPropertyMsgBoxCA(MSIHANDLE session) {
    return kvo::installer::runDisplayPropertyMsgBox(session);
}
