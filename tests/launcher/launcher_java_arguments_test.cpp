// Command-line arguments as a Java String[] through the JNI test double, and the UTF-8 and file
// name helpers behind it. Runs under a Western and (second registration) a Japanese code page.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "jni_double.h"
#include "classpath.h"
#include "heap.h"
#include "java_arguments.h"
#include "process_environment.h"
#include "settings.h"
#include "state.h"
#include "trace_log.h"
#include "variant.h"
#include "launcher_test_support.h"
#include "str.h"
#include "seam.h"
#include "str_calls.h"

using namespace kvo;
using namespace kvo::launcher;

using kvotest::TraceCapture;

// The programs report pending exceptions with their dump code; here the calls are counted.
static int dumpExceptionCalls = 0;
void kvo::launcher::DumpException(JNIEnv* env) {
    ++dumpExceptionCalls;
    env->ExceptionClear();
}

namespace {

// Non-ASCII text of the process's code page and its modified UTF-8 form.
struct LocalSample {
    std::string local;
    std::string utf8;
};

LocalSample nonAsciiSample() {
    switch (GetACP()) {
        case 932:
            return {"\x93\xfa\x96\x7b\x8c\xea \x83\x65\x83\x58\x83\x67",  // 日本語 テスト
                    "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e \xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88"};
        case 936:
            return {"\xd6\xd0\xce\xc4", "\xe4\xb8\xad\xe6\x96\x87"};  // 中文
        default:
            return {"caf\xe9 \xfc\xdf", "caf\xc3\xa9 \xc3\xbc\xc3\x9f"};  // café üß (1252)
    }
}

class JavaArguments : public ::testing::Test {
protected:
    void SetUp() override {
        dumpExceptionCalls = 0;
        env_ = vm_.env();
    }

    kvojni::Vm vm_;
    JNIEnv* env_ = nullptr;
};

// The library's local conversion, failing for the text "bad" as for a text it cannot convert.
int __stdcall failForBad(const char* src, wchar_t* dst, int dstLen, int def, int* used) {
    if (std::strcmp(src, "bad") == 0)
        return 0;
    return ::NFConvertLocalToUnicode(src, dst, dstLen, def, used);
}

}  // namespace

TEST_F(JavaArguments, CountZeroGivesAnEmptyArray) {
    TraceCapture trace;
    std::size_t refsBefore = vm_.liveLocalRefs();
    jobjectArray array = NewStringArray(env_, 0, nullptr);
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(vm_.arrayLength(array), 0);
    EXPECT_EQ(vm_.elementClassName(array), "java/lang/String");
    EXPECT_EQ(vm_.liveLocalRefs(), refsBefore + 1) << "only the array itself stays referenced";
    EXPECT_EQ(trace.lines(), (std::vector<std::string>{"> NewStringArray: size = 0", "< NewStringArray"}));
}

TEST_F(JavaArguments, LocalTextArrivesAsTheSameCharacters) {
    // KVO_EXPECT_ACP is set by the registrations that choose a code page through LANG.
    if (const char* acp = std::getenv("KVO_EXPECT_ACP")) {
        ASSERT_EQ(GetACP(), std::strtoul(acp, nullptr, 10));
    }
    const LocalSample sample = nonAsciiSample();
    const char* arguments[] = {"plain", sample.local.c_str(), "", "C:\\dir with space\\x.txt"};
    TraceCapture trace;
    std::size_t refsBefore = vm_.liveLocalRefs();
    jobjectArray array = NewStringArray(env_, 4, arguments);
    ASSERT_NE(array, nullptr);
    ASSERT_EQ(vm_.arrayLength(array), 4);
    EXPECT_EQ(vm_.stringElement(array, 0), std::optional<std::string>("plain"));
    EXPECT_EQ(vm_.stringElement(array, 1), std::optional<std::string>(sample.utf8))
        << "code page " << GetACP();
    EXPECT_EQ(vm_.stringElement(array, 2), std::optional<std::string>(""));
    EXPECT_EQ(vm_.stringElement(array, 3), std::optional<std::string>("C:\\dir with space\\x.txt"));
    EXPECT_EQ(vm_.liveLocalRefs(), refsBefore + 1) << "the element strings are released";
    EXPECT_EQ(vm_.malformedStrings(), 0u);
    EXPECT_EQ(dumpExceptionCalls, 0);
    EXPECT_TRUE(trace.has("> NewStringArray: size = 4"));
    EXPECT_TRUE(trace.has("- NewStringArray: array[ 0 ] = \"plain\""));
    EXPECT_TRUE(trace.has("- NewStringArray: array[ 1 ] = \"" + sample.local + "\""));
    EXPECT_TRUE(trace.has("< ConvertToUTF8: return ( \"" + sample.utf8 + "\" )"));
    EXPECT_TRUE(trace.has("< NewStringArray"));
}

TEST_F(JavaArguments, ConversionFailureLeavesANullElement) {
    const auto failBad = kvo::replace(kvo::strCalls.NFConvertLocalToUnicode, failForBad);
    const char* arguments[] = {"first", "bad", "third"};
    TraceCapture trace;
    jobjectArray array = NewStringArray(env_, 3, arguments);
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(vm_.stringElement(array, 0), std::optional<std::string>("first"));
    EXPECT_TRUE(vm_.isNullElement(array, 1));
    EXPECT_EQ(vm_.stringElement(array, 2), std::optional<std::string>("third"));
    EXPECT_TRUE(trace.has("! NewStringArray: unable to convert string \"bad\" to UTF8"));
    EXPECT_TRUE(trace.has("< ConvertToUTF8: return ( NIL )"));
    EXPECT_EQ(vm_.malformedStrings(), 0u) << "unconverted local text never reaches NewStringUTF";
}

TEST_F(JavaArguments, StringAllocationFailureLeavesANullElement) {
    vm_.failNewStringUtf("two");
    const char* arguments[] = {"one", "two", "three"};
    TraceCapture trace;
    jobjectArray array = NewStringArray(env_, 3, arguments);
    ASSERT_NE(array, nullptr);
    EXPECT_TRUE(vm_.isNullElement(array, 1));
    EXPECT_EQ(vm_.stringElement(array, 2), std::optional<std::string>("three"));
    EXPECT_EQ(dumpExceptionCalls, 1);
    EXPECT_TRUE(trace.has("! NewStringArray: unable to allocate utf8 string"));
}

TEST_F(JavaArguments, MissingStringClassOrArrayGivesNothing) {
    const char* arguments[] = {"x"};
    {
        vm_.failAllocation(1);  // NewObjectArray
        TraceCapture trace;
        EXPECT_EQ(NewStringArray(env_, 1, arguments), nullptr);
        EXPECT_EQ(dumpExceptionCalls, 1);
        EXPECT_TRUE(trace.has("! NewStringArray: unable to allocate 1 element object array"));
    }
    {
        vm_.hideClass("java/lang/String");
        TraceCapture trace;
        EXPECT_EQ(NewStringArray(env_, 1, arguments), nullptr);
        EXPECT_EQ(dumpExceptionCalls, 2);
        EXPECT_TRUE(trace.has("! NewStringArray: unable to find class \"java/lang/String\""));
    }
}

TEST(ConvertToUTF8, NullAndPlainText) {
    TraceCapture trace;
    EXPECT_EQ(ConvertToUTF8(nullptr), nullptr);
    char* plain = ConvertToUTF8("abc");
    ASSERT_NE(plain, nullptr);
    EXPECT_STREQ(plain, "abc");
    kvo::heapRelease(plain);
    EXPECT_EQ(trace.lines(),
              (std::vector<std::string>{
                  "> ConvertToUTF8: localString = NIL", "< ConvertToUTF8: return ( NIL )",
                  "> ConvertToUTF8: localString = \"abc\"", "< ConvertToUTF8: return ( \"abc\" )"}));
}

TEST(NormalizeFileName, SlashesBecomeBackslashes) {
    TraceCapture trace;
    char withSlashes[] = "lib/extra/x.jar";
    NormalizeFileName(withSlashes);
    EXPECT_STREQ(withSlashes, "lib\\extra\\x.jar");
    char without[] = "C:\\a\\b.jar";
    NormalizeFileName(without);
    EXPECT_STREQ(without, "C:\\a\\b.jar");
    NormalizeFileName(nullptr);
    EXPECT_EQ(trace.lines(),
              (std::vector<std::string>{"> NormalizeFileName: file name = \"lib/extra/x.jar\"",
                                        "< NormalizeFileName: normalized file name = \"lib\\extra\\x.jar\"",
                                        "> NormalizeFileName: file name = \"C:\\a\\b.jar\"",
                                        "< NormalizeFileName: normalized file name = \"C:\\a\\b.jar\"",
                                        "> NormalizeFileName: file name = NIL",
                                        "< NormalizeFileName: normalized file name = NIL"}));
}
