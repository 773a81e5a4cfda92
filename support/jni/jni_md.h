/* Machine-dependent JNI types and linkage for Windows (x86 and x64), used with the JDK's jni.h. */
#ifndef KVO_JNI_MD_H
#define KVO_JNI_MD_H

/* A library that exports its natives from a .def file under their plain names defines JNIEXPORT as
   empty: on x86 a dllexport would add each __stdcall name a second time, decorated (Name@N). */
#ifndef JNIEXPORT
#define JNIEXPORT __declspec(dllexport)
#endif
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint; /* 32 bits on every Windows target */
typedef __int64 jlong;
typedef signed char jbyte;

#endif
