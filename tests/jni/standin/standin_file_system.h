// The stand-in JVM's kvo/demo/FileSystem: loads nqfsfunc.dll as the product's Java code does and
// prints what its natives answer (see README.md).
#pragma once

#include "jni_double.h"

namespace kvostandin {

// The library's Java classes (FileSysFuncs, UNCFile) and the demo class kvo/demo/FileSystem.
void defineFileSystemClasses(kvojni::Vm& vm);

}  // namespace kvostandin
