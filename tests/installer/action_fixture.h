// The fixture of the tests that call the actions of kta_ca.dll: a product installed for each test
// suite (its installation location is what the actions ask the installer for), a freshly loaded
// library for each test (its row counters start at 0), the installer's messages captured, and
// sessions of packages made at test time.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "installer_test_support.h"

namespace kvotest::actions {

inline const wchar_t kProductCode[] = L"{5D3A8C41-7E2B-4F90-8A6D-1C2E3F405162}";
inline const wchar_t kOtherProductCode[] = L"{00000000-1111-2222-3333-444444444444}";  // not installed
inline const wchar_t kComponent[] = L"KTA.bin.7C2E41A9_58B3_4D6F_A0E7_1B94C3D85F26";

inline std::wstring productRoot() {
    return currentDirectory() + L"product\\";
}

class KtaActions : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        makeDirectory(productRoot());
        product_ = new InstalledProduct(kProductCode, productRoot());
    }
    static void TearDownTestSuite() {
        delete product_;
        product_ = nullptr;
        removeTree(productRoot());
    }

    void SetUp() override {
        ASSERT_EQ(product_->installResult(), 0u) << "the product giving the installation location";
        removeTree(productRoot());
        makeDirectory(productRoot());
        library_ = std::make_unique<KtaLibrary>();
        ASSERT_NE(library_->module(), nullptr) << "kta_ca.dll beside the test";
        capture_ = std::make_unique<MessageCapture>();
    }
    void TearDown() override {
        capture_.reset();
        library_.reset();
        package_.reset();
    }

    using Properties = std::vector<std::pair<std::wstring, std::wstring>>;

    // A session of a package of the installed product (or of another product code) with the
    // package's messages. The properties are also set in the open session: for a package whose
    // product is installed, Wine opens the product's cached package instead of the one given.
    Session session(const Properties& properties = {}, const wchar_t* productCode = kProductCode) {
        package_ = std::make_unique<TestPackage>(currentDirectory() + L"actions.msi");
        package_->property(L"ProductCode", productCode);
        addProductMessages(*package_);
        for (const auto& [name, value] : properties) {
            if (!value.empty())
                package_->property(name, value);
        }
        auto s = package_->session();
        for (const auto& [name, value] : properties)
            s.setProperty(name, value);
        return s;
    }

    UINT call(const char* name, const Session& session) {
        const auto action = library_->action(name);
        EXPECT_NE(action, nullptr) << name;
        return action != nullptr ? action(session.get()) : ERROR_PROC_NOT_FOUND;
    }

    static std::vector<Row> sorted(std::vector<Row> rows) {
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    static std::vector<Row> directoryRows(const Session& session) {
        // The installer adds TARGETDIR to a package that lacks it.
        return sorted(
            session.rows(L"SELECT `Directory`, `Directory_Parent`, `DefaultDir` FROM `Directory` WHERE "
                         L"`Directory` <> 'TARGETDIR'"));
    }
    static std::vector<Row> removeFileRows(const Session& session) {
        return sorted(session.rows(
            L"SELECT `FileKey`, `Component_`, `FileName`, `DirProperty`, `InstallMode` FROM `RemoveFile`"));
    }

    static inline InstalledProduct* product_ = nullptr;
    std::unique_ptr<TestPackage> package_;
    std::unique_ptr<KtaLibrary> library_;
    std::unique_ptr<MessageCapture> capture_;
};

}  // namespace kvotest::actions
