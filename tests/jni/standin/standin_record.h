// The stand-in JVM's record of what it was given: one line per item, appended to the file named by
// the environment variable KVO_STANDIN_RECORD (nothing is written when it is unset).
#pragma once

#include <string>

namespace kvostandin {

// Empties the record file (at JNI_CreateJavaVM, so a record describes one VM).
void resetRecord();
// Appends "<key> <value>\n"; carriage returns and line feeds inside value are written as "\r", "\n".
void record(const std::string& key, const std::string& value);

// The value of an environment variable, or fallback when it is unset.
std::string environment(const char* name, const std::string& fallback = std::string());

}  // namespace kvostandin
