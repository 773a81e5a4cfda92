// RndAccessFile natives on real files: open, read and write, positions and lengths (beyond 4 GiB
// too), share modes, the bounds of blocks, failing calls through the seam, and paths that have no
// exact form in the ANSI code page.
#include <windows.h>

#include <climits>

#include "fsnative_test_support.h"
#include "os_calls.h"
#include "seam.h"

#define RAF(name) Java_com_orvane_kvo_libs_RndAccessFile_##name

namespace fstest {
namespace {

using kvo::fsnative::os;

constexpr const char* kOpenError = "java/io/IOException: Error opening file";
constexpr const char* kReadError = "java/io/IOException: Error reading file";
constexpr const char* kWriteError = "java/io/IOException: Error writing file";
constexpr const char* kPointerError = "java/io/IOException: Error getting file pointer";
constexpr const char* kSeekError = "java/io/IOException: Error setting file pointer";
constexpr const char* kLengthError = "java/io/IOException: Error getting file length";
constexpr const char* kBoundsError = "java/lang/IndexOutOfBoundsException";
constexpr const char* kNullError = "java/lang/NullPointerException";

class RndAccessFileTest : public FsNativeTest {
protected:
    jobject open(const std::wstring& path, bool write) {
        jobject file = rndFile();
        RAF(openNative)(env, file, str(path), write ? JNI_TRUE : JNI_FALSE);
        return file;
    }
    jint read(jobject file) { return RAF(readNative)(env, file); }
    jint readBytes(jobject file, jbyteArray array, jint off, jint len) {
        return RAF(readBytesNative)(env, file, array, off, len);
    }
    void write(jobject file, jint b) { RAF(writeNative)(env, file, b); }
    void writeBytes(jobject file, jbyteArray array, jint off, jint len) {
        RAF(writeBytesNative)(env, file, array, off, len);
    }
    jlong pointer(jobject file) { return RAF(getFilePointerNative)(env, file); }
    void seek(jobject file, jlong pos) { RAF(seekNative)(env, file, pos); }
    jlong length(jobject file) { return RAF(lengthNative)(env, file); }
    void close(jobject file) { RAF(closeNative)(env, file); }
    std::string exceptionClass() {
        const std::string text = takeException();
        return text.substr(0, text.find(':'));
    }

    TestDir dir;
};

TEST_F(RndAccessFileTest, OpeningAMissingFileForReadingThrows) {
    jobject file = open(dir / L"missing.bin", false);
    EXPECT_EQ(takeException(), kOpenError);
    EXPECT_EQ(handleOf(file), -1);
    EXPECT_FALSE(exists(dir / L"missing.bin"));
    RAF(openNative)(env, file, nullptr, JNI_TRUE);
    EXPECT_EQ(takeException(), kOpenError);
}

TEST_F(RndAccessFileTest, OpeningForWritingCreatesAnEmptyFile) {
    jobject file = open(dir / L"new.bin", true);
    EXPECT_EQ(takeException(), "");
    EXPECT_NE(handleOf(file), -1);
    EXPECT_EQ(length(file), 0);
    close(file);
    EXPECT_EQ(readTextFile(dir / L"new.bin"), "");
}

TEST_F(RndAccessFileTest, ReadsAndWritesBytesAndBlocks) {
    jobject file = open(dir / L"data.bin", true);
    write(file, 'A');
    write(file, 0x1FF);  // the low 8 bits: 0xFF
    jbyteArray hello = vm.newByteArray("hello world");
    writeBytes(file, hello, 6, 5);
    EXPECT_EQ(takeException(), "");
    EXPECT_EQ(pointer(file), 7);
    EXPECT_EQ(length(file), 7);
    EXPECT_EQ(readTextFile(dir / L"data.bin"), std::string("A\xFF") + "world");

    seek(file, 0);
    EXPECT_EQ(read(file), 'A');
    EXPECT_EQ(read(file), 0xFF);
    jbyteArray buffer = vm.newByteArray("........");
    EXPECT_EQ(readBytes(file, buffer, 2, 6), 5);
    EXPECT_EQ(vm.byteArrayContent(buffer), "..world.");
    // End of file: -1 for a byte, 0 for a block.
    EXPECT_EQ(read(file), -1);
    EXPECT_EQ(readBytes(file, buffer, 0, 8), 0);
    EXPECT_EQ(takeException(), "");
    close(file);
}

TEST_F(RndAccessFileTest, SeekingBeyondTheEndLeavesTheLengthUntilAWrite) {
    jobject file = open(dir / L"seek.bin", true);
    write(file, 'x');
    seek(file, 100);
    EXPECT_EQ(takeException(), "");
    EXPECT_EQ(pointer(file), 100);
    EXPECT_EQ(length(file), 1);
    write(file, 'y');
    EXPECT_EQ(length(file), 101);
    seek(file, -1);
    EXPECT_EQ(takeException(), kSeekError);
    EXPECT_EQ(pointer(file), 101);
    close(file);
}

TEST_F(RndAccessFileTest, AFileBeyond4GiBReportsItsLengthAndPositions) {
    const jlong fiveGiB = 5LL << 30;
    jobject file = open(dir / L"large.bin", true);
    seek(file, fiveGiB);
    write(file, 'z');
    EXPECT_EQ(takeException(), "");
    EXPECT_EQ(pointer(file), fiveGiB + 1);
    EXPECT_EQ(length(file), fiveGiB + 1);
    seek(file, fiveGiB);
    EXPECT_EQ(pointer(file), fiveGiB);
    EXPECT_EQ(read(file), 'z');
    seek(file, (4LL << 30) - 1);  // a position whose low half is 0xFFFFFFFF
    EXPECT_EQ(takeException(), "");
    EXPECT_EQ(pointer(file), (4LL << 30) - 1);
    close(file);
}

TEST_F(RndAccessFileTest, ShareModes) {
    const std::wstring path = dir.write(L"shared.bin", "shared");
    jobject reader = open(path, false);
    // Open for reading: others may read, not write.
    HANDLE other = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(other, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    jobject writer = open(path, true);
    EXPECT_EQ(takeException(), kOpenError);
    EXPECT_EQ(handleOf(writer), -1);
    close(reader);

    // Open for writing: others may read.
    writer = open(path, true);
    EXPECT_EQ(takeException(), "");
    other = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(other, INVALID_HANDLE_VALUE);
    CloseHandle(other);
    close(writer);
}

TEST_F(RndAccessFileTest, AClosedFileThrowsAndClosingTwiceIsHarmless) {
    jobject file = open(dir.write(L"closed.bin", "abc"), false);
    close(file);
    EXPECT_EQ(handleOf(file), -1);
    close(file);
    EXPECT_EQ(takeException(), "");
    EXPECT_EQ(handleOf(file), -1);

    EXPECT_EQ(read(file), -1);
    EXPECT_EQ(takeException(), kReadError);
    EXPECT_EQ(readBytes(file, vm.newByteArray("..."), 0, 3), -1);
    EXPECT_EQ(takeException(), kReadError);
    write(file, 1);
    EXPECT_EQ(takeException(), kWriteError);
    writeBytes(file, vm.newByteArray("..."), 0, 3);
    EXPECT_EQ(takeException(), kWriteError);
    EXPECT_EQ(pointer(file), -1);
    EXPECT_EQ(takeException(), kPointerError);
    seek(file, 0);
    EXPECT_EQ(takeException(), kSeekError);
    EXPECT_EQ(length(file), -1);
    EXPECT_EQ(takeException(), kLengthError);
}

TEST_F(RndAccessFileTest, BlocksOutsideTheirArrayThrowWithoutTouchingFileOrArray) {
    const std::wstring path = dir.write(L"bounds.bin", "0123456789");
    jobject file = open(path, true);
    jbyteArray five = vm.newByteArray("abcde");
    const struct {
        bool nullArray;
        jint off, len;
    } cases[] = {
        {true, 0, 0},   {false, -1, 1}, {false, 0, 6},       {false, 5, 1},
        {false, 2, -1}, {false, 6, 0},  {false, INT_MAX, 1}, {false, 1, INT_MAX},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "off " << c.off << " len " << c.len << (c.nullArray ? " null" : ""));
        jbyteArray array = c.nullArray ? nullptr : five;
        // A null array is a NullPointerException, as java.io gives it.
        const char* expected = c.nullArray ? kNullError : kBoundsError;
        EXPECT_EQ(readBytes(file, array, c.off, c.len), -1);
        EXPECT_EQ(exceptionClass(), expected);
        writeBytes(file, array, c.off, c.len);
        EXPECT_EQ(exceptionClass(), expected);
        EXPECT_EQ(pointer(file), 0);
    }
    EXPECT_EQ(vm.byteArrayContent(five), "abcde");
    EXPECT_EQ(readTextFile(path), "0123456789");
    // The edges that fit.
    EXPECT_EQ(readBytes(file, five, 5, 0), 0);
    EXPECT_EQ(readBytes(file, five, 0, 5), 5);
    EXPECT_EQ(vm.byteArrayContent(five), "01234");
    EXPECT_EQ(takeException(), "");
    close(file);
}

// Failing calls through the seam.
struct Failing {
    static DWORD WINAPI pointerFails(HANDLE, LONG, PLONG, DWORD) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    // A valid position whose low half is the invalid value: not a failure.
    static DWORD WINAPI pointerAt4GiBMinus1(HANDLE, LONG, PLONG high, DWORD) {
        *high = 0;
        SetLastError(NO_ERROR);
        return INVALID_SET_FILE_POINTER;
    }
    static DWORD WINAPI sizeFails(HANDLE, LPDWORD) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    static BOOL WINAPI shortWrite(HANDLE file, LPCVOID data, DWORD size, LPDWORD written,
                                  LPOVERLAPPED overlapped) {
        return WriteFile(file, data, size > 1 ? size - 1 : 0, written, overlapped);
    }
    static BOOL WINAPI readFails(HANDLE, LPVOID, DWORD, LPDWORD read, LPOVERLAPPED) {
        *read = 0;
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
};

TEST_F(RndAccessFileTest, FailingCallsThrowTheirMessages) {
    jobject file = open(dir.write(L"failing.bin", "content"), true);
    {
        const auto restore = kvo::replace(os.SetFilePointer, &Failing::pointerFails);
        EXPECT_EQ(pointer(file), -1);
        EXPECT_EQ(takeException(), kPointerError);
        seek(file, 3);
        EXPECT_EQ(takeException(), kSeekError);
    }
    {
        const auto restore = kvo::replace(os.SetFilePointer, &Failing::pointerAt4GiBMinus1);
        EXPECT_EQ(pointer(file), 0xFFFFFFFFLL);
        EXPECT_EQ(takeException(), "");
    }
    {
        const auto restore = kvo::replace(os.GetFileSize, &Failing::sizeFails);
        EXPECT_EQ(length(file), -1);
        EXPECT_EQ(takeException(), kLengthError);
    }
    {
        const auto restore = kvo::replace(os.WriteFile, &Failing::shortWrite);
        writeBytes(file, vm.newByteArray("abc"), 0, 3);
        EXPECT_EQ(takeException(), kWriteError);
        write(file, 'q');
        EXPECT_EQ(takeException(), kWriteError);
    }
    {
        const auto restore = kvo::replace(os.ReadFile, &Failing::readFails);
        EXPECT_EQ(read(file), -1);
        EXPECT_EQ(readBytes(file, vm.newByteArray("..."), 0, 3), -1);
        EXPECT_EQ(takeException(), "") << "a failed read is a result, not an exception";
    }
    close(file);
}

TEST_F(RndAccessFileTest, TheFieldHoldsTheWholeHandle) {
    jobject file = open(dir.write(L"handle.bin", "12345"), false);
    const HANDLE handle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(handleOf(file)));
    LARGE_INTEGER size;
    ASSERT_TRUE(GetFileSizeEx(handle, &size));
    EXPECT_EQ(size.QuadPart, 5);
    // Opening again closes the handle the object held: it is not lost.
    RAF(openNative)(env, file, str(dir / L"handle.bin"), JNI_FALSE);
    EXPECT_NE(handleOf(file), static_cast<jlong>(reinterpret_cast<intptr_t>(handle)));
    EXPECT_FALSE(GetFileSizeEx(handle, &size));
    close(file);
}

class RndAccessFileWithoutField : public FsNativeTest {
protected:
    RndAccessFileWithoutField() : FsNativeTest(ClassOptions{true, true, true, false, true}) {}
    TestDir dir;
};

// Opening, reading and closing leave the JVM's error; writing, the pointer, seeking and the length
// throw their own IOException in its place.
TEST_F(RndAccessFileWithoutField, EachNativeReportsAsDocumentedAndNoFileIsOpened) {
    constexpr const char* kNoField = "java/lang/NoSuchFieldError: filehandle";
    jobject file = vm.newInstance(kRndAccessFile);
    RAF(openNative)(env, file, str(dir / L"created.bin"), JNI_TRUE);
    EXPECT_EQ(takeException(), kNoField);
    EXPECT_FALSE(exists(dir / L"created.bin"));
    EXPECT_EQ(RAF(readNative)(env, file), -1);
    EXPECT_EQ(takeException(), kNoField);
    EXPECT_EQ(RAF(readBytesNative)(env, file, vm.newByteArray("."), 0, 1), -1);
    EXPECT_EQ(takeException(), kNoField);
    RAF(writeNative)(env, file, 1);
    EXPECT_EQ(takeException(), kWriteError);
    RAF(writeBytesNative)(env, file, vm.newByteArray("."), 0, 1);
    EXPECT_EQ(takeException(), kWriteError);
    EXPECT_EQ(RAF(getFilePointerNative)(env, file), -1);
    EXPECT_EQ(takeException(), kPointerError);
    RAF(seekNative)(env, file, 1);
    EXPECT_EQ(takeException(), kSeekError);
    EXPECT_EQ(RAF(lengthNative)(env, file), -1);
    EXPECT_EQ(takeException(), kLengthError);
    RAF(closeNative)(env, file);
    EXPECT_EQ(takeException(), kNoField);
}

// Whether the ANSI code page has no exact form of a character.
bool lacksExactForm(wchar_t character) {
    char bytes[8];
    BOOL used = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, &character, 1, bytes, sizeof(bytes), nullptr, &used);
    return used != FALSE;
}

TEST_F(RndAccessFileTest, AFullwidthReverseSolidusNeverOpensAnotherFile) {
    if (!lacksExactForm(L'\xFF3C'))
        GTEST_SKIP() << "code page " << GetACP() << " has an exact form of U+FF3C";
    dir.mkdir(L"sub");
    const std::wstring target = dir.write(L"sub\\file.txt", "keep");
    // The system's default conversion makes U+FF3C a backslash under Wine: "sub\\file.txt".
    jobject file = open(dir /
                            L"sub\xFF3C"
                            L"file.txt",
                        true);
    EXPECT_EQ(takeException(), kOpenError);
    EXPECT_EQ(handleOf(file), -1);
    EXPECT_EQ(readTextFile(target), "keep");
    file = open(dir /
                    L"sub\xFF3C"
                    L"file.txt",
                false);
    EXPECT_EQ(takeException(), kOpenError);
    // A NUL unit would cut the path short to another name.
    dir.write(L"cut", "cut");
    file = open(dir / std::wstring(L"cut\0tail", 8), true);
    EXPECT_EQ(takeException(), kOpenError);
    EXPECT_EQ(readTextFile(dir / L"cut"), "cut");
}

TEST_F(RndAccessFileTest, UnderTheUtf8CodePageAUnitTakesThreeBytes) {
    if (GetACP() != 1252)
        GTEST_SKIP() << "the file name is checked as code page 1252 reads the UTF-8 bytes";
    const DocumentedCodePage utf8(CP_UTF8, CP_UTF8);
    // Three units, nine bytes: more than the 2n + 2 a fixed buffer would give them.
    jobject file = open(dir / L"\x65E5\x672C\x20AC", true);
    EXPECT_EQ(takeException(), "");
    close(file);
    EXPECT_TRUE(exists(dir / L"\x00E6\x2014\x00A5\x00E6\x0153\x00AC\x00E2\x201A\x00AC"));
    // An unpaired surrogate has no UTF-8 form: no path.
    open(dir / L"\xD800x", true);
    EXPECT_EQ(takeException(), kOpenError);
    EXPECT_EQ(DocumentedCodePage::refused(), 0) << "a call Windows refuses for UTF-8";
}

}  // namespace
}  // namespace fstest
