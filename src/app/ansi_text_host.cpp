// Launcher text on Linux (contract tests): read as Windows-1252, the ANSI code page of the Western
// systems the tests stand for, so that both sides give Java the same characters.
#include <cstdlib>
#include <cstring>

#include "app/jni_calls.h"

namespace {

// 0x80..0x9F of Windows-1252; the five unassigned bytes map to the C1 controls, as Windows does.
constexpr jchar HighControls[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

jchar* AnsiToUtf16(const char* text, jsize* length) {
  const size_t size = std::strlen(text);
  if (size >= 0x7fffffff) return nullptr;
  auto* units = static_cast<jchar*>(std::malloc((size + 1) * sizeof(jchar)));
  if (units == nullptr) return nullptr;
  for (size_t i = 0; i < size; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    units[i] = byte >= 0x80 && byte < 0xA0 ? HighControls[byte - 0x80] : byte;
  }
  units[size] = 0;
  *length = static_cast<jsize>(size);
  return units;
}
