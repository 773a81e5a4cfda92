// FileSysFuncs natives on real files, directories and the drives of the test prefix.
#include <windows.h>

#include <lm.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <thread>

#include "fsnative_test_support.h"
#include "os_calls.h"
#include "seam.h"

#define FSF(name) Java_com_orvane_kvo_libs_FileSysFuncs_##name

namespace fstest {
namespace {

using kvo::fsnative::os;

class FileSysFuncsTest : public FsNativeTest {
protected:
    jboolean copy(const std::wstring& from, const std::wstring& to, bool overwrite) {
        return FSF(NativeCopyFile)(env, fileSysFuncs, str(from), str(to), overwrite ? JNI_TRUE : JNI_FALSE);
    }
    jboolean move(const std::wstring& from, const std::wstring& to, bool overwrite) {
        return FSF(NativeMoveFile)(env, fileSysFuncs, str(from), str(to), overwrite ? JNI_TRUE : JNI_FALSE);
    }
    jint getAttributes(const std::wstring& path) {
        return FSF(nativeGetFileAttributes)(env, fileSysFuncs, str(path));
    }
    jint driveType(const std::string& root) {
        return FSF(NativeGetVolumeDriveType)(env, fileSysFuncs, str(root));
    }
    std::optional<std::wstring> volumeName(const std::string& root) {
        jstring name = FSF(NativeGetVolumeName)(env, fileSysFuncs, str(root));
        if (name == nullptr)
            return std::nullopt;
        const std::u16string units = vm.stringUtf16(name);
        return std::wstring(units.begin(), units.end());
    }
    std::optional<std::string> shareName(const std::string& root) {
        jstring name = FSF(NativeGetVolumeShareName)(env, fileSysFuncs, str(root));
        if (name == nullptr)
            return std::nullopt;
        return vm.stringUtf8(name);
    }

    TestDir dir;
};

TEST_F(FileSysFuncsTest, CopiesWithAndWithoutOverwrite) {
    const std::wstring from = dir.write(L"from.txt", "new");
    const std::wstring to = dir.write(L"to.txt", "old");
    EXPECT_FALSE(copy(from, to, false));
    EXPECT_EQ(readTextFile(to), "old");
    EXPECT_TRUE(copy(from, to, true));
    EXPECT_EQ(readTextFile(to), "new");
    EXPECT_TRUE(copy(from, dir / L"fresh.txt", false));
    EXPECT_EQ(readTextFile(dir / L"fresh.txt"), "new");
    EXPECT_FALSE(copy(dir / L"missing.txt", dir / L"other.txt", true));
    EXPECT_FALSE(exists(dir / L"other.txt"));
}

// A path names the file it names, or none. Under 932 U+301C (WAVE DASH) once converted to the code
// of U+FF5E (FULLWIDTH TILDE), so a path with it reached the other file; under 1252 neither has a
// local form. A path with a character without an exact local form fails, and the other file stays.
TEST_F(FileSysFuncsTest, APathWithoutAnExactLocalFormNamesNoOtherFile) {
    const std::wstring source = dir.write(L"source.txt", "new");
    const std::wstring tilde = dir.write(L"a\uFF5Eb.txt", "data");
    const std::wstring lookAlike = dir.write(L"O.txt", "other");
    const struct {
        wchar_t character;
        std::wstring path;
    } cases[] = {
        {L'\x301C', dir / L"a\u301Cb.txt"},
        {L'\x03A9', dir / L"\x03A9.txt"},  // under 1252: "O.txt" by best fit
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(toNarrow(c.path));
        char bytes[8];
        BOOL used = FALSE;
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, &c.character, 1, bytes, sizeof(bytes), nullptr,
                            &used);
        if (!used)
            continue;  // the code page has an exact form of it
        const std::wstring& path = c.path;
        EXPECT_EQ(getAttributes(path), -1);
        EXPECT_FALSE(copy(source, path, true));
        EXPECT_FALSE(move(source, path, true));
        EXPECT_FALSE(FSF(nativeSetFileAttributes)(env, fileSysFuncs, str(path), kJavaReadOnly));
        EXPECT_FALSE(FSF(nativeGetFileTime)(env, fileSysFuncs, str(path), nullptr, nullptr, fileTime(0)));
        EXPECT_FALSE(FSF(nativeSetFileTime)(env, fileSysFuncs, str(path), nullptr, nullptr, fileTime(0)));
        EXPECT_EQ(FSF(nativeGetFileTimeMillis)(env, fileSysFuncs, str(path), 2), 0);
    }
    EXPECT_EQ(readTextFile(tilde), "data");
    EXPECT_EQ(readTextFile(lookAlike), "other");
    EXPECT_EQ(attributes(tilde) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(readTextFile(source), "new");
}

// Code pages whose conversion calls refuse flags, through the seam (Wine converts whatever flags it
// gets): under UTF-8 a path has its exact form (one with a lone surrogate has none:
// RndAccessFileTest.UnderTheUtf8CodePageAUnitTakesThreeBytes); under 42 (no flag may turn best fit
// off; it converts as 1252 here) a look-alike is refused by the check of the result. The file system
// reads the bytes as 1252 does, so the UTF-8 bytes name files of 1252 characters.
TEST_F(FileSysFuncsTest, PathsAreExactUnderCodePagesThatRefuseFlags) {
    if (GetACP() != 1252)
        GTEST_SKIP() << "the file names are checked as code page 1252 reads the bytes";
    const std::wstring source = dir.write(L"source.txt", "new");
    const std::wstring lookAlike = dir.write(L"O.txt", "other");
    {
        const DocumentedCodePage utf8(CP_UTF8, CP_UTF8);
        EXPECT_TRUE(copy(source, dir / L"\x65E5\x672C\x20AC", false));
        EXPECT_TRUE(exists(dir / L"\x00E6\x2014\x00A5\x00E6\x0153\x00AC\x00E2\x201A\x00AC"));
        EXPECT_NE(getAttributes(dir / L"\x65E5\x672C\x20AC"), -1);
        EXPECT_GT(FSF(NativeGetVolumeSize)(env, fileSysFuncs, str("C:")), 0);
        EXPECT_EQ(DocumentedCodePage::refused(), 0) << "a call Windows refuses for UTF-8";
    }
    {
        const DocumentedCodePage symbol(CP_SYMBOL, 1252);
        EXPECT_TRUE(copy(source, dir / L"caf\x00E9.txt", false));
        EXPECT_EQ(readTextFile(dir / L"caf\x00E9.txt"), "new");
        EXPECT_FALSE(copy(source, dir / L"\x03A9.txt", true)) << "best fit would give O.txt";
        EXPECT_EQ(getAttributes(dir / L"\x03A9.txt"), -1);
        EXPECT_EQ(DocumentedCodePage::refused(), 0) << "a call Windows refuses for 42";
    }
    EXPECT_EQ(readTextFile(lookAlike), "other");
}

TEST_F(FileSysFuncsTest, MovesAcrossDirectoriesAndOntoAnExistingTarget) {
    const std::wstring sub = dir.mkdir(L"sub");
    const std::wstring first = dir.write(L"first.txt", "first");
    EXPECT_TRUE(move(first, sub + L"\\moved.txt", false));
    EXPECT_FALSE(exists(first));
    EXPECT_EQ(readTextFile(sub + L"\\moved.txt"), "first");

    const std::wstring second = dir.write(L"second.txt", "second");
    EXPECT_FALSE(move(second, sub + L"\\moved.txt", false));
    EXPECT_EQ(readTextFile(second), "second");
    EXPECT_EQ(readTextFile(sub + L"\\moved.txt"), "first");
    EXPECT_TRUE(move(second, sub + L"\\moved.txt", true));
    EXPECT_FALSE(exists(second));
    EXPECT_EQ(readTextFile(sub + L"\\moved.txt"), "second");
}

TEST_F(FileSysFuncsTest, ListsTheDrivesOfThePrefix) {
    const std::optional<std::vector<std::wstring>> volumes =
        strings(FSF(NativeGetVolumes)(env, fileSysFuncs));
    ASSERT_TRUE(volumes.has_value());
    for (const wchar_t* root : {L"C:\\", L"M:\\", L"N:\\", L"O:\\", L"Q:\\", L"Z:\\"})
        EXPECT_NE(std::find(volumes->begin(), volumes->end(), root), volumes->end()) << toNarrow(root);
    for (const std::wstring& root : *volumes)
        EXPECT_EQ(root.size(), 3u) << toNarrow(root);
}

TEST_F(FileSysFuncsTest, DrivesThatAppearBetweenTheTwoCallsAreListed) {
    static int calls = 0;
    calls = 0;
    struct Growing {
        static DWORD WINAPI drives(DWORD size, LPSTR buffer) {
            // The first answer asks for room for one drive; by the second call there are two.
            static const char kTwo[] = "C:\\\0D:\\\0";
            if (++calls == 1)
                return 5;
            if (size < sizeof(kTwo))
                return sizeof(kTwo);
            memcpy(buffer, kTwo, sizeof(kTwo));
            return sizeof(kTwo) - 1;
        }
    };
    const auto restore = kvo::replace(os.GetLogicalDriveStringsA, &Growing::drives);
    const auto volumes = strings(FSF(NativeGetVolumes)(env, fileSysFuncs));
    ASSERT_TRUE(volumes.has_value());
    EXPECT_EQ(*volumes, (std::vector<std::wstring>{L"C:\\", L"D:\\"}));
    EXPECT_EQ(calls, 3);
}

TEST_F(FileSysFuncsTest, VolumeNameSizeAndFreeSpaceWithAndWithoutTheBackslash) {
    const jlong size = FSF(NativeGetVolumeSize)(env, fileSysFuncs, str("C:"));
    const jlong free = FSF(NativeGetVolumeFreeSpace)(env, fileSysFuncs, str("C:"));
    EXPECT_GT(size, 0);
    EXPECT_GE(free, 0);
    EXPECT_LE(free, size);
    EXPECT_EQ(FSF(NativeGetVolumeSize)(env, fileSysFuncs, str("C:\\")), size);
    ULARGE_INTEGER total;
    ASSERT_TRUE(GetDiskFreeSpaceExW(L"C:\\", nullptr, &total, nullptr));
    EXPECT_EQ(static_cast<std::uint64_t>(size), total.QuadPart);
    EXPECT_EQ(volumeName("C:"), volumeName("C:\\"));
    EXPECT_TRUE(volumeName("C:").has_value());

    // No such drive, and a CD-ROM drive without a disc: failure results, no dialog. (Wine gives the
    // empty drive an empty label, so only the missing drive has no name.)
    EXPECT_EQ(volumeName("W:"), std::nullopt);
    for (const char* root : {"W:", "P:\\"}) {
        EXPECT_EQ(FSF(NativeGetVolumeSize)(env, fileSysFuncs, str(root)), -1) << root;
        EXPECT_EQ(FSF(NativeGetVolumeFreeSpace)(env, fileSysFuncs, str(root)), -1) << root;
    }
}

TEST_F(FileSysFuncsTest, RootsOf128BytesOrMoreAreRejected) {
    // "C:" and backslashes: a doubled backslash is accepted, so 127 bytes still name C:.
    const std::string fits = "C:" + std::string(125, '\\');
    const std::string tooLong = "C:" + std::string(126, '\\');
    const jlong size = FSF(NativeGetVolumeSize)(env, fileSysFuncs, str("C:"));
    EXPECT_EQ(FSF(NativeGetVolumeSize)(env, fileSysFuncs, str(fits)), size);
    EXPECT_EQ(driveType(fits), kTypeFixed);
    EXPECT_EQ(FSF(NativeGetVolumeSize)(env, fileSysFuncs, str(tooLong)), -1);
    EXPECT_EQ(FSF(NativeGetVolumeFreeSpace)(env, fileSysFuncs, str(tooLong)), -1);
    EXPECT_EQ(volumeName(tooLong), std::nullopt);
    EXPECT_EQ(driveType(tooLong), 0);
    EXPECT_EQ(shareName(tooLong), std::nullopt);
    // Counted in modified UTF-8: 63 two-byte characters and "C:" make 128 bytes.
    std::string twoByte = "C:";
    for (int i = 0; i < 63; ++i)
        twoByte += "\xC3\xA9";
    EXPECT_EQ(FSF(NativeGetVolumeSize)(env, fileSysFuncs, str(twoByte)), -1);
    for (const jstring null : {jstring(nullptr)})
        EXPECT_EQ(FSF(NativeGetVolumeSize)(env, fileSysFuncs, null), -1);
}

TEST_F(FileSysFuncsTest, EveryDriveTypeOfTheTable) {
    const struct {
        const char* root;
        jint type;
    } cases[] = {
        {"M:\\", kTypeFloppy}, {"C:", kTypeFixed},   {"C:\\", kTypeFixed},
        {"N:", kTypeNetwork},  {"O:\\", kTypeCdrom}, {"Q:", kTypeRamdrive},
        {"W:\\", 0},           {"temp", 0},          {"1:", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(driveType(c.root), c.type) << c.root;
    EXPECT_EQ(FSF(NativeGetVolumeDriveType)(env, fileSysFuncs, nullptr), 0);
}

// NetUseEnum through the seam: Wine answers "not supported" and cannot make a connection.
struct Connections {
    USE_INFO_0 entries[4];
    static inline int enumerations = 0;
    static inline int frees = 0;
    static inline NET_API_STATUS status = NERR_Success;
    static inline std::wstring longLocal = L"N" + std::wstring(90, L'x') + L":";
    static inline std::wstring longRemote = L"\\\\" + std::wstring(120, L'r') + L"\\share";
    static inline std::wstring remote = L"\\\\kvoserver\\share";  // of the N: entry that fits

    static NET_API_STATUS WINAPI enumerate(LMSTR server, DWORD level, LPBYTE* buffer, DWORD preferred,
                                           LPDWORD read, LPDWORD total, LPDWORD) {
        ++enumerations;
        EXPECT_EQ(server, nullptr);
        EXPECT_EQ(level, 0u);
        EXPECT_EQ(preferred, MAX_PREFERRED_LENGTH);
        static Connections table;
        table.entries[0] = {const_cast<LPWSTR>(longLocal.c_str()), const_cast<LPWSTR>(L"\\\\cut\\off")};
        table.entries[1] = {const_cast<LPWSTR>(L"N:"), const_cast<LPWSTR>(longRemote.c_str())};
        table.entries[2] = {const_cast<LPWSTR>(L"Y:"), const_cast<LPWSTR>(L"\\\\other\\place")};
        table.entries[3] = {const_cast<LPWSTR>(L"N:"), const_cast<LPWSTR>(remote.c_str())};
        *buffer = reinterpret_cast<LPBYTE>(table.entries);
        *read = *total = 4;
        return status;
    }
    static NET_API_STATUS WINAPI release(LPVOID buffer) {
        ++frees;
        EXPECT_NE(buffer, nullptr);
        return NERR_Success;
    }
};

TEST_F(FileSysFuncsTest, ShareNameOfAMappedDrive) {
    const auto restoreEnum = kvo::replace(os.NetUseEnum, &Connections::enumerate);
    const auto restoreFree = kvo::replace(os.NetApiBufferFree, &Connections::release);
    Connections::enumerations = Connections::frees = 0;
    Connections::status = NERR_Success;

    // The over-long remote name of the first N: entry is skipped, never cut.
    EXPECT_EQ(shareName("N:"), "\\\\kvoserver\\share");
    EXPECT_EQ(shareName("N:\\"), "\\\\kvoserver\\share");
    // Compared case-sensitively.
    EXPECT_EQ(shareName("n:"), std::nullopt);
    EXPECT_EQ(Connections::enumerations, 3);
    EXPECT_EQ(Connections::frees, 3);
    // Not remote: no enumeration at all.
    EXPECT_EQ(shareName("C:"), std::nullopt);
    EXPECT_EQ(shareName("Q:\\"), std::nullopt);
    EXPECT_EQ(Connections::enumerations, 3);
    // The remote name as the system gives it, never a local form of it (under 932 a lead byte).
    Connections::remote = L"\\\\kvoserver\\caf\u00E9";
    EXPECT_EQ(shareName("N:"), "\\\\kvoserver\\caf\xC3\xA9");
    Connections::remote = L"\\\\kvoserver\\share";
    // A failed enumeration that still returned a buffer: null, and the buffer freed.
    Connections::status = ERROR_NOT_SUPPORTED;
    EXPECT_EQ(shareName("N:"), std::nullopt);
    EXPECT_EQ(Connections::frees, 5);
}

TEST_F(FileSysFuncsTest, ShareNameWithTheSystemsNetUseEnum) {
    // Under Wine the enumeration fails ("not supported"): null, not a crash or a stale name.
    EXPECT_EQ(shareName("N:"), std::nullopt);
}

TEST_F(FileSysFuncsTest, AttributesBothWays) {
    const std::wstring file = dir.write(L"file.txt", "x");
    EXPECT_TRUE(FSF(nativeSetFileAttributes)(env, fileSysFuncs, str(file), kJavaHidden | kJavaReadOnly));
    const DWORD system = attributes(file);
    EXPECT_EQ(system & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY),
              DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
    const jint archive = (system & FILE_ATTRIBUTE_ARCHIVE) ? kJavaArchive : 0;
    EXPECT_EQ(getAttributes(file), kJavaHidden | kJavaReadOnly | archive);

    // 0 is "normal" to the system.
    EXPECT_TRUE(FSF(nativeSetFileAttributes)(env, fileSysFuncs, str(file), 0));
    EXPECT_EQ(attributes(file) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY), 0u);
    EXPECT_EQ(getAttributes(file) & (kJavaHidden | kJavaReadOnly), 0);

    EXPECT_EQ(getAttributes(dir.path()) & kJavaDirectory, kJavaDirectory);
    EXPECT_EQ(getAttributes(dir / L"missing"), -1);
    EXPECT_FALSE(FSF(nativeSetFileAttributes)(env, fileSysFuncs, str(dir / L"missing"), kJavaHidden));
    EXPECT_EQ(FSF(nativeGetFileAttributes)(env, fileSysFuncs, nullptr), -1);
}

// 2020-01-02 03:04:05 UTC and 2021-07-08 09:10:11 UTC as FILETIME values.
constexpr std::uint64_t kJan2020 = 132224078450000000ULL;
constexpr std::uint64_t kJul2021 = 132702090110000000ULL;
constexpr std::uint64_t kSecond = 10000000ULL;

std::int64_t localOffset() {
    TIME_ZONE_INFORMATION zone;
    const DWORD which = GetTimeZoneInformation(&zone);
    LONG bias = zone.Bias + (which == TIME_ZONE_ID_DAYLIGHT ? zone.DaylightBias : 0);
    return -static_cast<std::int64_t>(bias) * 60 * static_cast<std::int64_t>(kSecond);
}

std::uint64_t lastWriteOf(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    FILETIME write = {};
    GetFileTime(file, nullptr, nullptr, &write);
    CloseHandle(file);
    return toValue(write);
}

TEST_F(FileSysFuncsTest, FileTimesOfAFileAndADirectoryComeBackInLocalTime) {
    ASSERT_NE(localOffset(), 0) << "run under a time zone other than UTC (TZ=Etc/GMT-3)";
    for (const std::wstring& path : {dir.write(L"times.txt", "t"), dir.mkdir(L"times.dir")}) {
        SCOPED_TRACE(toNarrow(path));
        // Set as given: the file holds exactly the value.
        EXPECT_TRUE(
            FSF(nativeSetFileTime)(env, fileSysFuncs, str(path), nullptr, nullptr, fileTime(kJan2020)));
        EXPECT_EQ(lastWriteOf(path), kJan2020);

        jobject creation = fileTime(1), access = fileTime(2), write = fileTime(3);
        EXPECT_TRUE(FSF(nativeGetFileTime)(env, fileSysFuncs, str(path), creation, access, write));
        EXPECT_EQ(fileTimeValue(write), kJan2020 + localOffset());
        EXPECT_NE(fileTimeValue(creation), 1u);
        EXPECT_GT(fileTimeValue(access), 2u);

        // Null holders are skipped.
        jobject onlyWrite = fileTime(0);
        EXPECT_TRUE(FSF(nativeGetFileTime)(env, fileSysFuncs, str(path), nullptr, nullptr, onlyWrite));
        EXPECT_EQ(fileTimeValue(onlyWrite), kJan2020 + localOffset());
    }
    EXPECT_FALSE(
        FSF(nativeGetFileTime)(env, fileSysFuncs, str(dir / L"missing"), fileTime(0), nullptr, nullptr));
    EXPECT_FALSE(
        FSF(nativeSetFileTime)(env, fileSysFuncs, str(dir / L"missing"), nullptr, nullptr, fileTime(0)));
    // No holder at all: nothing was set.
    EXPECT_FALSE(FSF(nativeSetFileTime)(env, fileSysFuncs, str(dir.write(L"none.txt", "")), nullptr, nullptr,
                                        nullptr));
}

// SetFileTime through the seam: under Wine a creation time set alone is ignored.
struct SetCalls {
    static inline std::vector<std::string> calls;
    static inline int failing = 0;  // this call (1-based) fails
    static BOOL WINAPI record(HANDLE file, const FILETIME* creation, const FILETIME* access,
                              const FILETIME* write) {
        const FILETIME* given = creation ? creation : access ? access : write;
        calls.push_back(std::string(creation ? "C" : "-") + (access ? "A" : "-") + (write ? "W" : "-") + " " +
                        std::to_string(toValue(*given)));
        if (static_cast<int>(calls.size()) == failing) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        return SetFileTime(file, creation, access, write);
    }
};

TEST_F(FileSysFuncsTest, EachTimeIsSetInACallOfItsOwnAndTheLastCallDecides) {
    const auto restore = kvo::replace(os.SetFileTime, &SetCalls::record);
    const std::wstring file = dir.write(L"set.txt", "s");
    const struct {
        int failing;
        bool result;
    } cases[] = {{0, true}, {1, true}, {3, false}};
    for (const auto& c : cases) {
        SetCalls::calls.clear();
        SetCalls::failing = c.failing;
        EXPECT_EQ(FSF(nativeSetFileTime)(env, fileSysFuncs, str(file), fileTime(kJan2020), fileTime(kJul2021),
                                         fileTime(kJan2020 + kSecond)),
                  c.result)
            << "failing call " << c.failing;
        EXPECT_EQ(SetCalls::calls, (std::vector<std::string>{"C-- " + std::to_string(kJan2020),
                                                             "-A- " + std::to_string(kJul2021),
                                                             "--W " + std::to_string(kJan2020 + kSecond)}));
    }
    SetCalls::calls.clear();
    SetCalls::failing = 0;
    EXPECT_TRUE(FSF(nativeSetFileTime)(env, fileSysFuncs, str(file), fileTime(kJul2021), nullptr, nullptr));
    EXPECT_EQ(SetCalls::calls, (std::vector<std::string>{"C-- " + std::to_string(kJul2021)}));
}

TEST_F(FileSysFuncsTest, HolderWithoutTheFieldsFails) {
    const std::wstring file = dir.write(L"holder.txt", "h");
    jobject wrongHolder = dosDateTime(0, 0);
    EXPECT_FALSE(FSF(nativeGetFileTime)(env, fileSysFuncs, str(file), nullptr, nullptr, wrongHolder));
    EXPECT_EQ(takeException(), "java/lang/NoSuchFieldError: lowDateTime");
    EXPECT_FALSE(FSF(nativeSetFileTime)(env, fileSysFuncs, str(file), wrongHolder, nullptr, nullptr));
    EXPECT_EQ(takeException(), "java/lang/NoSuchFieldError: lowDateTime");
    EXPECT_FALSE(FSF(nativeFileTimeToDosDateTime)(env, fileSysFuncs, fileTime(kJan2020), fileTime(0)));
    EXPECT_EQ(takeException(), "java/lang/NoSuchFieldError: date");
}

constexpr jint dosDate(int year, int month, int day) {
    return ((year - 1980) << 9) | (month << 5) | day;
}
constexpr jint dosTime(int hour, int minute, int second) {
    return (hour << 11) | (minute << 5) | (second / 2);
}

TEST_F(FileSysFuncsTest, DosDateAndTimeBothWays) {
    const struct {
        std::uint64_t fileTime;
        jint date, time;
    } cases[] = {
        {kJan2020, dosDate(2020, 1, 2), dosTime(3, 4, 4)},  // DOS keeps even seconds
        {kJul2021, dosDate(2021, 7, 8), dosTime(9, 10, 10)},
        {119600064000000000ULL, dosDate(1980, 1, 1), dosTime(0, 0, 0)},
        {140113152000000000ULL, dosDate(2045, 1, 1), dosTime(0, 0, 0)},  // a date word above 0x7FFF
    };
    for (const auto& c : cases) {
        jobject dos = dosDateTime(-1, -1);
        EXPECT_TRUE(FSF(nativeFileTimeToDosDateTime)(env, fileSysFuncs, fileTime(c.fileTime), dos))
            << c.fileTime;
        EXPECT_EQ(vm.intField(dos, "date"), c.date) << c.fileTime;
        EXPECT_EQ(vm.intField(dos, "time"), c.time) << c.fileTime;
        jobject back = fileTime(0);
        EXPECT_TRUE(FSF(nativeDosDateTimeToFileTime)(env, fileSysFuncs, dosDateTime(c.date, c.time), back));
        EXPECT_EQ(fileTimeValue(back), c.fileTime - c.fileTime % (2 * kSecond)) << c.fileTime;
    }
    // 1979-12-31 23:59:58: before what the DOS format can hold.
    jobject dos = dosDateTime(7, 7);
    EXPECT_FALSE(FSF(nativeFileTimeToDosDateTime)(env, fileSysFuncs, fileTime(119600063980000000ULL), dos));
    EXPECT_EQ(vm.intField(dos, "date"), 7);
    // A null holder on either side.
    EXPECT_FALSE(FSF(nativeFileTimeToDosDateTime)(env, fileSysFuncs, fileTime(kJan2020), nullptr));
    EXPECT_FALSE(FSF(nativeFileTimeToDosDateTime)(env, fileSysFuncs, nullptr, dosDateTime(0, 0)));
    EXPECT_FALSE(
        FSF(nativeDosDateTimeToFileTime)(env, fileSysFuncs, dosDateTime(dosDate(2020, 1, 2), 0), nullptr));
    EXPECT_FALSE(FSF(nativeDosDateTimeToFileTime)(env, fileSysFuncs, nullptr, fileTime(0)));
}

TEST_F(FileSysFuncsTest, FileTimeInSecondsSince1970) {
    const std::wstring file = dir.write(L"seconds.txt", "s");
    ASSERT_TRUE(FSF(nativeSetFileTime)(env, fileSysFuncs, str(file), nullptr, nullptr, fileTime(kJan2020)));
    constexpr jlong kUnixJan2020 = 1577934245;  // 2020-01-02 03:04:05 UTC
    EXPECT_EQ(FSF(nativeGetFileTimeMillis)(env, fileSysFuncs, str(file), 2), kUnixJan2020);
    EXPECT_GT(FSF(nativeGetFileTimeMillis)(env, fileSysFuncs, str(file), 0), kUnixJan2020);
    EXPECT_GT(FSF(nativeGetFileTimeMillis)(env, fileSysFuncs, str(file), 1), 0);
    EXPECT_EQ(FSF(nativeGetFileTimeMillis)(env, fileSysFuncs, str(file), 3), 0);
    EXPECT_EQ(FSF(nativeGetFileTimeMillis)(env, fileSysFuncs, str(file), -1), 0);
    EXPECT_EQ(FSF(nativeGetFileTimeMillis)(env, fileSysFuncs, str(dir / L"missing"), 2), 0);
}

TEST_F(FileSysFuncsTest, NativeSeparatorIsTheBackslash) {
    FSF(initNativeSep)(env, fileSysFuncs);
    EXPECT_EQ(vm.staticCharField(kFileSysFuncs, "native_sep"), u'\\') << "code page " << GetACP();
}

TEST_F(FileSysFuncsTest, ErrorHandlingSwitch) {
    EXPECT_EQ(static_cast<UINT>(FSF(NativeDisableErrorHandling)(env, fileSysFuncs)), kTestErrorMode);
    EXPECT_EQ(GetErrorMode(), UINT(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX));
    EXPECT_EQ(FSF(NativeRestoreErrorHandling)(env, fileSysFuncs, kTestErrorMode),
              SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    EXPECT_EQ(GetErrorMode(), kTestErrorMode);
}

// CreateFileA through the seam, to see the error modes while a native works.
struct ModeDuringCall {
    static inline UINT process = 0;
    static inline DWORD thread = 0;
    static HANDLE WINAPI open(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE templ) {
        process = GetErrorMode();
        thread = GetThreadErrorMode();
        return CreateFileA(name, access, share, security, disposition, flags, templ);
    }
};

// The quiet mode is the calling thread's: the process's mode, which belongs to the program and which
// two threads' natives would otherwise save and restore across each other, is never touched.
TEST_F(FileSysFuncsTest, ErrorModeIsQuietDuringACallAndRestoredAfterEveryNative) {
    {
        const auto restore = kvo::replace(os.CreateFileA, &ModeDuringCall::open);
        FSF(nativeGetFileTime)(env, fileSysFuncs, str(dir.path()), nullptr, nullptr, fileTime(0));
        EXPECT_EQ(ModeDuringCall::thread, DWORD(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX));
        EXPECT_EQ(ModeDuringCall::process, kTestErrorMode);
    }
    const std::wstring file = dir.write(L"mode.txt", "m");
    const std::wstring missing = dir / L"missing";
    const std::function<void()> calls[] = {
        [&] { copy(file, dir / L"copy.txt", false); },
        [&] { copy(missing, dir / L"copy2.txt", false); },
        [&] { move(missing, dir / L"moved.txt", false); },
        [&] {
            FSF(NativeGetVolumes)
            (env, fileSysFuncs);
        },
        [&] { volumeName("C:"); },
        [&] { volumeName("P:"); },
        [&] {
            FSF(NativeGetVolumeSize)
            (env, fileSysFuncs, str("W:"));
        },
        [&] {
            FSF(NativeGetVolumeFreeSpace)
            (env, fileSysFuncs, str("C:"));
        },
        [&] { driveType("O:"); },
        [&] { shareName("N:"); },
        [&] { shareName("C" + std::string(200, ':')); },
        [&] { getAttributes(missing); },
        [&] {
            FSF(nativeSetFileAttributes)
            (env, fileSysFuncs, str(file), 0);
        },
        [&] {
            FSF(nativeGetFileTime)
            (env, fileSysFuncs, str(missing), nullptr, nullptr, nullptr);
        },
        [&] {
            FSF(nativeSetFileTime)
            (env, fileSysFuncs, str(file), nullptr, nullptr, fileTime(kJan2020));
        },
        [&] {
            FSF(nativeGetFileTimeMillis)
            (env, fileSysFuncs, str(file), 2);
        },
    };
    int index = 0;
    for (const auto& call : calls) {
        SetErrorMode(kTestErrorMode);
        call();
        EXPECT_EQ(GetErrorMode(), kTestErrorMode) << "call " << index;
        EXPECT_EQ(GetThreadErrorMode(), threadErrorMode) << "call " << index++;
    }
}

TEST_F(FileSysFuncsTest, EndThreadAndWindowProcessServicesMessagesUntilQuit) {
    static std::atomic<HWND> window{nullptr};
    static std::atomic<int> serviced{0};
    static std::atomic<bool> returned{false};
    static std::atomic<jint> envAfter{JNI_OK};
    window = nullptr;
    serviced = 0;
    returned = false;
    struct Window {
        static LRESULT CALLBACK procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
            if (message == WM_APP + 1)
                serviced += static_cast<int>(wParam);
            return DefWindowProcA(hwnd, message, wParam, lParam);
        }
    };
    JavaVM* javaVm = vm.javaVm();
    vm.startThread("pump", false, [javaVm](JNIEnv* threadEnv) {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = &Window::procedure;
        windowClass.lpszClassName = "kvo-fsnative-pump";
        RegisterClassA(&windowClass);
        window = CreateWindowExA(0, "kvo-fsnative-pump", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                 nullptr);
        jclass cls = threadEnv->FindClass(kFileSysFuncs);
        FSF(nativeEndThreadAndWindowProcess)(threadEnv, cls);
        void* after = nullptr;
        envAfter = javaVm->GetEnv(&after, JNI_VERSION_1_2);
        returned = true;
        DestroyWindow(window);
    });
    for (int i = 0; i < 500 && window.load() == nullptr; ++i)
        Sleep(10);
    ASSERT_NE(window.load(), nullptr);
    PostMessageA(window, WM_APP + 1, 2, 0);
    PostMessageA(window, WM_APP + 1, 3, 0);
    Sleep(200);
    EXPECT_FALSE(returned.load()) << "the loop must run until a quit message arrives";
    PostMessageA(window, WM_QUIT, 0, 0);
    for (int i = 0; i < 500 && !returned.load(); ++i)
        Sleep(10);
    EXPECT_TRUE(returned.load());
    EXPECT_EQ(serviced.load(), 5);
    EXPECT_EQ(envAfter.load(), JNI_EDETACHED) << "the thread is detached from the JVM";
}

}  // namespace
}  // namespace fstest
