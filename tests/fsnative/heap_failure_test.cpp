// A failing allocation in a native gives the native's failure result (null, false, -1, 0 or its
// exception), never a crash, and every string and array borrowed from the JVM is still released.
#include "fsnative_test_support.h"
#include "heap_failure.h"

#define FSF(name) Java_com_orvane_kvo_libs_FileSysFuncs_##name
#define RAF(name) Java_com_orvane_kvo_libs_RndAccessFile_##name
#define UNC(name) Java_com_orvane_kvo_libs_UNCFile_##name

namespace fstest {
namespace {

class HeapFailureTest : public FsNativeTest {
protected:
    // Runs call with each of its allocations failing in turn; check sees each result.
    template <class Call, class Check>
    void forEachFailure(const char* what, Call call, Check check) {
        const int allocations = kvotest::forEachFailingAllocation([&](int n) {
            SCOPED_TRACE(testing::Message() << what << ", allocation " << n << " failing");
            check(call());
            vm.clearException();
            EXPECT_EQ(vm.pinnedBuffers(), 0u);
            EXPECT_EQ(GetErrorMode(), kTestErrorMode);
        });
        EXPECT_GT(allocations, 0) << what << " allocates nothing: the test shows nothing";
    }

    TestDir dir;
};

TEST_F(HeapFailureTest, FileSysFuncs) {
    const std::wstring file = dir.write(L"heap.txt", "h");
    forEachFailure(
        "NativeCopyFile",
        [&] { return FSF(NativeCopyFile)(env, fileSysFuncs, str(file), str(dir / L"c.txt"), 1); },
        [&](jboolean copied) { EXPECT_EQ(copied == JNI_TRUE, exists(dir / L"c.txt")); });
    forEachFailure(
        "NativeGetVolumes", [&] { return FSF(NativeGetVolumes)(env, fileSysFuncs); },
        [&](jobjectArray volumes) {
            if (volumes != nullptr) {
                EXPECT_GE(vm.arrayLength(volumes), 2);
            }
        });
    forEachFailure(
        "NativeGetVolumeName", [&] { return FSF(NativeGetVolumeName)(env, fileSysFuncs, str("C:")); },
        [&](jstring name) {
            if (name != nullptr) {
                EXPECT_EQ(vm.stringUtf8(name), "");
            }
        });
    const jlong size = FSF(NativeGetVolumeSize)(env, fileSysFuncs, str("C:"));
    forEachFailure(
        "NativeGetVolumeSize", [&] { return FSF(NativeGetVolumeSize)(env, fileSysFuncs, str("C:")); },
        [&](jlong result) { EXPECT_TRUE(result == size || result == -1) << result; });
    forEachFailure(
        "nativeGetFileAttributes", [&] { return FSF(nativeGetFileAttributes)(env, fileSysFuncs, str(file)); },
        [&](jint bits) { EXPECT_TRUE(bits == -1 || (bits & kJavaDirectory) == 0) << bits; });
    forEachFailure(
        "nativeGetFileTime",
        [&] { return FSF(nativeGetFileTime)(env, fileSysFuncs, str(file), nullptr, nullptr, fileTime(0)); },
        [&](jboolean) {});
    forEachFailure(
        "nativeGetFileTimeMillis",
        [&] { return FSF(nativeGetFileTimeMillis)(env, fileSysFuncs, str(file), 2); },
        [&](jlong seconds) { EXPECT_GE(seconds, 0); });
}

TEST_F(HeapFailureTest, RndAccessFile) {
    const std::wstring path = dir.write(L"rnd.bin", "rnd");
    forEachFailure(
        "openNative",
        [&] {
            jobject file = rndFile();
            RAF(openNative)(env, file, str(path), JNI_FALSE);
            const std::string exception = takeException();
            const bool open = handleOf(file) != -1;
            RAF(closeNative)(env, file);
            return std::make_pair(open, exception);
        },
        [&](const std::pair<bool, std::string>& result) {
            EXPECT_EQ(result.second, result.first ? "" : "java/io/IOException: Error opening file");
        });
}

TEST_F(HeapFailureTest, UncFile) {
    dir.mkdir(L"listed");
    for (int i = 0; i < 40; ++i)
        dir.write(L"listed\\n" + std::to_wstring(i), "");
    forEachFailure(
        "list0_unc", [&] { return UNC(list0_1unc)(env, uncFile(dir / L"listed")); },
        [&](jobjectArray names) {
            if (names != nullptr) {
                EXPECT_EQ(vm.arrayLength(names), 40);
            }
        });
    forEachFailure(
        "exists0_unc", [&] { return UNC(exists0_1unc)(env, uncFile(dir / L"listed")); }, [&](jboolean) {});
    forEachFailure(
        "renameTo0_unc",
        [&] {
            const jboolean moved =
                UNC(renameTo0_1unc)(env, uncFile(dir / L"listed\\n1"), uncFile(dir / L"moved"));
            if (moved)
                MoveFileW((dir / L"moved").c_str(), (dir / L"listed\\n1").c_str());
            return moved;
        },
        [&](jboolean) { EXPECT_TRUE(exists(dir / L"listed\\n1")); });
}

}  // namespace
}  // namespace fstest
