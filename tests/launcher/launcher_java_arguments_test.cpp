// Command-line arguments as a Java String[] through the JNI test double, and the UTF-8 and file
// name helpers behind it. Runs under a Western and (second registration) a Japanese code page, which
// the arguments, taken as typed, no longer pass through.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "jni_double.h"
#include "classpath.h"
#include "heap.h"
#include "heap_failure.h"
#include "java_arguments.h"
#include "process_environment.h"
#include "settings.h"
#include "state.h"
#include "trace_log.h"
#include "variant.h"
#include "launcher_test_support.h"

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

class JavaArguments : public ::testing::Test {
protected:
    void SetUp() override {
        dumpExceptionCalls = 0;
        env_ = vm_.env();
    }

    kvojni::Vm vm_;
    JNIEnv* env_ = nullptr;
};

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

TEST_F(JavaArguments, ArgumentsArriveAsTyped) {
    // KVO_EXPECT_ACP is set by the registrations that choose a code page through LANG.
    if (const char* acp = std::getenv("KVO_EXPECT_ACP")) {
        ASSERT_EQ(GetACP(), std::strtoul(acp, nullptr, 10));
    }
    const struct {
        const wchar_t* typed;
        const char* java;  // modified UTF-8
    } rows[] = {
        {L"plain", "plain"},
        {L"caf\u00e9 \u00fc\u00df", "caf\xc3\xa9 \xc3\xbc\xc3\x9f"},
        {L"\u65e5\u672c\u8a9e \u30c6\u30b9\u30c8",
         "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e \xe3\x83\x86\xe3\x82\xb9\xe3\x83\x88"},
        {L"", ""},
        {L"C:\\dir with space\\x.txt", "C:\\dir with space\\x.txt"},
        // A supplementary character as its two units, a lone surrogate as its one.
        {L"\U0001F600", "\xed\xa0\xbd\xed\xb8\x80"},
        {L"\xdc00x", "\xed\xb0\x80x"},
    };
    std::vector<const wchar_t*> arguments;
    for (const auto& row : rows)
        arguments.push_back(row.typed);
    TraceCapture trace;
    std::size_t refsBefore = vm_.liveLocalRefs();
    jobjectArray array = NewStringArray(env_, static_cast<int>(arguments.size()), arguments.data());
    ASSERT_NE(array, nullptr);
    ASSERT_EQ(vm_.arrayLength(array), static_cast<jsize>(arguments.size()));
    for (std::size_t i = 0; i < arguments.size(); ++i)
        EXPECT_EQ(vm_.stringElement(array, static_cast<jsize>(i)), std::optional<std::string>(rows[i].java))
            << i;
    EXPECT_EQ(vm_.liveLocalRefs(), refsBefore + 1) << "the element strings are released";
    EXPECT_EQ(vm_.malformedStrings(), 0u);
    EXPECT_EQ(dumpExceptionCalls, 0);
    EXPECT_TRUE(trace.has("> NewStringArray: size = 7"));
    EXPECT_TRUE(trace.has("- NewStringArray: array[ 0 ] = \"plain\""));
    EXPECT_TRUE(trace.has("< ConvertToUTF8: return ( \"caf\xc3\xa9 \xc3\xbc\xc3\x9f\" )"));
    EXPECT_TRUE(trace.has("< NewStringArray"));
}

TEST_F(JavaArguments, ArgumentWithoutMemoryForItsTextIsANullElement) {
    const wchar_t* arguments[] = {L"first", L"second", L"third"};
    TraceCapture trace;
    kvotest::FailAllocation failure(2);  // the second argument's text
    jobjectArray array = NewStringArray(env_, 3, arguments);
    ASSERT_TRUE(failure.reached());
    ASSERT_NE(array, nullptr);
    EXPECT_EQ(vm_.stringElement(array, 0), std::optional<std::string>("first"));
    EXPECT_TRUE(vm_.isNullElement(array, 1));
    EXPECT_EQ(vm_.stringElement(array, 2), std::optional<std::string>("third"));
    EXPECT_TRUE(trace.has("! ConvertToUTF8: unable to allocate 7 byte(s) for value"));
    EXPECT_TRUE(trace.has("! NewStringArray: unable to convert string \"second\" to UTF8"));
}

TEST_F(JavaArguments, StringAllocationFailureLeavesANullElement) {
    vm_.failNewStringUtf("two");
    const wchar_t* arguments[] = {L"one", L"two", L"three"};
    TraceCapture trace;
    jobjectArray array = NewStringArray(env_, 3, arguments);
    ASSERT_NE(array, nullptr);
    EXPECT_TRUE(vm_.isNullElement(array, 1));
    EXPECT_EQ(vm_.stringElement(array, 2), std::optional<std::string>("three"));
    EXPECT_EQ(dumpExceptionCalls, 1);
    EXPECT_TRUE(trace.has("! NewStringArray: unable to allocate utf8 string"));
}

TEST_F(JavaArguments, MissingStringClassOrArrayGivesNothing) {
    const wchar_t* arguments[] = {L"x"};
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
    char* plain = ConvertToUTF8(L"abc");
    ASSERT_NE(plain, nullptr);
    EXPECT_STREQ(plain, "abc");
    kvo::heapRelease(plain);
    EXPECT_EQ(trace.lines(),
              (std::vector<std::string>{"> ConvertToUTF8: string = NIL", "< ConvertToUTF8: return ( NIL )",
                                        "> ConvertToUTF8: string = \"abc\"",
                                        "< ConvertToUTF8: return ( \"abc\" )"}));
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
