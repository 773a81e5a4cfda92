// Test support for nqfsfunc: a JNI test double with the three Java classes of the library (their
// constants taken from the generated JNI header), Java objects and strings for the natives'
// arguments, and real directories and files made with the wide Win32 functions.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "com_orvane_kvo_libs_FileSysFuncs.h"
#include "com_orvane_kvo_libs_RndAccessFile.h"
#include "com_orvane_kvo_libs_UNCFile.h"
#include "documented_code_page.h"
#include "jni_double.h"
#include "test_files.h"

namespace fstest {

constexpr const char* kFileSysFuncs = "com/orvane/kvo/libs/FileSysFuncs";
constexpr const char* kRndAccessFile = "com/orvane/kvo/libs/RndAccessFile";
constexpr const char* kUncFile = "com/orvane/kvo/libs/UNCFile";
constexpr const char* kFileTime = "com/orvane/kvo/libs/FileSysFuncs$FileTime";
constexpr const char* kDosDateTime = "com/orvane/kvo/libs/FileSysFuncs$DosDateTime";

// The Java constants, as the Java declarations give them.
constexpr jint kJavaReadOnly = com_orvane_kvo_libs_FileSysFuncs_FILE_ATTRIBUTE_READONLY;
constexpr jint kJavaHidden = com_orvane_kvo_libs_FileSysFuncs_FILE_ATTRIBUTE_HIDDEN;
constexpr jint kJavaSystem = com_orvane_kvo_libs_FileSysFuncs_FILE_ATTRIBUTE_SYSTEM;
constexpr jint kJavaDirectory = com_orvane_kvo_libs_FileSysFuncs_FILE_ATTRIBUTE_DIRECTORY;
constexpr jint kJavaArchive = com_orvane_kvo_libs_FileSysFuncs_FILE_ATTRIBUTE_ARCHIVE;
constexpr jint kJavaNormal = com_orvane_kvo_libs_FileSysFuncs_FILE_ATTRIBUTE_NORMAL;
constexpr jint kJavaTemporary = com_orvane_kvo_libs_FileSysFuncs_FILE_ATTRIBUTE_TEMPORARY;
constexpr jint kJavaCompressed = com_orvane_kvo_libs_FileSysFuncs_FILE_ATTRIBUTE_COMPRESSED;
constexpr jint kTypeFloppy = com_orvane_kvo_libs_FileSysFuncs_TYPE_FLOPPY;
constexpr jint kTypeFixed = com_orvane_kvo_libs_FileSysFuncs_TYPE_FIXED;
constexpr jint kTypeNetwork = com_orvane_kvo_libs_FileSysFuncs_TYPE_NETWORK;
constexpr jint kTypeCdrom = com_orvane_kvo_libs_FileSysFuncs_TYPE_CDROM;
constexpr jint kTypeRamdrive = com_orvane_kvo_libs_FileSysFuncs_TYPE_RAMDRIVE;

// The error mode the tests run under; every native must leave it so, and its thread's mode too.
constexpr UINT kTestErrorMode = SEM_NOGPFAULTERRORBOX;

// The library's code-page calls through its seam as Windows documents them for the ANSI code page
// `ansi` (documented_code_page.h).
class DocumentedCodePage : public kvotest::DocumentedCodePage {
public:
    DocumentedCodePage(UINT ansi, UINT real);
};

// What the class FileSysFuncs leaves out (for the tests of a missing field).
struct ClassOptions {
    bool attributeFields = true;
    bool driveTypeFields = true;
    bool separatorField = true;
    bool handleField = true;
    bool pathField = true;
};

// Defines the library's Java classes in a test double.
void defineLibraryClasses(kvojni::Vm& vm, const ClassOptions& options = {});

class FsNativeTest : public ::testing::Test {
protected:
    FsNativeTest() : FsNativeTest(ClassOptions{}) {}
    explicit FsNativeTest(const ClassOptions& options);
    void SetUp() override;
    void TearDown() override;

    jstring str(const std::string& utf8);  // modified UTF-8 (the same bytes as UTF-8 in the BMP)
    jstring str(const std::wstring& text);
    jobject uncFile(const std::wstring& path);
    jobject uncFileWithNullPath();
    jobject rndFile();
    jlong handleOf(jobject rnd) { return vm.longField(rnd, "filehandle"); }
    jobject fileTime(std::uint64_t value);
    std::uint64_t fileTimeValue(jobject holder);
    jobject dosDateTime(jint date, jint time);

    // The elements of a String[] as wide text; nullopt for a null array.
    std::optional<std::vector<std::wstring>> strings(jobjectArray array);
    // The pending exception as "class: message", then cleared; "" when none is pending.
    std::string takeException();

    kvojni::Vm vm;
    JNIEnv* env;
    jclass fileSysFuncs;
    DWORD threadErrorMode = 0;
};

// A fresh directory (with a trailing backslash), removed with everything in it at the end.
class TestDir {
public:
    explicit TestDir(const std::wstring& parent = L"");
    ~TestDir();
    TestDir(const TestDir&) = delete;
    TestDir& operator=(const TestDir&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& name) const { return path_ + name; }
    // A file with content (created or replaced).
    std::wstring write(const std::wstring& name, const std::string& content) const;
    std::wstring mkdir(const std::wstring& name) const;

private:
    std::wstring path_;
};

using kvotest::exists;
using kvotest::readTextFile;
using kvotest::removeTree;
using kvotest::toNarrow;
using kvotest::writeTextFile;
DWORD attributes(const std::wstring& path);
std::uint64_t toValue(const FILETIME& time);
FILETIME toFileTime(std::uint64_t value);
// The share set up in the test prefix: \\kvoserver\share is C:\kvo-share.
constexpr const wchar_t* kShareLocal = L"C:\\kvo-share\\";
constexpr const wchar_t* kShareUnc = L"\\\\kvoserver\\share\\";

}  // namespace fstest
