// The product's numbering of code pages, which differs from the system's for a few Asian ones.
#pragma once

namespace kvo::textconv {

// The local code page number for a system ANSI code page.
inline unsigned productCodePageOfAnsi(unsigned ansi) {
    switch (ansi) {
        case 932:
            return 942;
        case 934:
            return 944;
        case 936:
            return 1381;
        case 938:
            return 948;
        case 946:
            return 1381;
        default:
            return ansi;
    }
}

// The code page whose mapping file a table requested for `requested` uses (0 has already been
// replaced by the local code page). An explicitly requested 936 is 946, unlike the local numbering.
inline unsigned mappingCodePageOf(unsigned requested) {
    switch (requested) {
        case 932:
            return 942;
        case 934:
            return 944;
        case 936:
            return 946;
        case 938:
            return 948;
        default:
            return requested;
    }
}

// Local code pages whose local conversions always take the system's way, never a table.
inline bool isSystemConvertedCodePage(unsigned codePage) {
    static const unsigned kSystemConverted[] = {1381, 0};
    for (const unsigned* p = kSystemConverted; *p != 0; ++p) {
        if (*p == codePage)
            return true;
    }
    return false;
}

}  // namespace kvo::textconv
