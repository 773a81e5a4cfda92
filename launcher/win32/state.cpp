#include "settings.h"
#include "state.h"

namespace kvo::launcher {

int commandArgumentCount = 0;
wchar_t** commandArguments = nullptr;
int firstJavaArgument = 1;
const wchar_t* javaClassName = nullptr;
const char* mainClassName = nullptr;
const char* programName = nullptr;
const char* windowClassName = nullptr;

char rootDirectory[kPathBufferSize];
char binDirectory[kPathBufferSize];
char dataDirectory[kPathBufferSize];
char databaseDirectory[kPathBufferSize];
char jniDirectory[kPathBufferSize];
char jreDirectory[kPathBufferSize];
char logDirectory[kPathBufferSize];
char proddataDirectory[kPathBufferSize];
char tempdataDirectory[kPathBufferSize];

int logOutputFlag = 0;
int noClassGCFlag = 0;
int jitFlag = 0;
int smpOkFlag = 0;

unsigned long mainThreadId = 0;
Properties launcherProperties;
JavaVM* jvm = nullptr;

const char* const kSettingsKey = "SOFTWARE\\Orvane\\Varnel\\CurrentVersion";

}  // namespace kvo::launcher
