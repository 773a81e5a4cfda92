// Temporary bodies until the string classes are in the tree.
#include "launcher_state.h"

jobjectArray NewStringArray(JNIEnv*, int, const char* const*) {
    return nullptr;
}
char* ConvertToUTF8(const char*) {
    return nullptr;
}
