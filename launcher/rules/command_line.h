// The program's command line split into its arguments by the rules of the C run-time library the
// launchers are built with (the system's msvcrt.dll), applied to the UTF-16 command line: every
// argument keeps the characters it was typed with, also those the ANSI code page lacks or maps to
// another character (a fullwidth quotation mark U+FF02 is text, never a quotation mark). Platform-free.
//
// Argument 0, the program: from a leading '"' up to the next '"' (both dropped, nothing else has a
// meaning there), else up to the first space or tab.
// The other arguments are separated by spaces and tabs outside quoted parts:
//   2n backslashes and '"'     -> n backslashes; the quotation mark opens or closes a quoted part;
//   2n + 1 backslashes and '"' -> n backslashes and a '"';
//   backslashes before anything else stay as they are;
//   '""' inside a quoted part  -> one '"', and the quoted part ends there;
//   a command line that ends inside a quoted part ends its last argument.
#pragma once

#include <cstddef>

namespace kvo::launcher {

struct CommandLineSize {
    std::size_t arguments = 0;  // the program included
    std::size_t units = 0;      // text of all arguments, each with its terminator
};

// Splits line. With arguments and text null it only measures; otherwise arguments receives one
// pointer per argument into text, which receives the terminated arguments one after the other (both
// as large as the measuring call said).
template <class Unit>
CommandLineSize splitCommandLine(const Unit* line, Unit** arguments, Unit* text) {
    CommandLineSize size;
    const Unit* p = line;
    auto put = [&](Unit unit) {
        if (text != nullptr)
            *text++ = unit;
        ++size.units;
    };
    auto startArgument = [&] {
        if (arguments != nullptr)
            *arguments++ = text;
        ++size.arguments;
    };

    startArgument();
    if (*p == '"') {
        for (++p; *p != 0 && *p != '"'; ++p)
            put(*p);
        if (*p == '"')
            ++p;
    } else {
        for (; *p != 0 && *p != ' ' && *p != '\t'; ++p)
            put(*p);
    }
    put(0);

    bool quoted = false;
    for (;;) {
        while (*p == ' ' || *p == '\t')
            ++p;
        if (*p == 0)
            break;
        startArgument();
        for (;;) {
            bool copy = true;
            std::size_t backslashes = 0;
            for (; *p == '\\'; ++p)
                ++backslashes;
            if (*p == '"') {
                if (backslashes % 2 == 0) {
                    if (quoted && p[1] == '"')
                        ++p;  // the second one is copied
                    else
                        copy = false;
                    quoted = !quoted;
                }
                backslashes /= 2;
            }
            for (; backslashes > 0; --backslashes)
                put('\\');
            if (*p == 0 || (!quoted && (*p == ' ' || *p == '\t')))
                break;
            if (copy)
                put(*p);
            ++p;
        }
        put(0);
    }
    return size;
}

}  // namespace kvo::launcher
