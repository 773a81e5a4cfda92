// The field caches of FileSysFuncs while they are still empty: these tests run in a process of their
// own (CTest fsnative_first_load), before anything has loaded the caches.
#include "fsnative_test_support.h"

#define FSF(name) Java_com_orvane_kvo_libs_FileSysFuncs_##name

namespace fstest {
namespace {

TEST(FirstLoad, AMissingFieldFailsAndTheLoadIsTriedAgainNextTime) {
    TestDir dir;
    const std::wstring file = dir.write(L"attributes.txt", "a");
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_HIDDEN);
    SetErrorMode(kTestErrorMode);
    {
        kvojni::Vm vm;
        defineLibraryClasses(vm, ClassOptions{false, false, true, true, true});
        JNIEnv* env = vm.env();
        jclass cls = env->FindClass(kFileSysFuncs);
        const std::u16string path(file.begin(), file.end());

        EXPECT_EQ(FSF(nativeGetFileAttributes)(env, cls, vm.newStringUtf16(path)), -1);
        EXPECT_EQ(vm.pendingExceptionClass(), "java/lang/NoSuchFieldError");
        EXPECT_EQ(vm.pendingExceptionMessage(), "FILE_ATTRIBUTE_COMPRESSED");
        vm.clearException();
        EXPECT_FALSE(FSF(nativeSetFileAttributes)(env, cls, vm.newStringUtf16(path), kJavaReadOnly));
        EXPECT_EQ(vm.pendingExceptionMessage(), "FILE_ATTRIBUTE_COMPRESSED");
        vm.clearException();
        EXPECT_EQ(attributes(file) & FILE_ATTRIBUTE_READONLY, 0u) << "nothing set";
        EXPECT_EQ(FSF(NativeGetVolumeDriveType)(env, cls, vm.newString("C:")), 0);
        EXPECT_EQ(vm.pendingExceptionMessage(), "TYPE_RAMDRIVE");
        vm.clearException();
        EXPECT_EQ(vm.pinnedBuffers(), 0u);
        EXPECT_EQ(GetErrorMode(), kTestErrorMode);
    }
    {
        // The class complete: the caches load now.
        kvojni::Vm vm;
        defineLibraryClasses(vm);
        JNIEnv* env = vm.env();
        jclass cls = env->FindClass(kFileSysFuncs);
        const std::u16string path(file.begin(), file.end());
        EXPECT_EQ(FSF(nativeGetFileAttributes)(env, cls, vm.newStringUtf16(path)) & kJavaHidden, kJavaHidden);
        EXPECT_EQ(FSF(NativeGetVolumeDriveType)(env, cls, vm.newString("Q:")), kTypeRamdrive);
        EXPECT_FALSE(vm.exceptionPending());
    }
    {
        // Loaded once, the values stay for the process, whatever another class would say.
        kvojni::Vm vm;
        defineLibraryClasses(vm, ClassOptions{false, false, true, true, true});
        JNIEnv* env = vm.env();
        jclass cls = env->FindClass(kFileSysFuncs);
        EXPECT_EQ(FSF(NativeGetVolumeDriveType)(env, cls, vm.newString("Q:")), kTypeRamdrive);
        EXPECT_FALSE(vm.exceptionPending());
    }
}

}  // namespace
}  // namespace fstest
