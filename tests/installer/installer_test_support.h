// Helpers of the custom-action tests: installation packages made at test time and sessions opened
// on them, the installer's messages captured through the external user interface, message boxes
// answered by a thread, an installed product that gives the actions an installation location, and
// files and directories on disk.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "test_files.h"

namespace kvotest {

using Row = std::vector<std::wstring>;  // the fields of a record as texts (integers in decimal)

// An open installer session on a package; closed at the end.
class Session {
public:
    explicit Session(MSIHANDLE handle) : handle_(handle) {}
    ~Session();
    Session(Session&& other) noexcept : handle_(other.handle_) { other.handle_ = 0; }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    MSIHANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != 0; }
    std::wstring property(const std::wstring& name) const;
    void setProperty(const std::wstring& name, const std::wstring& value) const;
    // The rows a query on the session's database gives, every field as text.
    std::vector<Row> rows(const std::wstring& query) const;

private:
    MSIHANDLE handle_;
};

// A package made at test time: Property, Error, Directory, Component, Feature, FeatureComponents,
// Condition, RemoveFile and Registry tables with the installer's column layout; rows are added with
// SQL or the shortcuts; session() commits it, writes its summary (with a revision number, without
// which the installer refuses to open it) and opens it.
class TestPackage {
public:
    explicit TestPackage(const std::wstring& path);
    // Only the tables named (a package that lacks the others).
    TestPackage(const std::wstring& path, std::initializer_list<const wchar_t*> tables);
    ~TestPackage();
    TestPackage(const TestPackage&) = delete;
    TestPackage& operator=(const TestPackage&) = delete;

    const std::wstring& path() const { return path_; }
    void run(const std::wstring& sql);
    void property(const std::wstring& name, const std::wstring& value);
    void error(int number, const std::wstring& text);
    // Closes the database for good; the package stays on disk until the object ends.
    void commit();
    Session session();

private:
    std::wstring path_;
    MSIHANDLE database_ = 0;
};

// The messages of the product's package the actions use: 25004 "[ProductName] Setup" (captions),
// 25006 (the question about persistent data), 25012 "Invalid parameters: [2]" and 25014.
void addProductMessages(TestPackage& package);

// The installer's info and error messages, as its external user interface gets them (fully
// formatted), while the object lives. Only one at a time.
class MessageCapture {
public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    struct Message {
        UINT type;  // INSTALLMESSAGE_INFO or INSTALLMESSAGE_ERROR
        std::wstring text;
    };
    std::vector<Message> messages() const;
    std::vector<std::wstring> lines() const;  // texts of both kinds, in order
    std::vector<std::wstring> infoLines() const;
    std::vector<std::wstring> errorLines() const;
    bool hasLine(const std::wstring& text) const;
    void clear();

private:
    static INT CALLBACK handler(LPVOID context, UINT type, LPCWSTR message);
    mutable std::mutex mutex_;
    std::vector<Message> messages_;
    INSTALLUI_HANDLERW previous_ = nullptr;
};

// Waits on a thread for a message box with the caption, reads its text and presses a button of it.
class BoxAnswerer {
public:
    BoxAnswerer(std::wstring caption, int button, DWORD timeoutMs = 20000);
    ~BoxAnswerer();
    // Joins the thread; whether a box was found and answered.
    bool wait();
    const std::wstring& text() const { return text_; }
    UINT style() const { return style_; }

private:
    void run();
    std::wstring caption_;
    int button_;
    DWORD timeoutMs_;
    std::wstring text_;
    UINT style_ = 0;
    bool answered_ = false;
    std::thread thread_;
};

// A product installed for the length of a test suite from a package without files, with its
// installation location set, so that MsiGetProductInfoW(code, "InstallLocation") gives it.
class InstalledProduct {
public:
    InstalledProduct(const std::wstring& productCode, const std::wstring& location);
    ~InstalledProduct();
    UINT installResult() const { return result_; }

private:
    std::wstring code_;
    UINT result_;
};

// The kta_ca.dll of the build under test, loaded for the object's lifetime (each load starts with
// fresh counters).
class KtaLibrary {
public:
    using Action = UINT(__stdcall*)(MSIHANDLE);
    explicit KtaLibrary(const std::wstring& path = L"kta_ca.dll");
    ~KtaLibrary();
    HMODULE module() const { return module_; }
    Action action(const char* name) const;

private:
    HMODULE module_;
};

// Directories (the other file helpers are those of test_files.h).
std::wstring currentDirectory();                              // with a trailing backslash
std::wstring makeScratchDirectory(const std::wstring& name);  // below the current directory, emptied first
// A scratch directory outside the product for links to point to: a file and empty folders in it
// (kept.txt, cache\, deeper\empty\).
std::wstring makeLinkTarget(const std::wstring& name);
// A text value of a key of HKEY_LOCAL_MACHINE, or "<none>".
std::wstring machineString(const wchar_t* key, const wchar_t* name);

}  // namespace kvotest
