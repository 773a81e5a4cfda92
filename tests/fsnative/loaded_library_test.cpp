// The DLL as a JVM uses it: loaded by name, natives looked up by their plain JNI names, and called.
// (That the image exports every native of the Java declarations by its plain name, and nothing
// else: tests/release/check_exports.sh.)
#include <windows.h>

#include "fsnative_test_support.h"

namespace fstest {
namespace {

class LoadedLibrary : public FsNativeTest {
protected:
    void SetUp() override {
        FsNativeTest::SetUp();
        library = LoadLibraryA("nqfsfunc.dll");
        ASSERT_NE(library, nullptr) << "error " << GetLastError();
    }
    void TearDown() override {
        FreeLibrary(library);
        FsNativeTest::TearDown();
    }
    template <class Function>
    Function native(const char* name) {
        return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
    }
    HMODULE library = nullptr;
};

TEST_F(LoadedLibrary, NativesCalledThroughTheLookedUpAddresses) {
    using Volumes = jobjectArray(JNICALL*)(JNIEnv*, jclass);
    using Check = jboolean(JNICALL*)(JNIEnv*, jobject);
    using Separator = void(JNICALL*)(JNIEnv*, jclass);
    const auto volumes = native<Volumes>("Java_com_orvane_kvo_libs_FileSysFuncs_NativeGetVolumes");
    const auto isAbsolute = native<Check>("Java_com_orvane_kvo_libs_UNCFile_isAbsolute");
    const auto exists = native<Check>("Java_com_orvane_kvo_libs_UNCFile_exists0_1unc");
    const auto initSeparator = native<Separator>("Java_com_orvane_kvo_libs_FileSysFuncs_initNativeSep");
    ASSERT_TRUE(volumes && isAbsolute && exists && initSeparator);
    const auto roots = strings(volumes(env, fileSysFuncs));
    ASSERT_TRUE(roots.has_value());
    EXPECT_GE(roots->size(), 2u);
    EXPECT_TRUE(isAbsolute(env, uncFile(L"C:\\x")));
    EXPECT_TRUE(exists(env, uncFile(L"C:\\")));
    EXPECT_FALSE(exists(env, uncFile(L"C:\\no such file")));
    initSeparator(env, fileSysFuncs);
    EXPECT_EQ(vm.staticCharField(kFileSysFuncs, "native_sep"), u'\\');
}

}  // namespace
}  // namespace fstest
