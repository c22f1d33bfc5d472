#include "runtime/runtime_candidate.h"

#include <cstring>

#include "runtime/version_rule.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

uint32_t LittleEndian32(const unsigned char* bytes) {
  return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
         static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// Copies `length` bytes and a terminator when they fit and hold no NUL; else out becomes "".
bool CopyValue(const char* value, size_t length, char* out, size_t size) {
  if (length == 0 || length >= size || std::memchr(value, '\0', length) != nullptr) {
    if (size > 0) out[0] = '\0';
    return false;
  }
  std::memcpy(out, value, length);
  out[length] = '\0';
  return true;
}

// The value of one release line when its key is JAVA_VERSION: `found` tells whether it was that
// key at all.
bool LineJavaVersion(const char* line, size_t length, bool* found, char* out, size_t size) {
  static const char Key[] = "JAVA_VERSION";
  constexpr size_t KeyLength = sizeof(Key) - 1;
  size_t at = 0;
  while (at < length && IsBlank(line[at])) ++at;
  if (length - at < KeyLength || std::memcmp(line + at, Key, KeyLength) != 0) return false;
  at += KeyLength;
  while (at < length && IsBlank(line[at])) ++at;
  if (at == length || line[at] != '=') return false;  // another key that starts alike
  *found = true;
  ++at;
  while (at < length && IsBlank(line[at])) ++at;
  size_t end = length;
  while (end > at && IsBlank(line[end - 1])) --end;
  if (end > at && line[at] == '"') {
    const char* close = static_cast<const char*>(std::memchr(line + at + 1, '"', end - at - 1));
    if (close == nullptr) return CopyValue("", 0, out, size);  // unbalanced: not trusted
    return CopyValue(line + at + 1, static_cast<size_t>(close - line) - at - 1, out, size);
  }
  return CopyValue(line + at, end - at, out, size);
}

}  // namespace

uint32_t ImageHeaderOffset(const unsigned char* bytes, size_t length) {
  if (bytes == nullptr || length < DosHeaderSize || bytes[0] != 'M' || bytes[1] != 'Z') return 0;
  const uint32_t offset = LittleEndian32(bytes + 0x3C);
  // The NT headers never overlap the DOS header's own fields.
  return offset >= DosHeaderSize ? offset : 0;
}

uint16_t ImageMachine(const unsigned char* bytes, size_t length) {
  if (bytes == nullptr || length < ImageSignatureSize) return 0;
  if (bytes[0] != 'P' || bytes[1] != 'E' || bytes[2] != 0 || bytes[3] != 0) return 0;
  return static_cast<uint16_t>(bytes[4] | bytes[5] << 8);
}

bool ReleaseJavaVersion(const char* text, size_t length, bool complete, char* out, size_t size) {
  if (out == nullptr || size == 0) return false;
  out[0] = '\0';
  if (text == nullptr) return false;
  size_t at = 0;
  if (length >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) at = 3;  // a byte-order mark
  while (at < length) {
    const char* newline = static_cast<const char*>(std::memchr(text + at, '\n', length - at));
    if (newline == nullptr && !complete) return false;
    size_t end = newline != nullptr ? static_cast<size_t>(newline - text) : length;
    const size_t next = end + 1;
    if (end > at && text[end - 1] == '\r') --end;
    bool found = false;
    const bool read = LineJavaVersion(text + at, end - at, &found, out, size);
    if (found) return read;
    at = next;
  }
  return false;
}

bool KeyNameVersion(const char* name, char* out, size_t size) {
  if (out == nullptr || size == 0) return false;
  out[0] = '\0';
  if (name == nullptr) return false;
  const char* start = name;
  while (*start != '\0' && !IsDigit(*start)) ++start;
  const char* end = start;
  while (IsDigit(*end) || *end == '.' || *end == '_') ++end;
  return CopyValue(start, static_cast<size_t>(end - start), out, size);
}

bool RankCandidateVersion(const char* rules, const char* version, int64_t* rank) {
  const bool anyRule = rules != nullptr && rules[std::strspn(rules, ";")] != '\0';
  if (version == nullptr || version[0] == '\0') {
    *rank = -1;
    return !anyRule;
  }
  // "8.0.392.8" becomes "1.8.0.392.8", read as 1, 8, 0, 392: the fields of "1.8.0_392".
  char named[PathCapacity + 2];
  const char* text = version;
  size_t digits = 0;
  while (IsDigit(version[digits])) ++digits;
  const size_t length = std::strlen(version);
  if (digits == 1 && version[0] >= '2' && version[0] <= '8' && length + 2 < sizeof(named)) {
    named[0] = '1';
    named[1] = '.';
    std::memcpy(named + 2, version, length + 1);
    text = named;
  }
  *rank = ParseVersion(text).number;
  return VersionAccepted(rules, text);
}

bool OutranksChoice(const RuntimeChoice& choice, int64_t rank) { return !choice.chosen || rank > choice.rank; }

bool OfferRuntime(RuntimeChoice* choice, int64_t rank, const char* jvmDll, const char* home) {
  if (choice == nullptr || jvmDll == nullptr || home == nullptr || !OutranksChoice(*choice, rank)) return false;
  const size_t jvmLength = std::strlen(jvmDll);
  const size_t homeLength = std::strlen(home);
  if (jvmLength >= PathCapacity || homeLength >= PathCapacity) return false;
  std::memcpy(choice->jvmDll, jvmDll, jvmLength + 1);
  std::memcpy(choice->home, home, homeLength + 1);
  choice->rank = rank;
  choice->chosen = true;
  return true;
}
