// Launcher text is in the system's ANSI code page; Java strings are UTF-16.
#include <windows.h>

#include <cstdlib>

#include "app/jni_calls.h"

jchar* AnsiToUtf16(const char* text, jsize* length) {
  // The size includes the terminating NUL, so an empty text needs one unit and gives length 0.
  const int needed = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (needed <= 0) return nullptr;
  auto* units = static_cast<jchar*>(std::malloc(static_cast<size_t>(needed) * sizeof(jchar)));
  if (units == nullptr) return nullptr;
  if (MultiByteToWideChar(CP_ACP, 0, text, -1, reinterpret_cast<wchar_t*>(units), needed) != needed) {
    std::free(units);
    return nullptr;
  }
  *length = needed - 1;
  return units;
}
