// The INI override: the keys of section "Application Configuration" applied to a LaunchConfig
// through the real variable scanner. Input: the section as "key=value" lines; the fake profile
// reader answers like GetPrivateProfileStringA (the first line of a key, cut to the buffer).
#include <algorithm>
#include <cstring>
#include <map>
#include <string>

#include "base/ini_values.h"
#include "base/text.h"
#include "base/variable_expansion.h"
#include "fuzz_support.h"
#include "shared/ini_settings.h"

namespace {

using Section = std::map<std::string, std::string>;

size_t ReadSection(void* context, const char* key, char* value, size_t capacity) {
  const Section& section = *static_cast<const Section*>(context);
  const auto found = section.find(key);
  const std::string text = found != section.end() ? found->second : "";
  const size_t stored = std::min(text.size(), capacity - 1);
  std::memcpy(value, text.data(), stored);
  value[stored] = '\0';
  return stored;
}

char* EnvironmentName(const char* name) { return CopyText(name); }

char* Expand(const char* text) {
  VariableLookups lookups{};
  lookups.javaHome = "C:\\Java";
  lookups.environment = EnvironmentName;
  return ExpandReferences(text, lookups);
}

Section ParseSection(const uint8_t* data, size_t size) {
  Section section;
  const std::string text(reinterpret_cast<const char*>(data), size);
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = CText(text.substr(at, end - at));
    at = end + 1;
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    section.emplace(line.substr(0, equals), line.substr(equals + 1));  // the first one counts
  }
  return section;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Section section = ParseSection(data, size);
  const IniSettings before;
  LaunchConfigRecord config{};
  StoreIniSettings(&config, before);
  ApplyIniValues(&config, ReadSection, &section, Expand);
  const IniSettings after = ReadIniSettings(config);
  FreeIniSettings(&config);

  // A value that fills the reader's buffer may have been cut: it is not used at all.
  auto unused = [&](const char* key) {
    const auto found = section.find(key);
    return found == section.end() || found->second.empty() || found->second.size() >= IniValueCapacity;
  };
  if (unused("JvmVersion")) FUZZ_CHECK(after.JvmVersion == before.JvmVersion);
  if (unused("JvmPath")) FUZZ_CHECK(after.JvmPath == before.JvmPath);
  if (unused("JvmOptions") && unused("JvmOptionsAppend")) FUZZ_CHECK(after.JvmOptions == before.JvmOptions);
  if (unused("AppOptions")) FUZZ_CHECK(after.AppOptions == before.AppOptions);
  if (unused("StaticOptions")) FUZZ_CHECK(after.StaticOptions == before.StaticOptions);
  if (unused("StdOutFile")) FUZZ_CHECK(after.StdOutFile == before.StdOutFile);
  if (unused("StdErrFile")) FUZZ_CHECK(after.StdErrFile == before.StdErrFile);
  if (!unused("StdOutFileAppend")) FUZZ_CHECK(after.StdOutFileAppend == (section["StdOutFileAppend"] == "1"));
  if (after.ShowConsole) FUZZ_CHECK(after.StdOutMode == StreamNone && after.StdErrMode == StreamNone);
  if (!unused("StdErrFile") && !after.ShowConsole) FUZZ_CHECK(after.StdErrMode == StreamFile);
  if (!unused("JvmOptionsAppend")) {
    // Appended after a blank, whatever JvmOptions became.
    FUZZ_CHECK(after.JvmOptions.find(' ') != std::string::npos);
  }
  return 0;
}
