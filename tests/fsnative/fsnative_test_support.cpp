#include "fsnative_test_support.h"

#include <atomic>

#include "os_calls.h"

namespace fstest {

void defineLibraryClasses(kvojni::Vm& vm, const ClassOptions& options) {
    vm.defineClass(kFileSysFuncs);
    struct Constant {
        const char* name;
        jint value;
        bool attribute;
    };
    const Constant constants[] = {
        {"FILE_ATTRIBUTE_READONLY", kJavaReadOnly, true},
        {"FILE_ATTRIBUTE_HIDDEN", kJavaHidden, true},
        {"FILE_ATTRIBUTE_SYSTEM", kJavaSystem, true},
        {"FILE_ATTRIBUTE_DIRECTORY", kJavaDirectory, true},
        {"FILE_ATTRIBUTE_ARCHIVE", kJavaArchive, true},
        {"FILE_ATTRIBUTE_NORMAL", kJavaNormal, true},
        {"FILE_ATTRIBUTE_TEMPORARY", kJavaTemporary, true},
        {"FILE_ATTRIBUTE_COMPRESSED", kJavaCompressed, true},
        {"TYPE_FLOPPY", kTypeFloppy, false},
        {"TYPE_FIXED", kTypeFixed, false},
        {"TYPE_NETWORK", kTypeNetwork, false},
        {"TYPE_CDROM", kTypeCdrom, false},
        {"TYPE_RAMDRIVE", kTypeRamdrive, false},
    };
    for (const Constant& c : constants) {
        // A missing field: the last of its group is left out.
        if (c.attribute && !options.attributeFields && c.value == kJavaCompressed)
            continue;
        if (!c.attribute && !options.driveTypeFields && c.value == kTypeRamdrive)
            continue;
        vm.addStaticField(kFileSysFuncs, c.name, "I");
        vm.setStaticIntField(kFileSysFuncs, c.name, c.value);
    }
    if (options.separatorField) {
        vm.addStaticField(kFileSysFuncs, "native_sep", "C");
        vm.setStaticCharField(kFileSysFuncs, "native_sep", u'?');
    }
    vm.defineClass(kFileTime);
    vm.addField(kFileTime, "lowDateTime", "I");
    vm.addField(kFileTime, "hiDateTime", "I");
    vm.defineClass(kDosDateTime);
    vm.addField(kDosDateTime, "date", "I");
    vm.addField(kDosDateTime, "time", "I");

    vm.defineClass(kRndAccessFile);
    if (options.handleField)
        vm.addField(kRndAccessFile, "filehandle", "J");
    vm.defineClass(kUncFile);
    if (options.pathField)
        vm.addField(kUncFile, "path", "Ljava/lang/String;");
}

FsNativeTest::FsNativeTest(const ClassOptions& options) : env(vm.env()) {
    defineLibraryClasses(vm, options);
    fileSysFuncs = env->FindClass(kFileSysFuncs);
}

void FsNativeTest::SetUp() {
    SetErrorMode(kTestErrorMode);
    threadErrorMode = GetThreadErrorMode();
}

void FsNativeTest::TearDown() {
    EXPECT_EQ(GetErrorMode(), kTestErrorMode) << "a native left the error mode changed";
    EXPECT_EQ(GetThreadErrorMode(), threadErrorMode) << "a native left its thread's error mode changed";
    EXPECT_EQ(vm.pinnedBuffers(), 0u) << "a native kept string characters or array elements";
}

jstring FsNativeTest::str(const std::string& utf8Text) {
    return vm.newString(utf8Text);
}

jstring FsNativeTest::str(const std::wstring& text) {
    return vm.newStringUtf16(std::u16string(text.begin(), text.end()));
}

jobject FsNativeTest::uncFile(const std::wstring& path) {
    jobject file = vm.newInstance(kUncFile);
    vm.setObjectField(file, "path", str(path));
    return file;
}

jobject FsNativeTest::uncFileWithNullPath() {
    return vm.newInstance(kUncFile);
}

jobject FsNativeTest::rndFile() {
    jobject file = vm.newInstance(kRndAccessFile);
    vm.setLongField(file, "filehandle", -1);
    return file;
}

jobject FsNativeTest::fileTime(std::uint64_t value) {
    jobject holder = vm.newInstance(kFileTime);
    vm.setIntField(holder, "lowDateTime", static_cast<jint>(static_cast<std::uint32_t>(value)));
    vm.setIntField(holder, "hiDateTime", static_cast<jint>(static_cast<std::uint32_t>(value >> 32)));
    return holder;
}

std::uint64_t FsNativeTest::fileTimeValue(jobject holder) {
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(vm.intField(holder, "hiDateTime"))) << 32) |
           static_cast<std::uint32_t>(vm.intField(holder, "lowDateTime"));
}

jobject FsNativeTest::dosDateTime(jint date, jint time) {
    jobject holder = vm.newInstance(kDosDateTime);
    vm.setIntField(holder, "date", date);
    vm.setIntField(holder, "time", time);
    return holder;
}

std::optional<std::vector<std::wstring>> FsNativeTest::strings(jobjectArray array) {
    if (array == nullptr)
        return std::nullopt;
    EXPECT_EQ(vm.elementClassName(array), "java/lang/String");
    std::vector<std::wstring> result;
    for (jsize i = 0; i < vm.arrayLength(array); ++i) {
        const std::optional<std::string> element = vm.stringElement(array, i);
        EXPECT_TRUE(element.has_value()) << "null element " << i;
        jobject s = env->GetObjectArrayElement(array, i);
        const std::u16string units = vm.stringUtf16(s);
        env->DeleteLocalRef(s);
        result.emplace_back(units.begin(), units.end());
    }
    return result;
}

std::string FsNativeTest::takeException() {
    if (!vm.exceptionPending())
        return "";
    const std::string text = vm.pendingExceptionClass() + ": " + vm.pendingExceptionMessage();
    vm.clearException();
    return text;
}

namespace {

std::atomic<unsigned> directoryCount{0};

}  // namespace

DocumentedCodePage::DocumentedCodePage(UINT ansi, UINT real)
    : kvotest::DocumentedCodePage({&kvo::fsnative::os.GetACP, &kvo::fsnative::os.WideCharToMultiByte,
                                   &kvo::fsnative::os.MultiByteToWideChar, nullptr},
                                  ansi, real) {}

TestDir::TestDir(const std::wstring& parent) {
    std::wstring base = parent;
    if (base.empty()) {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        base = temp;
    }
    path_ = base + L"kvofs" + std::to_wstring(GetCurrentProcessId()) + L"_" +
            std::to_wstring(++directoryCount) + L"\\";
    removeTree(path_);
    CreateDirectoryW(path_.c_str(), nullptr);
}

TestDir::~TestDir() {
    removeTree(path_);
}

std::wstring TestDir::write(const std::wstring& name, const std::string& content) const {
    const std::wstring path = path_ + name;
    writeTextFile(path, content);
    return path;
}

std::wstring TestDir::mkdir(const std::wstring& name) const {
    const std::wstring path = path_ + name;
    EXPECT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << toNarrow(path);
    return path;
}

DWORD attributes(const std::wstring& path) {
    return GetFileAttributesW(path.c_str());
}

std::uint64_t toValue(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FILETIME toFileTime(std::uint64_t value) {
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(value);
    time.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return time;
}

}  // namespace fstest
