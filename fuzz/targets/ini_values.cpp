// The INI override: the keys of section "Application Configuration" applied to the settings through
// the real variable scanner. Input: the section as "key=value" lines; the fake profile reader answers
// like GetPrivateProfileStringA (the first line of a key, cut to the buffer).
#include <cstring>
#include <map>
#include <string>

#include "base/ini_values.h"
#include "base/variable_expansion.h"
#include "fuzz_support.h"
#include "shared/ini_settings.h"

namespace {
using Section = std::map<std::string, std::string>;
size_t Read(void* section, const char* key, char* value, size_t capacity) {
  const std::string text = static_cast<Section*>(section)->count(key) ? static_cast<Section*>(section)->at(key) : "";
  const size_t stored = std::min(text.size(), capacity - 1);
  std::memcpy(value, text.data(), stored);
  value[stored] = '\0';
  return stored;
}
char* Expand(const char* text) { return ExpandReferences(text, {"C:\\Java", nullptr, nullptr, nullptr, nullptr, CopyText}); }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Section section;
  const std::string text(reinterpret_cast<const char*>(data), size);
  for (size_t at = 0, end; at < text.size(); at = end + 1) {
    end = std::min(text.find('\n', at), text.size());
    const std::string line = text.substr(at, end - at).c_str();
    if (line.find('=') != std::string::npos) section.emplace(line.substr(0, line.find('=')), line.substr(line.find('=') + 1));
  }
  const IniSettings before;
  LaunchConfigRecord config{};
  StoreIniSettings(&config, before);
  ApplyIniValues(&config, Read, &section, Expand);
  const IniSettings after = ReadIniSettings(config);
  FreeIniSettings(&config);
  // A value that fills the reader's buffer may have been cut: it is not used at all.
  const auto unused = [&](const char* key) { return section[key].empty() || section[key].size() >= IniValueCapacity; };
  if (unused("JvmPath")) FUZZ_CHECK(after.JvmPath == before.JvmPath);
  if (unused("StdOutFile")) FUZZ_CHECK(after.StdOutFile == before.StdOutFile);
  if (after.ShowConsole) FUZZ_CHECK(after.StdOutMode == StreamNone && after.StdErrMode == StreamNone);
  if (!unused("JvmOptionsAppend")) FUZZ_CHECK(after.JvmOptions.find(' ') != std::string::npos);
  return 0;
}
