// The DLL as a JVM uses it: loaded by name, each native looked up by its plain JNI name, and called.
#include <windows.h>

#include <fstream>
#include <sstream>

#include "fsnative_test_support.h"

namespace fstest {
namespace {

std::vector<std::string> exportList() {
    std::ifstream def(KVO_NQFSFUNC_DEF);
    std::vector<std::string> names;
    std::string line;
    while (std::getline(def, line)) {
        std::istringstream words(line);
        std::string name;
        if (words >> name && name.rfind("Java_", 0) == 0)
            names.push_back(name);
    }
    return names;
}

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

TEST_F(LoadedLibrary, EveryNativeIsFoundByItsPlainName) {
    const std::vector<std::string> names = exportList();
    EXPECT_EQ(names.size(), 43u);
    for (const std::string& name : names)
        EXPECT_NE(GetProcAddress(library, name.c_str()), nullptr) << name;
}

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
