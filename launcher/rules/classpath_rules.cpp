#include "classpath_rules.h"

#include <cstring>

namespace kvo::launcher {

const char* const kBootClasspathEntries[] = {
    "javafix",
    "lib\\javafix.jar",
};
const int kBootClasspathEntryCount = sizeof(kBootClasspathEntries) / sizeof(kBootClasspathEntries[0]);

const char* const kFixedClasspathEntries[] = {
    "classfix",
    "classes",
    "classes\\VrnLibs.jar",
    "classes\\VrnAgent.jar",
    "classes\\VrnUIL.jar",
    "classes\\Varnel.jar",
    "lib\\xalan.jar",
    "lib\\xml-apis.jar",
    "lib\\xercesImpl.jar",
    "lib\\xmlParserAPIs.jar",
    "lib\\zalsnmp.jar",
    "classes\\cimcmn.jar",
    "classes\\cimfac.jar",
    "lib\\cimapi.jar",
    "lib\\cimfac.jar",
};
const int kFixedClasspathEntryCount = sizeof(kFixedClasspathEntries) / sizeof(kFixedClasspathEntries[0]);

const char* const kProtocolHandlerPackages[] = {
    "sun.net.www.protocol",
    "com.sun.net.ssl.internal.www.protocol",
    "com.orvane.kvo.viviv",
    "org.apache.axis.transport",
};
const int kProtocolHandlerPackageCount =
    sizeof(kProtocolHandlerPackages) / sizeof(kProtocolHandlerPackages[0]);

const char* const kProtocolHandlerSeparator = "|";
const char* const kClasspathSeparator = ";";
const char* const kExtensionDirectory = "classes\\extensions\\";
const char* const kSystemClasspathPrefix = "classpath:";

size_t joinedSize(const char* const* entries, int count, const char* separator) {
    size_t size = static_cast<size_t>(count > 0 ? count : 0) * std::strlen(separator) + 1;
    for (int i = 0; i < count; ++i)
        size += std::strlen(entries[i]);
    return size;
}

void joinEntries(char* out, const char* const* entries, int count, const char* separator) {
    size_t separatorLength = std::strlen(separator);
    char* p = out;
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            std::memcpy(p, separator, separatorLength);
            p += separatorLength;
        }
        size_t length = std::strlen(entries[i]);
        std::memcpy(p, entries[i], length);
        p += length;
    }
    *p = 0;
}

ClasspathValueKind classifyClasspathValue(const char* text, const char** pattern) {
    if (startsWithAsciiIgnoreCase(text, kSystemClasspathPrefix)) {
        *pattern = text + std::strlen(kSystemClasspathPrefix);
        return ClasspathValueKind::SystemClasspath;
    }
    if (std::strcmp(text, "\\") == 0 || std::strcmp(text, "/") == 0 || std::strchr(text, ':') != nullptr)
        return ClasspathValueKind::Verbatim;
    return ClasspathValueKind::RootRelative;
}

char* firstEntryEndingWith(char* list, const char* pattern, LeadBytePredicate isLeadByte,
                           void (*visit)(const char* entry)) {
    char* p = list;
    while (*p != 0) {
        char* end = std::strchr(p, ';');
        char* next = end ? end + 1 : p + std::strlen(p);
        if (end)
            *end = 0;
        if (*p != 0) {
            if (visit)
                visit(p);
            if (endsWithIgnoreCase(p, pattern, isLeadByte))
                return p;
        }
        p = next;
    }
    return nullptr;
}

namespace {

size_t withoutFinalCharacter(const char* directory) {
    size_t length = std::strlen(directory);
    return length > 0 ? length - 1 : 0;
}

}  // namespace

size_t libraryPathSize(const char* jni, const char* bin, const char* pathVariable) {
    size_t size = std::strlen(bin) + 1 + std::strlen(jni) + 1;
    if (pathVariable != nullptr)
        size += 1 + std::strlen(pathVariable);
    return size;
}

void composeLibraryPath(char* out, const char* jni, const char* bin, const char* pathVariable) {
    size_t jniLength = withoutFinalCharacter(jni);
    size_t binLength = withoutFinalCharacter(bin);
    char* p = out;
    std::memcpy(p, jni, jniLength);
    p += jniLength;
    *p++ = ';';
    std::memcpy(p, bin, binLength);
    p += binLength;
    if (pathVariable != nullptr) {
        *p++ = ';';
        size_t length = std::strlen(pathVariable);
        std::memcpy(p, pathVariable, length);
        p += length;
    }
    *p = 0;
}

}  // namespace kvo::launcher
