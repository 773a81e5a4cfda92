#include "installer_test_support.h"

#include <propidl.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace kvotest {

namespace {

// The installer's column layouts of the tables the actions read and extend.
const wchar_t* const kTables[] = {
    L"CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL LOCALIZABLE "
    L"PRIMARY KEY `Property`)",
    L"CREATE TABLE `Error` (`Error` SHORT NOT NULL, `Message` LONGCHAR LOCALIZABLE PRIMARY KEY `Error`)",
    L"CREATE TABLE `Directory` (`Directory` CHAR(72) NOT NULL, `Directory_Parent` CHAR(72), "
    L"`DefaultDir` CHAR(255) NOT NULL LOCALIZABLE PRIMARY KEY `Directory`)",
    L"CREATE TABLE `Component` (`Component` CHAR(72) NOT NULL, `ComponentId` CHAR(38), `Directory_` CHAR(72) "
    L"NOT NULL, `Attributes` SHORT NOT NULL, `Condition` CHAR(255), `KeyPath` CHAR(72) PRIMARY KEY "
    L"`Component`)",
    L"CREATE TABLE `Feature` (`Feature` CHAR(38) NOT NULL, `Feature_Parent` CHAR(38), `Title` CHAR(64) "
    L"LOCALIZABLE, `Description` CHAR(255) LOCALIZABLE, `Display` SHORT, `Level` SHORT NOT NULL, "
    L"`Directory_` "
    L"CHAR(72), `Attributes` SHORT NOT NULL PRIMARY KEY `Feature`)",
    L"CREATE TABLE `FeatureComponents` (`Feature_` CHAR(38) NOT NULL, `Component_` CHAR(72) NOT NULL "
    L"PRIMARY KEY `Feature_`, `Component_`)",
    L"CREATE TABLE `Condition` (`Feature_` CHAR(38) NOT NULL, `Level` SHORT NOT NULL, `Condition` CHAR(255) "
    L"PRIMARY KEY `Feature_`, `Level`)",
    L"CREATE TABLE `RemoveFile` (`FileKey` CHAR(72) NOT NULL, `Component_` CHAR(72) NOT NULL, `FileName` "
    L"CHAR(255) LOCALIZABLE, `DirProperty` CHAR(72) NOT NULL, `InstallMode` SHORT NOT NULL PRIMARY KEY "
    L"`FileKey`)",
    L"CREATE TABLE `Registry` (`Registry` CHAR(72) NOT NULL, `Root` SHORT NOT NULL, `Key` CHAR(255) NOT NULL "
    L"LOCALIZABLE, `Name` CHAR(255) LOCALIZABLE, `Value` LONGCHAR LOCALIZABLE, `Component_` CHAR(72) NOT "
    L"NULL "
    L"PRIMARY KEY `Registry`)",
    L"CREATE TABLE `InstallExecuteSequence` (`Action` CHAR(72) NOT NULL, `Condition` CHAR(255), `Sequence` "
    L"SHORT "
    L"PRIMARY KEY `Action`)",
};

std::wstring quoted(const std::wstring& text) {
    std::wstring out = L"'";
    for (wchar_t c : text) {
        out += c;
        if (c == L'\'')
            out += L'\'';
    }
    return out + L"'";
}

void failWith(const std::wstring& what, UINT result) {
    ADD_FAILURE() << toNarrow(what) << ": rc = " << result;
}

// A text the installer hands out by size (a property, a record field), read in two steps: its size
// first, then the text into a buffer of that size. read(buffer, size) is the installer's call.
template <typename Read>
std::wstring readSized(Read read) {
    DWORD size = 0;
    wchar_t empty[1] = {0};
    read(empty, &size);
    std::wstring text(size + 1, L'\0');
    DWORD count = size + 1;
    if (read(text.data(), &count) != ERROR_SUCCESS)
        return L"<unreadable>";
    text.resize(count);
    return text;
}

// A fault (a write past a guard page, a stack canary found overwritten) ends the program with a
// message at once, instead of waiting for a debugger that a test run never answers.
LONG WINAPI reportFault(EXCEPTION_POINTERS* info) {
    fprintf(stderr, "fault %08lX at %p\n", static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
            info->ExceptionRecord->ExceptionAddress);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}
const bool faultsReported = (SetUnhandledExceptionFilter(reportFault), true);

}  // namespace

Session::~Session() {
    if (handle_ != 0)
        MsiCloseHandle(handle_);
}

std::wstring Session::property(const std::wstring& name) const {
    return readSized(
        [&](wchar_t* buffer, DWORD* size) { return MsiGetPropertyW(handle_, name.c_str(), buffer, size); });
}

void Session::setProperty(const std::wstring& name, const std::wstring& value) const {
    const UINT result = MsiSetPropertyW(handle_, name.c_str(), value.c_str());
    if (result != ERROR_SUCCESS)
        failWith(L"MsiSetPropertyW " + name, result);
}

std::vector<Row> Session::rows(const std::wstring& query) const {
    std::vector<Row> rows;
    const MSIHANDLE database = MsiGetActiveDatabase(handle_);
    MSIHANDLE view = 0;
    UINT result = MsiDatabaseOpenViewW(database, query.c_str(), &view);
    if (result == ERROR_SUCCESS)
        result = MsiViewExecute(view, 0);
    if (result != ERROR_SUCCESS)
        failWith(L"query " + query, result);
    MSIHANDLE record = 0;
    while (result == ERROR_SUCCESS && MsiViewFetch(view, &record) == ERROR_SUCCESS) {
        Row row;
        const UINT fields = MsiRecordGetFieldCount(record);
        for (UINT field = 1; field <= fields; ++field) {
            row.push_back(readSized(
                [&](wchar_t* buffer, DWORD* size) { return MsiRecordGetStringW(record, field, buffer, size); }));
        }
        rows.push_back(row);
        MsiCloseHandle(record);
    }
    if (view != 0)
        MsiCloseHandle(view);
    MsiCloseHandle(database);
    return rows;
}

TestPackage::TestPackage(const std::wstring& path) : TestPackage(path, {}) {}

TestPackage::TestPackage(const std::wstring& path, std::initializer_list<const wchar_t*> tables)
    : path_(path) {
    DeleteFileW(path_.c_str());
    const UINT result = MsiOpenDatabaseW(path_.c_str(), MSIDBOPEN_CREATE, &database_);
    if (result != ERROR_SUCCESS)
        failWith(L"MsiOpenDatabaseW " + path_, result);
    for (const wchar_t* create : kTables) {
        const std::wstring statement = create;
        const std::size_t start = statement.find(L'`') + 1;
        const std::wstring name = statement.substr(start, statement.find(L'`', start) - start);
        bool wanted = tables.size() == 0;
        for (const wchar_t* table : tables)
            wanted = wanted || name == table;
        if (wanted)
            run(create);
    }
}

TestPackage::~TestPackage() {
    if (database_ != 0)
        MsiCloseHandle(database_);
    DeleteFileW(path_.c_str());
}

void TestPackage::run(const std::wstring& sql) {
    MSIHANDLE view = 0;
    UINT result = MsiDatabaseOpenViewW(database_, sql.c_str(), &view);
    if (result == ERROR_SUCCESS) {
        result = MsiViewExecute(view, 0);
        MsiCloseHandle(view);
    }
    if (result != ERROR_SUCCESS)
        failWith(sql, result);
}

void TestPackage::property(const std::wstring& name, const std::wstring& value) {
    run(L"INSERT INTO `Property` (`Property`, `Value`) VALUES (" + quoted(name) + L", " + quoted(value) +
        L")");
}

void TestPackage::error(int number, const std::wstring& text) {
    run(L"INSERT INTO `Error` (`Error`, `Message`) VALUES (" + std::to_wstring(number) + L", " +
        quoted(text) + L")");
}

void TestPackage::commit() {
    if (database_ == 0)
        return;
    MSIHANDLE summary = 0;
    MsiGetSummaryInformationW(database_, nullptr, 20, &summary);
    MsiSummaryInfoSetPropertyW(summary, PIDSI_TEMPLATE, VT_LPSTR, 0, nullptr, L"Intel;1033");
    // A package code of its own: the installer opens the cached package of an installed product
    // whose package code a package shares.
    static unsigned packages = 0;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    wchar_t packageCode[40];
    swprintf(packageCode, 40, L"{6A0C1B52-%04X-4F7C-%04X-%012llX}",
             static_cast<unsigned>(GetCurrentProcessId() & 0xFFFF), ++packages & 0xFFFF,
             static_cast<unsigned long long>(now.QuadPart) & 0xFFFFFFFFFFFFULL);
    MsiSummaryInfoSetPropertyW(summary, PIDSI_REVNUMBER, VT_LPSTR, 0, nullptr, packageCode);
    MsiSummaryInfoSetPropertyW(summary, PIDSI_PAGECOUNT, VT_I4, 200, nullptr, nullptr);
    MsiSummaryInfoSetPropertyW(summary, PIDSI_WORDCOUNT, VT_I4, 2, nullptr, nullptr);
    MsiSummaryInfoPersist(summary);
    MsiCloseHandle(summary);
    const UINT result = MsiDatabaseCommit(database_);
    if (result != ERROR_SUCCESS)
        failWith(L"MsiDatabaseCommit", result);
    MsiCloseHandle(database_);
    database_ = 0;
}

Session TestPackage::session() {
    commit();
    MSIHANDLE handle = 0;
    const UINT result = MsiOpenPackageW(path_.c_str(), &handle);
    if (result != ERROR_SUCCESS)
        failWith(L"MsiOpenPackageW " + path_, result);
    return Session(handle);
}

void addProductMessages(TestPackage& package) {
    package.property(L"ProductName", L"Demo Product");
    package.error(25004, L"[ProductName] Setup");
    package.error(25006, L"Delete the configuration data?");
    package.error(25012, L"Invalid parameters: [2]");
    package.error(25014, L"Not every file date of [ProductName] could be repaired.");
}

MessageCapture::MessageCapture() {
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    previous_ = MsiSetExternalUIW(handler, INSTALLLOGMODE_INFO | INSTALLLOGMODE_ERROR, this);
}

MessageCapture::~MessageCapture() {
    MsiSetExternalUIW(previous_, 0, nullptr);
}

INT CALLBACK MessageCapture::handler(LPVOID context, UINT type, LPCWSTR message) {
    auto* capture = static_cast<MessageCapture*>(context);
    const UINT kind = type & 0xFF000000;
    // The installer's own line when a session starts its log is not one of the actions' lines.
    const wchar_t kLogStart[] = L"=== Logging started";
    const bool logStart = message != nullptr && wcsncmp(message, kLogStart, wcslen(kLogStart)) == 0;
    if (message != nullptr && !logStart && (kind == INSTALLMESSAGE_INFO || kind == INSTALLMESSAGE_ERROR)) {
        std::lock_guard<std::mutex> lock(capture->mutex_);
        capture->messages_.push_back({kind, message});
    }
    return 0;
}

std::vector<MessageCapture::Message> MessageCapture::messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

std::vector<std::wstring> MessageCapture::lines() const {
    std::vector<std::wstring> lines;
    for (const Message& message : messages())
        lines.push_back(message.text);
    return lines;
}

std::vector<std::wstring> MessageCapture::infoLines() const {
    std::vector<std::wstring> lines;
    for (const Message& message : messages()) {
        if (message.type == INSTALLMESSAGE_INFO)
            lines.push_back(message.text);
    }
    return lines;
}

std::vector<std::wstring> MessageCapture::errorLines() const {
    std::vector<std::wstring> lines;
    for (const Message& message : messages()) {
        if (message.type == INSTALLMESSAGE_ERROR)
            lines.push_back(message.text);
    }
    return lines;
}

bool MessageCapture::hasLine(const std::wstring& text) const {
    for (const Message& message : messages()) {
        if (message.text == text)
            return true;
    }
    return false;
}

void MessageCapture::clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.clear();
}

BoxAnswerer::BoxAnswerer(std::wstring caption, int button, DWORD timeoutMs)
    : caption_(std::move(caption)), button_(button), timeoutMs_(timeoutMs), thread_([this] { run(); }) {}

BoxAnswerer::~BoxAnswerer() {
    wait();
}

bool BoxAnswerer::wait() {
    if (thread_.joinable())
        thread_.join();
    return answered_;
}

void BoxAnswerer::run() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs_);
    while (std::chrono::steady_clock::now() < deadline) {
        // Only this process's box: test programs running beside this one share the desktop and may
        // show a box with the same caption.
        HWND box = nullptr;
        for (HWND w = FindWindowExW(nullptr, nullptr, L"#32770", caption_.c_str()); w != nullptr;
             w = FindWindowExW(nullptr, w, L"#32770", caption_.c_str())) {
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            if (owner == GetCurrentProcessId()) {
                box = w;
                break;
            }
        }
        if (box != nullptr) {
            // The message text is the static control without an icon (id 0xFFFF in the system's box).
            HWND textControl = GetDlgItem(box, 0xFFFF);
            wchar_t text[2048] = {0};
            if (textControl != nullptr)
                GetWindowTextW(textControl, text, 2048);
            text_ = text;
            style_ = static_cast<UINT>(GetWindowLongW(box, GWL_STYLE));
            HWND button = GetDlgItem(box, button_);
            if (button != nullptr) {
                PostMessageW(button, BM_CLICK, 0, 0);
                answered_ = true;
                return;
            }
        }
        Sleep(20);
    }
}

InstalledProduct::InstalledProduct(const std::wstring& productCode, const std::wstring& location)
    : code_(productCode) {
    const std::wstring path =
        currentDirectory() + L"installed-product-" + std::to_wstring(GetCurrentProcessId()) + L".msi";
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    MsiConfigureProductW(code_.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);  // a leftover
    {
        TestPackage package(path);
        package.property(L"ProductCode", code_);
        addProductMessages(package);
        package.property(L"ProductVersion", L"1.0.0");
        package.property(L"Manufacturer", L"kvo tests");
        package.property(L"ProductLanguage", L"1033");
        package.run(L"INSERT INTO `Directory` (`Directory`, `DefaultDir`) VALUES ('TARGETDIR', 'SourceDir')");
        package.run(L"INSERT INTO `Feature` (`Feature`, `Level`, `Attributes`) VALUES ('Main', 1, 0)");
        const wchar_t* const actions[][2] = {
            {L"CostInitialize", L"800"},   {L"FileCost", L"900"},           {L"CostFinalize", L"1000"},
            {L"InstallValidate", L"1400"}, {L"InstallInitialize", L"1500"}, {L"RegisterProduct", L"6100"},
            {L"PublishFeatures", L"6300"}, {L"PublishProduct", L"6400"},    {L"InstallFinalize", L"6600"}};
        for (const auto& action : actions)
            package.run(
                std::wstring(L"INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('") +
                action[0] + L"', " + action[1] + L")");
        package.commit();
        result_ = MsiInstallProductW(path.c_str(), (L"ARPINSTALLLOCATION=\"" + location + L"\"").c_str());
    }
}

InstalledProduct::~InstalledProduct() {
    MsiConfigureProductW(code_.c_str(), INSTALLLEVEL_DEFAULT, INSTALLSTATE_ABSENT);
}

KtaLibrary::KtaLibrary(const std::wstring& path) : module_(LoadLibraryW(path.c_str())) {}

KtaLibrary::~KtaLibrary() {
    if (module_ != nullptr)
        FreeLibrary(module_);
}

KtaLibrary::Action KtaLibrary::action(const char* name) const {
    return module_ != nullptr
               ? reinterpret_cast<Action>(reinterpret_cast<void*>(GetProcAddress(module_, name)))
               : nullptr;
}

std::wstring currentDirectory() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, path);
    std::wstring directory(path, length);
    if (directory.empty() || directory.back() != L'\\')
        directory += L'\\';
    return directory;
}

std::wstring makeScratchDirectory(const std::wstring& name) {
    const std::wstring path = currentDirectory() + name + L"\\";
    removeTree(path);
    makeDirectory(path);
    return path;
}

std::wstring makeLinkTarget(const std::wstring& name) {
    const std::wstring folder = makeScratchDirectory(name);
    makeDirectory(folder + L"cache");
    makeDirectory(folder + L"deeper\\empty");
    writeTextFile(folder + L"kept.txt", "not the product's");
    return folder;
}

std::wstring machineString(const wchar_t* key, const wchar_t* name) {
    wchar_t value[1024] = {0};
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return L"<none>";
    return value;
}

}  // namespace kvotest
