#include "standin_file_system.h"

#include "modified_utf8.h"
#include "standin_classes.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace kvostandin {

namespace {

constexpr const char* kFileSysFuncs = "com/orvane/kvo/libs/FileSysFuncs";
constexpr const char* kUncFile = "com/orvane/kvo/libs/UNCFile";

// The drive-type constants of FileSysFuncs.java.
const char* const kTypeNames[] = {"unknown", "removable", "fixed", "network", "CD-ROM", "RAM disk"};

std::u16string unitsOf(const std::string& modifiedUtf8) {
    std::u16string units;
    kvojni::fromModifiedUtf8(modifiedUtf8.c_str(), units);
    return units;
}

template <class Function>
Function lookUp(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

jobject uncFile(kvojni::Vm& vm, jstring path) {
    const jobject file = vm.newInstance(kUncFile);
    vm.setObjectField(file, "path", path);
    return file;
}

// The Java code's part (arguments, fields, objects) goes through the double's helpers; the natives
// get what Java would pass them.
void fileSystemMain(JNIEnv* env, jclass, const std::vector<jvalue>& params) {
    kvojni::Vm& vm = kvojni::Vm::of(env);
    const jobjectArray args = static_cast<jobjectArray>(params[0].l);
    std::optional<std::string> first;
    if (args != nullptr && vm.arrayLength(args) > 0)
        first = vm.stringElement(args, 0);

    // As System.loadLibrary("nqfsfunc") would: by name, then each native by its JNI name.
    const HMODULE library = LoadLibraryA("nqfsfunc.dll");
    if (library == nullptr) {
        writeOut("kvo.demo.FileSystem: nqfsfunc.dll cannot be loaded (error " +
                 std::to_string(GetLastError()) + ")\n");
        return;
    }
    using Volumes = jobjectArray(JNICALL*)(JNIEnv*, jclass);
    using RootString = jstring(JNICALL*)(JNIEnv*, jclass, jstring);
    using RootLong = jlong(JNICALL*)(JNIEnv*, jclass, jstring);
    using RootInt = jint(JNICALL*)(JNIEnv*, jclass, jstring);
    using Static = void(JNICALL*)(JNIEnv*, jclass);
    using List = jobjectArray(JNICALL*)(JNIEnv*, jobject);
    using Check = jboolean(JNICALL*)(JNIEnv*, jobject);
    using Long = jlong(JNICALL*)(JNIEnv*, jobject);
    const auto getVolumes =
        lookUp<Volumes>(library, "Java_com_orvane_kvo_libs_FileSysFuncs_NativeGetVolumes");
    const auto volumeName =
        lookUp<RootString>(library, "Java_com_orvane_kvo_libs_FileSysFuncs_NativeGetVolumeName");
    const auto volumeSize =
        lookUp<RootLong>(library, "Java_com_orvane_kvo_libs_FileSysFuncs_NativeGetVolumeSize");
    const auto driveType =
        lookUp<RootInt>(library, "Java_com_orvane_kvo_libs_FileSysFuncs_NativeGetVolumeDriveType");
    const auto initSeparator = lookUp<Static>(library, "Java_com_orvane_kvo_libs_FileSysFuncs_initNativeSep");
    const auto list = lookUp<List>(library, "Java_com_orvane_kvo_libs_UNCFile_list0_1unc");
    const auto isDirectory = lookUp<Check>(library, "Java_com_orvane_kvo_libs_UNCFile_isDirectory0_1unc");
    const auto length = lookUp<Long>(library, "Java_com_orvane_kvo_libs_UNCFile_length0_1unc");
    if (!getVolumes || !volumeName || !volumeSize || !driveType || !initSeparator || !list || !isDirectory ||
        !length) {
        writeOut("kvo.demo.FileSystem: a native of nqfsfunc.dll is missing\n");
        return;
    }

    const jclass fileSysFuncs = env->FindClass(kFileSysFuncs);
    initSeparator(env, fileSysFuncs);
    const jchar separator = vm.staticCharField(kFileSysFuncs, "native_sep");
    writeOut(u"native_sep = '" + std::u16string(1, static_cast<char16_t>(separator)) + u"'\n");

    writeOut("volumes:\n");
    const jobjectArray roots = getVolumes(env, fileSysFuncs);
    for (jsize i = 0; roots != nullptr && i < vm.arrayLength(roots); ++i) {
        const jstring root = static_cast<jstring>(env->GetObjectArrayElement(roots, i));
        const jint type = driveType(env, fileSysFuncs, root);
        const jlong size = volumeSize(env, fileSysFuncs, root);
        const jstring label = volumeName(env, fileSysFuncs, root);
        writeOut(u"  " + vm.stringUtf16(root) + u"  ");
        writeOut(std::string(type >= 0 && type <= 5 ? kTypeNames[type] : "?") + ", " +
                 (size < 0 ? std::string("no size") : std::to_string(size >> 20) + " MiB") + ", label \"");
        writeOut((label != nullptr ? vm.stringUtf16(label) : u"") + u"\"\n");
    }

    const jstring path = first.has_value() ? vm.newString(*first) : vm.newString(".");
    writeOut(u"listing of " + vm.stringUtf16(path) + u":\n");
    const jobjectArray names = list(env, uncFile(vm, path));
    if (names == nullptr) {
        writeOut("  (none: not a directory)\n");
        return;
    }
    const std::u16string prefix = vm.stringUtf16(path) + std::u16string(1, static_cast<char16_t>(separator));
    for (jsize i = 0; i < vm.arrayLength(names); ++i) {
        const std::u16string name = unitsOf(vm.stringElement(names, i).value_or("(null)"));
        const jobject child = uncFile(vm, vm.newStringUtf16(prefix + name));
        const std::string kind =
            isDirectory(env, child) ? "<dir>" : std::to_string(length(env, child)) + " bytes";
        writeOut(u"  " + name + u"  " + std::u16string(kind.begin(), kind.end()) + u"\n");
    }
}

}  // namespace

void defineFileSystemClasses(kvojni::Vm& vm) {
    vm.defineClass(kFileSysFuncs);
    const struct {
        const char* name;
        jint value;
    } constants[] = {
        {"TYPE_FLOPPY", 1}, {"TYPE_FIXED", 2}, {"TYPE_NETWORK", 3}, {"TYPE_CDROM", 4}, {"TYPE_RAMDRIVE", 5},
    };
    for (const auto& c : constants) {
        vm.addStaticField(kFileSysFuncs, c.name, "I");
        vm.setStaticIntField(kFileSysFuncs, c.name, c.value);
    }
    vm.addStaticField(kFileSysFuncs, "native_sep", "C");
    vm.defineClass(kUncFile);
    vm.addField(kUncFile, "path", "Ljava/lang/String;");
    vm.defineClass("kvo/demo/FileSystem");
    vm.addStaticMethod("kvo/demo/FileSystem", "main", "([Ljava/lang/String;)V", fileSystemMain);
}

}  // namespace kvostandin
