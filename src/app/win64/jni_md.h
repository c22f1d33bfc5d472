/* The machine-dependent part of jni.h for 64-bit Windows (LLP64: long is 32 bits), for building the
   launcher with mingw-w64 against the JDK's own jni.h. */
#ifndef CORVANE_JNI_MD_H
#define CORVANE_JNI_MD_H

#define JNIEXPORT __declspec(dllexport)
#define JNIIMPORT __declspec(dllimport)
#define JNICALL __stdcall

typedef long jint;
typedef __int64 jlong;
typedef signed char jbyte;

#endif
