// Assembly of the JVM options: the fixed table in its order, then the extra options of the
// launcher properties file.
#include "jvm_options.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "heap.h"
#include "local_code_page.h"
#include "local_text.h"
#include "os_calls.h"
#include "process_environment.h"
#include "settings.h"
#include "state.h"
#include "trace_log.h"
#include "variant.h"

namespace kvo::launcher {

namespace {

bool adopt(JvmOptionList* list, char* text, void* extraInfo) {
    if (text == nullptr)
        return false;
    if (list->count >= kMaxJvmOptions) {
        heapRelease(text);
        return false;
    }
    list->options[list->count].optionString = text;
    list->options[list->count].extraInfo = extraInfo;
    ++list->count;
    return true;
}

// Copy of a directory without one trailing backslash.
void withoutTrailingBackslash(char* out, const char* directory) {
    std::snprintf(out, kPathBufferSize, "%s", directory);
    const size_t length = std::strlen(out);
    if (length > 0 && out[length - 1] == '\\')
        out[length - 1] = '\0';
}

bool trustStoreUsable(const char* path) {
    FILE* file = os.fopen(path, "r+b");
    if (file == nullptr)
        return false;
    std::fclose(file);
    return true;
}

void addExtraOptions(JvmOptionList* list, bool* ok) {
    for (int n = 1;; ++n) {
        wchar_t key[32];
        std::swprintf(key, sizeof key / sizeof key[0], L".jvm.option.%d", n);
        KVO_TRACE(traceInfo, "JavaThread: key = \"%S\"", key);
        const wchar_t* value = launcherProperties.getProperty(key);
        if (value == nullptr) {
            KVO_TRACE(traceInfo, "JavaThread: key \"%S\" not found", key);
            return;
        }
        KVO_TRACE(traceInfo, "JavaThread: %S = \"%S\"", key, value);
        if (list->count >= kMaxJvmOptions) {
            KVO_TRACE(traceInfo, "JavaThread: unable to add jvm option \"%S\" to jvm option array", value);
            continue;
        }
        // A value that cannot be had in the local code page is left out; only memory stops the JVM.
        LocalText local = localTextOf(value);
        if (!local.text) {
            if (local.noMemory)
                *ok = false;
            else
                KVO_TRACE(traceError, "JavaThread: unable to convert jvm option \"%S\"; rc = X'%lX'", value,
                          local.error);
            continue;
        }
        if (!adopt(list, local.text.release(), nullptr))
            *ok = false;
    }
}

}  // namespace

bool addJvmOption(JvmOptionList* list, const char* text, void* extraInfo) {
    if (list->count >= kMaxJvmOptions)
        return false;
    const size_t size = std::strlen(text) + 1;
    char* copy = heapArray<char>(size);
    if (copy == nullptr)
        return false;
    std::memcpy(copy, text, size);
    return adopt(list, copy, extraInfo);
}

bool addJvmOptionFormatted(JvmOptionList* list, const char* format, ...) {
    if (list->count >= kMaxJvmOptions)
        return false;
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    char* text = length >= 0 ? heapArray<char>(static_cast<size_t>(length) + 1) : nullptr;
    if (text != nullptr)
        std::vsnprintf(text, static_cast<size_t>(length) + 1, format, again);
    va_end(again);
    return adopt(list, text, nullptr);
}

void freeJvmOptions(JvmOptionList* list) {
    for (int i = 0; i < list->count; ++i) {
        heapRelease(list->options[i].optionString);
        list->options[i].optionString = nullptr;
        list->options[i].extraInfo = nullptr;
    }
    list->count = 0;
}

bool buildJvmOptions(JvmOptionList* list, const JvmPaths& paths) {
    const char* language = "en";
    const char* region = "US";
    GetLocale(&language, &region);
    KVO_TRACE(traceInfoHigh, "JavaThread: user language = \"%s\"", language);
    KVO_TRACE(traceInfoHigh, "JavaThread: user region = \"%s\"", region);

    const bool securityManager = currentVariant().givesSecurityManager();
    char policyPath[kPathBufferSize] = "";
    if (securityManager) {
        std::snprintf(policyPath, sizeof policyPath, "%sjava\\security.policy", proddataDirectory);
        KVO_TRACE(traceInfoHigh, "JavaThread: security policy file name = \"%s\"", policyPath);
    }
    char trustStorePath[kPathBufferSize];
    std::snprintf(trustStorePath, sizeof trustStorePath, "%scacerts.ssl", dataDirectory);
    KVO_TRACE(traceInfoHigh, "JavaThread: ssl trust store file name = \"%s\"", trustStorePath);

    const int jdwp = GetBooleanProperty(L"jdwp", 0);

    char javaHome[kPathBufferSize];
    withoutTrailingBackslash(javaHome, jreDirectory);
    char codeBase[kPathBufferSize];
    std::snprintf(codeBase, sizeof codeBase, "%s", rootDirectory);
    const size_t rootLength = std::strlen(codeBase);
    if (rootLength > 0)
        codeBase[rootLength - 1] = '\0';

    bool ok = true;
    ok &= addJvmOption(list, "abort", reinterpret_cast<void*>(&JvmAbort));
    ok &= addJvmOption(list, "exit", reinterpret_cast<void*>(&JvmExit));
    ok &= addJvmOptionFormatted(list, "-Djava.class.path=%s", paths.classpath);
    ok &= addJvmOptionFormatted(list, "-Djava.compiler=%s", (jitFlag == 1 && !jdwp) ? "jitk" : "");
    ok &= addJvmOptionFormatted(list, "-Djava.home=%s", javaHome);
    ok &= addJvmOptionFormatted(list, "-Djava.library.path=%s", paths.libraryPath);
    ok &= addJvmOptionFormatted(list, "-Djava.protocol.handler.pkgs=%s", paths.protocolHandler);
    ok &= addJvmOption(list, "-Djava.rmi.server.hostname=127.0.0.1");
    if (securityManager) {
        ok &= addJvmOption(list, "-Djava.security.manager");
        ok &= addJvmOptionFormatted(list, "-Djava.security.policy==%s", policyPath);
    }
    if (trustStoreUsable(trustStorePath))
        ok &= addJvmOptionFormatted(list, "-Djavax.net.ssl.trustStore=%s", trustStorePath);
    ok &= addJvmOption(list, "-Dcom.sun.net.ssl.rsaPreMasterSecretFix=true");
    ok &= addJvmOption(list, "-Dsun.java2d.noddraw=true");
    // Forward slashes for the backslashes of the path, the trail bytes of its double-byte characters
    // left alone.
    if (addJvmOptionFormatted(list, "-Dkvo.code.base=%s", codeBase))
        replaceBackslashes(list->options[list->count - 1].optionString, isLocalLeadByte);
    else
        ok = false;
    ok &= addJvmOptionFormatted(list, "-Dkvo.directory.root=%s", rootDirectory);
    ok &= addJvmOptionFormatted(list, "-Dkvo.directory.bin=%s", binDirectory);
    ok &= addJvmOptionFormatted(list, "-Dkvo.directory.data=%s", dataDirectory);
    ok &= addJvmOptionFormatted(list, "-Dkvo.directory.database=%s", databaseDirectory);
    ok &= addJvmOptionFormatted(list, "-Dkvo.directory.jre=%s", jreDirectory);
    ok &= addJvmOptionFormatted(list, "-Dkvo.directory.log=%s", logDirectory);
    ok &= addJvmOptionFormatted(list, "-Dkvo.directory.proddata=%s", proddataDirectory);
    ok &= addJvmOptionFormatted(list, "-Dkvo.directory.tempdata=%s", tempdataDirectory);
    ok &= addJvmOptionFormatted(list, "-Dkvo.log.output=%d", logOutputFlag ? 1 : 0);
    ok &= addJvmOptionFormatted(list, "-Duser.language=%s", language);
    ok &= addJvmOptionFormatted(list, "-Duser.region=%s", region);
    ok &= addJvmOptionFormatted(list, "-Xbootclasspath/p:%s", paths.bootClasspath);
    ok &= addJvmOptionFormatted(list, "-Xms%lum", GetProperty(L"jvm.heap.initial", 16));
    ok &= addJvmOptionFormatted(list, "-Xmx%lum", GetProperty(L"jvm.heap.maximum", 512));
    if (noClassGCFlag)
        ok &= addJvmOption(list, "-Xnoclassgc");
    ok &= addJvmOption(list, "-Xrs");
    if (jdwp) {
        ok &= addJvmOption(list, "-Xdebug");
        ok &= addJvmOption(list, "-Xnoagent");
        const unsigned long address = GetProperty(L"jdwp.socket", 8003);
        const char suspend = GetBooleanProperty(L"jdwp.suspend", 0) ? 'y' : 'n';
        ok &= addJvmOptionFormatted(list, "-Xrunjdwp:transport=dt_socket,server=y,address=%lu,suspend=%c",
                                    address, suspend);
    }
    addExtraOptions(list, &ok);

    for (int i = 0; i < list->count; ++i)
        KVO_TRACE(traceInfo, "JavaThread: jvmOption[ %d ] = \"%s\"", i, list->options[i].optionString);
    return ok;
}

}  // namespace kvo::launcher
