// The version resources of the staged images of both architectures as Windows programs read them:
// GetFileVersionInfoW and VerQueryValueW give the product's version and names, through the text
// block the translation table names, and each image's type.
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
constexpr Image kImages[] = {{L"kvocli.exe", VFT_APP}, {L"kvojavaw.exe", VFT_APP}, {L"kvoconw.exe", VFT_APP},
                             {L"kvocon.exe", VFT_APP}, {L"kvoucd32.dll", VFT_DLL}, {L"nqfsfunc.dll", VFT_DLL},
                             {L"kta_ca.dll", VFT_DLL}};

// A value of the version block; null when it is missing.
template <typename T>
const T* query(const std::vector<BYTE>& block, const std::wstring& entry) {
    void* data = nullptr;
    UINT size = 0;
    return VerQueryValueW(block.data(), entry.c_str(), &data, &size) && size != 0
               ? static_cast<const T*>(data)
               : nullptr;
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

            // (The fixed version and the product version: check_images.sh, from the resource itself.)
            const auto* fixed = query<VS_FIXEDFILEINFO>(block, L"\\");
            ASSERT_NE(fixed, nullptr);
            EXPECT_EQ(fixed->dwFileType, image.fileType);

            const auto* translation = query<WORD>(block, L"\\VarFileInfo\\Translation");
            ASSERT_NE(translation, nullptr);
            wchar_t text[64];
            std::swprintf(text, 64, L"\\StringFileInfo\\%04x%04x\\", translation[0], translation[1]);
            for (auto [name, value] : {std::pair{L"FileVersion", L"" KVO_TEST_VERSION},
                                       std::pair{L"CompanyName", L"" KVO_TEST_COMPANY},
                                       std::pair{L"ProductName", L"" KVO_TEST_PRODUCT}}) {
                const wchar_t* found = query<wchar_t>(block, text + std::wstring(name));
                EXPECT_STREQ(found, value) << kvotest::toNarrow(name);
            }
        }
    }
}

}  // namespace
