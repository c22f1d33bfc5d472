// The VM's "vfprintf" hook: its own console messages, held for error reports.
#pragma once

#include <jni.h>

#include <cstdarg>
#include <cstdio>

jint JNICALL VfprintfHook(FILE* stream, const char* format, va_list arguments);
