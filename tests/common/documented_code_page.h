// Stand-ins for a library's code-page calls, through its seam table.
//
// DocumentedCodePage: the calls as Windows documents them for an ANSI code
// page whose conversions refuse flags (Wine converts whatever flags it gets): GetACP answers `ansi`,
// and conversions in it are Wine's in `real`, with what Windows refuses for `ansi` refused. UTF-8
// takes only the invalid-character flags and no default character or used-default flag (refused
// with ERROR_INVALID_FLAGS, ERROR_INVALID_PARAMETER); 42, standing for the restricted pages, takes no
// flags. Only the ANSI code page is redirected; other code pages pass through as they are.
#pragma once

#include <windows.h>

#include "seam.h"

namespace kvotest {

// The entries of one library's seam table that the stand-ins take over (getCpInfo may be null).
struct CodePageSeam {
    decltype(&::GetACP)* getAcp;
    decltype(&::WideCharToMultiByte)* wideCharToMultiByte;
    decltype(&::MultiByteToWideChar)* multiByteToWideChar;
    decltype(&::GetCPInfo)* getCpInfo;
};

// The stand-ins hold the seam's entries for the scope of the object (kvo::Replacement).
class DocumentedCodePage {
public:
    DocumentedCodePage(const CodePageSeam& seam, UINT ansi, UINT real);

    // The calls refused since the stand-ins took over (a library must make none).
    static int refused();

private:
    kvo::Replacement<decltype(&::GetACP)> getAcp_;
    kvo::Replacement<decltype(&::WideCharToMultiByte)> wideCharToMultiByte_;
    kvo::Replacement<decltype(&::MultiByteToWideChar)> multiByteToWideChar_;
    kvo::Replacement<decltype(&::GetCPInfo)> getCpInfo_;
};

// A library's WideCharToMultiByte, through its seam table, failing for one text as for a text the
// code page has no characters for (0, ERROR_NO_UNICODE_TRANSLATION); every other text goes to the
// entry as it was. Puts the entry back at the end of its scope.
class UntranslatableText {
public:
    UntranslatableText(decltype(&::WideCharToMultiByte)* entry, const wchar_t* text);

private:
    kvo::Replacement<decltype(&::WideCharToMultiByte)> replaced_;
};

}  // namespace kvotest
