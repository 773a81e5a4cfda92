// The named shared sections between processes and threads: a second process uses a table without
// its file, two processes filling at once both see a complete table, eight threads of a fresh process
// convert at once, a process that may only read uses a section, hostile sections and files are
// rejected, and the section's descriptor lets everyone read but not write.
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "capture_output.h"
#include "test_files.h"
#include "probe_api.h"

using kvotest::ScratchDir;

namespace {

// A directory holding a copy of kvoucd32.dll and the named mapping files only.
struct LibraryCopy {
    ScratchDir dir{"kvocp"};
    explicit LibraryCopy(std::initializer_list<const char*> files) {
        CopyFileA((kvotest::programDirectory() + "kvoucd32.dll").c_str(), dll().c_str(), FALSE);
        for (const char* f : files)
            CopyFileA((kvotest::programDirectory() + f).c_str(), dir.file(f).c_str(), FALSE);
    }
    std::string dll() const { return dir.file("kvoucd32.dll"); }
};

class Child {
public:
    explicit Child(const std::string& args) {
        SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
        HANDLE write = nullptr;
        CreatePipe(&read_, &write, &sa, 0);
        SetHandleInformation(read_, HANDLE_FLAG_INHERIT, 0);
        STARTUPINFOA si{};
        si.cb = sizeof(si);
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = write;
        si.hStdError = write;
        si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        std::string command = "\"";
        command += kvotest::programDirectory() + "cp_probe.exe\" " + args;
        started_ =
            CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi_);
        CloseHandle(write);
    }
    ~Child() {
        if (started_) {
            CloseHandle(pi_.hProcess);
            CloseHandle(pi_.hThread);
        }
        CloseHandle(read_);
    }
    // Waits for the end; returns the exit code (-1 if it did not start or end in time).
    int finish() {
        if (!started_)
            return -1;
        char buffer[256];
        DWORD got;
        while (ReadFile(read_, buffer, sizeof(buffer), &got, nullptr) && got > 0)
            output_.append(buffer, got);
        if (WaitForSingleObject(pi_.hProcess, 60000) != WAIT_OBJECT_0)
            return -1;
        DWORD code = 0;
        GetExitCodeProcess(pi_.hProcess, &code);
        while (!output_.empty() && (output_.back() == '\n' || output_.back() == '\r'))
            output_.pop_back();
        return static_cast<int>(code);
    }
    const std::string& output() const { return output_; }
    // The next line the child prints (without its line end), or "" at the end of its output.
    std::string readLine() {
        std::string line;
        char c;
        DWORD got;
        while (ReadFile(read_, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
            if (c != '\r')
                line += c;
        }
        return line;
    }
    bool running() const { return started_ && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }

private:
    HANDLE read_ = nullptr;
    PROCESS_INFORMATION pi_{};
    BOOL started_ = FALSE;
    std::string output_;
};

std::string digestLine(ProbeApi& api, int codePage) {
    NFCPMapping mapping = api.load(codePage);
    if (mapping == nullptr)
        return "null";
    char line[32];
    std::snprintf(line, sizeof(line), "ok %016llx", static_cast<unsigned long long>(api.digest(mapping)));
    api.free(mapping);
    return line;
}

TEST(Sharing, SecondProcessLoadsATableWithoutItsFile) {
    LibraryCopy copy({"CP949.UNI"});
    ProbeApi api;
    ASSERT_TRUE(api.bind(copy.dll().c_str()));
    NFCPMapping held = api.load(949);
    ASSERT_NE(held, nullptr);
    char first[32];
    std::snprintf(first, sizeof(first), "ok %016llx", static_cast<unsigned long long>(api.digest(held)));

    ASSERT_TRUE(MoveFileA(copy.dir.file("CP949.UNI").c_str(), copy.dir.file("CP949.moved").c_str()));
    Child second(copy.dll() + " load 949");
    EXPECT_EQ(second.finish(), 0) << second.output();
    EXPECT_EQ(second.output(), first) << "the second process sees the same table";

    // Once nobody holds the section, the missing file is missing.
    api.free(held);
    Child third(copy.dll() + " load 949");
    EXPECT_EQ(third.finish(), 2) << third.output();
    EXPECT_EQ(third.output(), "null");
    EXPECT_EQ(api.load(949), nullptr);
    api.unbind();
}

TEST(Sharing, LocalConversionsWorkWithoutAnyMappingFile) {
    LibraryCopy bare({});
    Child child(bare.dll() + " local");
    EXPECT_EQ(child.finish(), 0) << child.output();
}

TEST(Sharing, TwoProcessesFillingAtOnceBothGetTheCompleteTable) {
    LibraryCopy copy({"CP950.UNI"});
    char eventName[64];
    std::snprintf(eventName, sizeof(eventName), "kvotest.start.%lu", GetCurrentProcessId());
    HANDLE start = CreateEventA(nullptr, TRUE, FALSE, eventName);
    ASSERT_NE(start, nullptr);
    Child a(copy.dll() + " load 950 " + eventName);
    Child b(copy.dll() + " load 950 " + eventName);
    Sleep(500);
    SetEvent(start);
    EXPECT_EQ(a.finish(), 0) << a.output();
    EXPECT_EQ(b.finish(), 0) << b.output();
    CloseHandle(start);
    ProbeApi api;
    ASSERT_TRUE(api.bind(copy.dll().c_str()));
    const std::string expected = digestLine(api, 950);
    api.unbind();
    EXPECT_EQ(a.output(), expected);
    EXPECT_EQ(b.output(), expected);
}

TEST(Sharing, EightThreadsDoTheirFirstConversionAtOnce) {
    for (int round = 0; round < 10; ++round) {
        Child child(kvotest::programDirectory() + "kvoucd32.dll threads");
        EXPECT_EQ(child.finish(), 0) << child.output();
    }
}

// Another process holds the names that a process filling the table's section holds in the middle of
// the fill: the lock "KVOCP949.UNI.fill" and an empty section "KVOCP949.UNI" (as one that stopped
// there would, or any process of the session that took the names first). The conversions that need
// the table neither wait for it nor fail: they return the right text while the other process still
// holds both names.
TEST(Sharing, NamesHeldElsewhereNeverStallAConversion) {
    char eventName[64];
    std::snprintf(eventName, sizeof(eventName), "kvotest.release.%lu", GetCurrentProcessId());
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, eventName);
    ASSERT_NE(release, nullptr);
    Child holder(kvotest::programDirectory() + "kvoucd32.dll hold 949 " + eventName);
    ASSERT_EQ(holder.readLine(), "held");

    ProbeApi api;
    ASSERT_TRUE(api.bind((kvotest::programDirectory() + "kvoucd32.dll").c_str()));
    char expected[16], out[16];
    ASSERT_EQ(api.utf8ToCompUnicode("\xEA\xB0\x80\xEA\xB0\x81", expected, sizeof(expected), 0, 0), 7);
    EXPECT_EQ(api.localeToCompUnicode("ko_KR", "\xB0\xA1\xB0\xA2", out, sizeof(out), '*', nullptr), 7);
    EXPECT_STREQ(out, expected);
    NFCPMapping mapping = api.load(949);
    EXPECT_NE(mapping, nullptr);
    wchar_t unit = 0;
    if (mapping != nullptr) {
        EXPECT_EQ(api.cpCharToUnicode(mapping, "\xB0\xA1", &unit, '*', nullptr), 2);
        api.free(mapping);
    }
    EXPECT_EQ(unit, 0xAC00);
    EXPECT_TRUE(holder.running()) << "the conversions returned while the names were still held";

    SetEvent(release);
    EXPECT_EQ(holder.finish(), 0) << holder.output();
    CloseHandle(release);
    api.unbind();
}

// A section made by an account that lets this one only read: the library maps it read-only.
TEST(Sharing, ReadOnlyProcessUsesTheSection) {
    const std::string image = kvotest::readFile(kvotest::programDirectory() + "CP850.UNI");
    ASSERT_GT(image.size(), 80u);
    std::string expected;
    {
        LibraryCopy copy({"CP850.UNI"});
        ProbeApi api;
        ASSERT_TRUE(api.bind(copy.dll().c_str()));
        expected = digestLine(api, 850);
        api.unbind();
    }
    PSECURITY_DESCRIPTOR readOnly = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;;0x20005;;;WD)", SDDL_REVISION_1,
                                                                     &readOnly, nullptr));
    SECURITY_ATTRIBUTES sa{sizeof(sa), readOnly, FALSE};
    HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE | SEC_RESERVE, 0, 0x40000,
                                        "KVOCP850.UNI");
    ASSERT_NE(section, nullptr);
    ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    char* view = static_cast<char*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0));
    ASSERT_NE(view, nullptr);
    ASSERT_NE(VirtualAlloc(view, image.size(), MEM_COMMIT, PAGE_READWRITE), nullptr);
    memcpy(view, image.data(), image.size());

    LibraryCopy bare({});
    Child child(bare.dll() + " load 850");
    EXPECT_EQ(child.finish(), 0) << child.output();
    EXPECT_EQ(child.output(), expected);

    UnmapViewOfFile(view);
    CloseHandle(section);
    LocalFree(readOnly);
}

// Sections and files whose content would lead a reader astray are rejected; the process goes on.
TEST(Sharing, HostileSectionsAndFilesAreRejected) {
    const struct {
        const char* what;
        unsigned size, toOffset, fromOffset;
        unsigned char bitmapFill;
    } sections[] = {
        {"size beyond the section", 0x7FFFFFF0u, 80, 80, 0},
        {"offsets far outside", 0x1000, 0xFFFFFF00u, 0xFFFFFF00u, 0xFF},
        {"records announced beyond the size", 0x100, 80, 80, 0xFF},
    };
    LibraryCopy bare({});
    for (const auto& s : sections) {
        HANDLE section = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_RESERVE, 0,
                                            0x40000, "KVOCP37.UNI");
        ASSERT_NE(section, nullptr);
        unsigned char* view = static_cast<unsigned char*>(MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0));
        ASSERT_NE(VirtualAlloc(view, 0x1000, MEM_COMMIT, PAGE_READWRITE), nullptr);
        memcpy(view, &s.size, 4);
        memcpy(view + 8, &s.toOffset, 4);
        memcpy(view + 12, &s.fromOffset, 4);
        memset(view + 16, s.bitmapFill, 64);
        Child child(bare.dll() + " load 37");
        EXPECT_EQ(child.finish(), 2) << s.what << ": " << child.output();
        UnmapViewOfFile(view);
        CloseHandle(section);
    }

    const std::string good = kvotest::readFile(kvotest::programDirectory() + "CP37.UNI");
    ASSERT_GT(good.size(), 200u);
    std::string badOffset = good;
    badOffset[12] = '\xF0';  // from-Unicode records beyond the image
    // A file shorter than its size field is read as far as it goes, the rest zero, and validated so:
    // cut inside the single-byte table, bytes would map to U+0000.
    const std::pair<const char*, std::string> files[] = {
        {"truncated inside a table", good.substr(0, good.size() / 2)},
        {"no whole size field", good.substr(0, 3)},
        {"bad offset", badOffset},
        {"empty file", std::string()},
    };
    for (const auto& f : files) {
        LibraryCopy copy({});
        kvotest::writeFile(copy.dir.file("CP37.UNI"), f.second);
        Child child(copy.dll() + " load 37");
        EXPECT_EQ(child.finish(), 2) << f.first << ": " << child.output();
    }
}

TEST(Sharing, SectionDescriptorLetsEveryoneReadButNotWrite) {
    ProbeApi api;
    ASSERT_TRUE(api.bind((kvotest::programDirectory() + "kvoucd32.dll").c_str()));
    NFCPMapping mapping = api.load(1381);
    ASSERT_NE(mapping, nullptr);
    HANDLE section = OpenFileMappingA(READ_CONTROL, FALSE, "KVOCP1381.UNI");
    ASSERT_NE(section, nullptr);
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(GetSecurityInfo(section, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor),
              static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_NE(dacl, nullptr);
    BYTE everyone[SECURITY_MAX_SID_SIZE], admins[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(everyone);
    CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size);
    size = sizeof(admins);
    CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size);
    bool sawEveryone = false, sawAdmins = false;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        ASSERT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        PSID sid = &ace->SidStart;
        if (EqualSid(sid, everyone)) {
            sawEveryone = true;
            EXPECT_TRUE(ace->Mask & SECTION_MAP_READ);
            EXPECT_EQ(
                ace->Mask & (SECTION_MAP_WRITE | SECTION_EXTEND_SIZE | WRITE_DAC | WRITE_OWNER | DELETE), 0u);
        } else if (EqualSid(sid, admins)) {
            sawAdmins = true;
            EXPECT_EQ(ace->Mask & SECTION_ALL_ACCESS, static_cast<DWORD>(SECTION_ALL_ACCESS));
        }
    }
    EXPECT_TRUE(sawEveryone);
    EXPECT_TRUE(sawAdmins);
    LocalFree(descriptor);
    CloseHandle(section);
    api.free(mapping);
    api.unbind();
}

}  // namespace
