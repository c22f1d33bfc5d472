// The functions the launcher hands the VM as the "vfprintf", "exit" and "abort" options.
#pragma once

#include <jni.h>

#include <cstdarg>
#include <cstdio>

jint JNICALL VfprintfHook(FILE* stream, const char* format, va_list arguments);
void JNICALL ExitHook(jint status);
void JNICALL AbortHook();
