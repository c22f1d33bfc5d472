// Launcher text on Linux (contract tests): read in the locale's code set as Windows reads it in the
// ANSI code page. A UTF-8 locale stands for a process in the UTF-8 code page, any other for
// Windows-1252, the code page of the Western systems the tests stand for; so both sides give Java
// the same characters.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "app/jni_calls.h"

namespace {

// 0x80..0x9F of Windows-1252; the five unassigned bytes map to the C1 controls, as Windows does.
constexpr jchar HighControls[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Whether the locale the process was started in reads text as UTF-8.
bool Utf8Locale() {
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') continue;
    return std::strstr(value, "UTF-8") != nullptr || std::strstr(value, "utf8") != nullptr;
  }
  return false;
}

// The UTF-8 character at text[at] as one or two units; its length in bytes. A byte that starts no
// well-formed character (overlong, a surrogate, past U+10FFFF, cut short) is U+FFFD.
size_t Utf8Character(const unsigned char* text, size_t size, size_t at, jchar* out, size_t* units) {
  const unsigned char lead = text[at];
  const size_t length = lead < 0x80                  ? 1
                        : lead >= 0xC2 && lead < 0xE0 ? 2
                        : lead >= 0xE0 && lead < 0xF0 ? 3
                        : lead >= 0xF0 && lead < 0xF5 ? 4
                                                      : 0;
  uint32_t code = length == 1 ? lead : length == 2 ? lead & 0x1Fu : length == 3 ? lead & 0x0Fu : lead & 0x07u;
  bool good = length > 0 && at + length <= size;
  for (size_t k = 1; good && k < length; ++k) {
    good = (text[at + k] & 0xC0) == 0x80;
    code = code << 6 | (text[at + k] & 0x3Fu);
  }
  good = good && !(length == 3 && (code < 0x800 || (code >= 0xD800 && code < 0xE000))) &&
         !(length == 4 && (code < 0x10000 || code > 0x10FFFF));
  *units = good && code >= 0x10000 ? 2 : 1;
  if (!good) {
    out[0] = 0xFFFD;
    return 1;
  }
  if (code >= 0x10000) {
    out[0] = static_cast<jchar>(0xD800 + ((code - 0x10000) >> 10)), out[1] = static_cast<jchar>(0xDC00 + (code & 0x3FF));
  } else {
    out[0] = static_cast<jchar>(code);
  }
  return length;
}

}  // namespace

jchar* AnsiToUtf16(const char* text, jsize* length) {
  const size_t size = std::strlen(text);
  if (size >= 0x7fffffff) return nullptr;
  auto* units = static_cast<jchar*>(std::malloc((size + 1) * sizeof(jchar)));  // never more units than bytes
  if (units == nullptr) return nullptr;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text);
  const bool utf8 = Utf8Locale();
  size_t used = 0;
  for (size_t at = 0; at < size;) {
    size_t count = 1;
    if (utf8) {
      at += Utf8Character(bytes, size, at, units + used, &count);
    } else {
      units[used] = bytes[at] >= 0x80 && bytes[at] < 0xA0 ? HighControls[bytes[at] - 0x80] : bytes[at];
      ++at;
    }
    used += count;
  }
  units[used] = 0;
  *length = static_cast<jsize>(used);
  return units;
}
