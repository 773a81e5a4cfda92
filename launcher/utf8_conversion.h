// The local-code-page to UTF-8 conversion behind ConvertToUTF8. Tests replace it to make a
// conversion fail; the program always uses Str::localToUTF8.
#pragma once

class Str;

// Converts text in place; returns 0 when the conversion failed (text unchanged).
using LocalToUTF8Function = int (*)(Str& text);
extern LocalToUTF8Function localToUTF8Conversion;
