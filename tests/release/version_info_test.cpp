// The version resources of the staged images of both architectures as Windows programs read them:
// GetFileVersionInfoW and VerQueryValueW give the product's version (fixed part and texts), its
// names, and each image's own type and file name.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "test_files.h"

namespace {

struct Image {
    const wchar_t* name;
    DWORD fileType;
};
constexpr Image kImages[] = {{L"kvocli.exe", VFT_APP},   {L"kvojavaw.exe", VFT_APP}, {L"kvoconw.exe", VFT_APP},
                             {L"kvocon.exe", VFT_APP},   {L"kvoucd32.dll", VFT_DLL}, {L"nqfsfunc.dll", VFT_DLL},
                             {L"kta_ca.dll", VFT_DLL}};
const std::wstring kVersion = L"" KVO_TEST_VERSION;
const std::wstring kProduct = L"" KVO_TEST_PRODUCT;

std::wstring dotted(DWORD high, DWORD low) {
    wchar_t text[48];
    std::swprintf(text, 48, L"%u.%u.%u.%u", HIWORD(high), LOWORD(high), HIWORD(low), LOWORD(low));
    return text;
}

// A text of the US English UTF-16 block; "" when it is missing.
std::wstring text(const std::vector<BYTE>& block, const wchar_t* name) {
    void* data = nullptr;
    UINT size = 0;
    const std::wstring entry = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueW(block.data(), entry.c_str(), &data, &size) || size == 0) return L"";
    return static_cast<const wchar_t*>(data);
}

TEST(VersionInfoTest, EveryStagedImageCarriesTheProductVersion) {
    for (const char* variable : {"KVO_STAGED_I686", "KVO_STAGED_X86_64"}) {
        const char* dir = std::getenv(variable);
        ASSERT_NE(dir, nullptr) << variable;
        for (const Image& image : kImages) {
            // Wine maps the Unix path to Z:.
            std::wstring path = L"Z:" + kvotest::toWide(dir) + L"/" + image.name;
            std::replace(path.begin(), path.end(), L'/', L'\\');
            SCOPED_TRACE(kvotest::toNarrow(path));
            DWORD ignored = 0;
            std::vector<BYTE> block(GetFileVersionInfoSizeW(path.c_str(), &ignored));
            ASSERT_FALSE(block.empty()) << "no version resource, error " << GetLastError();
            ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));

            VS_FIXEDFILEINFO* fixed = nullptr;
            UINT size = 0;
            ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
            ASSERT_EQ(size, sizeof(VS_FIXEDFILEINFO));
            EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
            EXPECT_EQ(dotted(fixed->dwFileVersionMS, fixed->dwFileVersionLS), kVersion);
            EXPECT_EQ(dotted(fixed->dwProductVersionMS, fixed->dwProductVersionLS), kVersion);
            EXPECT_EQ(fixed->dwFileType, image.fileType);

            DWORD* translation = nullptr;
            ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                                       reinterpret_cast<void**>(&translation), &size));
            EXPECT_EQ(*translation, static_cast<DWORD>(MAKELONG(0x0409, 1200)));  // US English, UTF-16
            EXPECT_EQ(text(block, L"FileVersion"), kVersion);
            EXPECT_EQ(text(block, L"ProductVersion"), kVersion);
            EXPECT_EQ(text(block, L"CompanyName"), L"" KVO_TEST_COMPANY);
            EXPECT_EQ(text(block, L"ProductName"), kProduct);
            EXPECT_EQ(text(block, L"OriginalFilename"), image.name);
            EXPECT_EQ(text(block, L"FileDescription").rfind(kProduct + L" ", 0), 0u);
        }
    }
}

}  // namespace
