// Temporary bodies until the real ones land.
#include "launcher_state.h"

void LoadSettings() {}
unsigned long GetProperty(const wchar_t*, unsigned long d) { return d; }
int GetBooleanProperty(const wchar_t*, int d) { return d; }
void FreeClasspathList(ClasspathList*) {}
char* BuildBootClasspath() { return nullptr; }
char* BuildClasspath() { return nullptr; }
char* BuildLibraryPath() { return nullptr; }
char* BuildProtocolHandler() { return nullptr; }
void AddClasspathEntryToList(ClasspathList*, const char*) {}
void SearchExtensions(ClasspathList*, const char*) {}
void ProcessClasspathProperties(ClasspathList*, const Properties*) {}
char* GetEntryFromSystemClasspath(const char*) { return nullptr; }
void SetEnvironmentVariables() {}
void BindToOneProcessor() {}
void GetLocale(const char** l, const char** r) { *l = "en"; *r = "US"; }
void JNICALL JvmExit(jint) {}
void JNICALL JvmAbort() {}
jobjectArray NewStringArray(JNIEnv*, int, const char* const*) { return nullptr; }
char* ConvertToUTF8(const char*) { return nullptr; }
void NormalizeFileName(char*) {}
