#include "launcher/second_start.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char Magic[] = "CVS1";
constexpr size_t MagicLength = sizeof(Magic) - 1;

}  // namespace

bool SecondStartPipeName(const char* mutexName, unsigned long session, const char* userSid, char* out,
                         size_t capacity) {
  // FNV-1a: the mutex name may hold characters a pipe name must not, and may be long.
  uint64_t hash = 0xCBF29CE484222325u;
  for (const char* c = mutexName; *c != '\0'; ++c) hash = (hash ^ static_cast<unsigned char>(*c)) * 0x100000001B3u;
  // Numbers written by hand: the C runtime's formatter would add its own weight to the stub.
  char number[12], hex[17];
  size_t at = sizeof(number) - 1;
  number[at] = '\0';
  do {
    number[--at] = static_cast<char>('0' + session % 10);
  } while ((session /= 10) != 0);
  for (int i = 15; i >= 0; --i, hash >>= 4) hex[i] = "0123456789abcdef"[hash & 15];
  hex[16] = '\0';
  size_t used = 0;
  for (const char* part : {"\\\\.\\pipe\\Corvane-", static_cast<const char*>(number + at), "-", userSid, "-",
                           static_cast<const char*>(hex)}) {
    const size_t length = std::strlen(part);
    if (capacity - used <= length) return false;
    std::memcpy(out + used, part, length + 1);
    used += length;
  }
  return true;
}

const char* CheckSecondStartMethod(const char* name) {
  for (const char* c = name; *c != '\0'; ++c) {
    const bool letter = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') || *c == '_' || *c == '$';
    if (!letter && (c == name || *c < '0' || *c > '9')) return "is no Java method name";
  }
  return nullptr;
}

size_t ComposeSecondStartMessage(const char* folder, int count, char* const* args, char* out, size_t capacity) {
  size_t used = 0;
  const auto append = [&](const char* part, size_t length) {
    if (capacity - used < length) return false;
    std::memcpy(out + used, part, length);
    used += length;
    return true;
  };
  bool fits = append(Magic, MagicLength) && append(folder, std::strlen(folder) + 1);
  for (int i = 0; fits && i < count; ++i) fits = append(args[i], std::strlen(args[i]) + 1);
  return fits ? used : 0;
}

bool ReadSecondStartMessage(const char* message, size_t length, SecondStartRequest* request) {
  if (length > SecondStartMessageCapacity || length < MagicLength + 1 ||
      std::memcmp(message, Magic, MagicLength) != 0 || message[length - 1] != '\0') {
    return false;
  }
  const char* const end = message + length;
  const char* part = message + MagicLength;
  request->folder.reset(CopyText(part));
  part += std::strlen(part) + 1;
  int count = 0;
  for (const char* p = part; p < end; p += std::strlen(p) + 1) ++count;
  request->args.items = static_cast<char**>(std::calloc(static_cast<size_t>(count) + 1, sizeof(char*)));
  if (!request->folder || request->args.items == nullptr) return false;
  for (; part < end; part += std::strlen(part) + 1) {
    request->args.items[request->args.count] = CopyText(part);
    if (request->args.items[request->args.count++] == nullptr) return false;
  }
  return true;
}
