// The hook through which the VM prints its own messages: they are kept for error reports.
#include <windows.h>

#include <cstdio>

#include "app/jvm_hooks.h"
#include "ui/captured_output_win.h"

namespace {
constexpr size_t VmMessageCapacity = 4096;
}  // namespace

jint JNICALL VfprintfHook(FILE*, const char* format, va_list arguments) {
  char text[VmMessageCapacity] = {};
  // Longer messages are cut; the last byte stays 0.
  const jint result = _vsnprintf(text, sizeof(text) - 1, format, arguments);
  // Gives the capture pipe's reader time to move what the application printed before this message
  // into the ring, so that the details keep the order in which things were printed.
  Sleep(100);
  // Every LF becomes CR LF: 4095 characters become at most 8190 bytes, so the copy always fits.
  char copy[2 * VmMessageCapacity] = {};
  size_t length = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '\n') copy[length++] = '\r';
    copy[length++] = *p;
  }
  AppendToOutputRing(copy, length);
  return result;
}

