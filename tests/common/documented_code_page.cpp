#include "documented_code_page.h"

#include <cwchar>

namespace kvotest {

namespace {

UINT ansiCodePage = CP_ACP;
UINT realCodePage = CP_ACP;
int refusedCalls = 0;
decltype(&::GetCPInfo) unusedGetCpInfo = ::GetCPInfo;  // the entry of a seam without GetCPInfo

UINT page(UINT cp) {
    return cp == ansiCodePage ? realCodePage : cp;
}

int refuse(DWORD error) {
    ++refusedCalls;
    SetLastError(error);
    return 0;
}

UINT WINAPI getAcp() {
    return ansiCodePage;
}

BOOL WINAPI getCpInfo(UINT cp, LPCPINFO info) {
    return GetCPInfo(page(cp), info);
}

int WINAPI toBytes(UINT cp, DWORD flags, LPCWCH src, int n, LPSTR dst, int size, LPCCH def, LPBOOL used) {
    const DWORD allowed = cp == CP_UTF8 ? WC_ERR_INVALID_CHARS : 0;
    if (cp == ansiCodePage && (flags & ~allowed) != 0)
        return refuse(ERROR_INVALID_FLAGS);
    if (cp == CP_UTF8 && (def != nullptr || used != nullptr))
        return refuse(ERROR_INVALID_PARAMETER);
    return WideCharToMultiByte(page(cp), flags, src, n, dst, size, def, used);
}

int WINAPI toUnits(UINT cp, DWORD flags, LPCCH src, int n, LPWSTR dst, int size) {
    const DWORD allowed = cp == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    if (cp == ansiCodePage && (flags & ~allowed) != 0)
        return refuse(ERROR_INVALID_FLAGS);
    return MultiByteToWideChar(page(cp), flags, src, n, dst, size);
}

}  // namespace

DocumentedCodePage::DocumentedCodePage(const CodePageSeam& seam, UINT ansi, UINT real)
    : getAcp_(*seam.getAcp, getAcp),
      wideCharToMultiByte_(*seam.wideCharToMultiByte, toBytes),
      multiByteToWideChar_(*seam.multiByteToWideChar, toUnits),
      getCpInfo_(*(seam.getCpInfo != nullptr ? seam.getCpInfo : &unusedGetCpInfo), getCpInfo) {
    ansiCodePage = ansi;
    realCodePage = real;
    refusedCalls = 0;
}

int DocumentedCodePage::refused() {
    return refusedCalls;
}

namespace {

const wchar_t* untranslatable = nullptr;
decltype(&::WideCharToMultiByte) translateOthers = nullptr;

int WINAPI failsForOneText(UINT cp, DWORD flags, LPCWCH src, int n, LPSTR dst, int size, LPCCH def,
                           LPBOOL used) {
    const std::size_t units = src == nullptr ? 0 : n < 0 ? std::wcslen(src) : static_cast<std::size_t>(n);
    if (src != nullptr && units == std::wcslen(untranslatable) &&
        std::wmemcmp(src, untranslatable, units) == 0) {
        SetLastError(ERROR_NO_UNICODE_TRANSLATION);
        return 0;
    }
    return translateOthers(cp, flags, src, n, dst, size, def, used);
}

}  // namespace

UntranslatableText::UntranslatableText(decltype(&::WideCharToMultiByte)* entry, const wchar_t* text)
    : replaced_(*entry, failsForOneText) {
    untranslatable = text;
    translateOthers = replaced_.original();
}

}  // namespace kvotest
