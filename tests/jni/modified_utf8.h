// Modified UTF-8, the string form of the JNI: every UTF-16 unit on its own (surrogates as two
// three-byte sequences), U+0000 as the two bytes C0 80, no four-byte sequences.
#pragma once

#include <string>

namespace kvojni {

std::string toModifiedUtf8(const std::u16string& units);

// Decodes modified UTF-8. Returns false when the input is malformed; each byte that does not start a
// well-formed sequence then becomes U+FFFD and decoding goes on with the next byte.
bool fromModifiedUtf8(const std::string& bytes, std::u16string& units);

// Standard UTF-8 of UTF-16 text (surrogate pairs combined into four-byte sequences, a lone surrogate
// replaced by U+FFFD), for writing text out.
std::string toStandardUtf8(const std::u16string& units);

}  // namespace kvojni
