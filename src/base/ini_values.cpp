#include "base/ini_values.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/text.h"
#include "base/trace.h"

namespace {

enum class IniRule {
  Replace,           // the value replaces the text
  AppendWithBlank,   // the text, one blank, the value
  ReplaceFile,       // replaces the text and puts the stream in file mode
  ExactlyOne,        // the flag is true for "1" alone; any other value makes it false
  ShowConsole,       // "0" or "1" set the flag, anything else leaves it; then a console wins
};

struct IniKey {
  const char* name;
  IniRule rule;
  char* LaunchConfigRecord::*text;
  bool LaunchConfigRecord::*flag;
  int32_t LaunchConfigRecord::*mode;
};

// In the order the keys are applied.
const IniKey IniKeys[] = {
    {"JvmVersion", IniRule::Replace, &LaunchConfigRecord::JvmVersion, nullptr, nullptr},
    {"JvmPath", IniRule::Replace, &LaunchConfigRecord::JvmPath, nullptr, nullptr},
    {"JvmOptions", IniRule::Replace, &LaunchConfigRecord::JvmOptions, nullptr, nullptr},
    {"JvmOptionsAppend", IniRule::AppendWithBlank, &LaunchConfigRecord::JvmOptions, nullptr, nullptr},
    {"AppOptions", IniRule::Replace, &LaunchConfigRecord::AppOptions, nullptr, nullptr},
    {"AppMutex", IniRule::Replace, &LaunchConfigRecord::AppMutex, nullptr, nullptr},
    {"StaticOptions", IniRule::Replace, &LaunchConfigRecord::StaticOptions, nullptr, nullptr},
    {"StdOutFile", IniRule::ReplaceFile, &LaunchConfigRecord::StdOutFile, nullptr, &LaunchConfigRecord::StdOutMode},
    {"StdErrFile", IniRule::ReplaceFile, &LaunchConfigRecord::StdErrFile, nullptr, &LaunchConfigRecord::StdErrMode},
    {"StdOutFileAppend", IniRule::ExactlyOne, nullptr, &LaunchConfigRecord::StdOutFileAppend, nullptr},
    {"StdErrFileAppend", IniRule::ExactlyOne, nullptr, &LaunchConfigRecord::StdErrFileAppend, nullptr},
    {"ShowConsole", IniRule::ShowConsole, nullptr, &LaunchConfigRecord::ShowConsole, nullptr},
};

const IniKey* FindKey(const char* name) {
  for (const IniKey& key : IniKeys) {
    if (std::strcmp(key.name, name) == 0) return &key;
  }
  return nullptr;
}

bool AppendWithBlank(char** field, const char* value) {
  const char* current = *field != nullptr ? *field : "";
  const size_t currentLength = std::strlen(current);
  const size_t valueLength = std::strlen(value);
  char* joined = static_cast<char*>(std::malloc(currentLength + 1 + valueLength + 1));
  if (joined == nullptr) return false;
  std::memcpy(joined, current, currentLength);
  joined[currentLength] = ' ';
  std::memcpy(joined + currentLength + 1, value, valueLength + 1);
  std::free(*field);
  *field = joined;
  return true;
}

bool Apply(LaunchConfigRecord* config, const IniKey& key, const char* value) {
  switch (key.rule) {
    case IniRule::Replace:
      return ReplaceConfigText(&(config->*key.text), value);
    case IniRule::AppendWithBlank:
      return AppendWithBlank(&(config->*key.text), value);
    case IniRule::ReplaceFile:
      if (!ReplaceConfigText(&(config->*key.text), value)) return false;
      config->*key.mode = StreamFile;
      return true;
    case IniRule::ExactlyOne:
      config->*key.flag = std::strcmp(value, "1") == 0;
      return true;
    case IniRule::ShowConsole:
      if (std::strcmp(value, "0") == 0) config->ShowConsole = false;
      if (std::strcmp(value, "1") == 0) config->ShowConsole = true;
      if (config->ShowConsole) {
        config->StdOutMode = StreamNone;
        config->StdErrMode = StreamNone;
      }
      return true;
  }
  return false;
}

}  // namespace

bool ApplyIniValue(LaunchConfigRecord* config, const char* key, const char* value, IniValueExpander expand) {
  if (config == nullptr || key == nullptr || value == nullptr || value[0] == '\0') return false;
  const IniKey* rule = FindKey(key);
  if (rule == nullptr) return false;
  HeapText expanded(expand != nullptr ? expand(value) : CopyText(value));
  if (expanded == nullptr || !Apply(config, *rule, expanded.get())) return false;
  Trace({"ini file sets ", key, " = \"", expanded.get(), "\""});
  return true;
}

void ApplyIniValues(LaunchConfigRecord* config, IniValueReader read, void* context, IniValueExpander expand) {
  if (read == nullptr) return;
  // One character more than a value may hold, so that a value that fills the buffer exactly can be
  // told from one that was cut.
  char value[IniValueCapacity + 1];
  for (const IniKey& key : IniKeys) {
    value[0] = '\0';
    const size_t length = read(context, key.name, value, sizeof(value));
    if (length == 0 || length >= IniValueCapacity) continue;
    value[length] = '\0';
    ApplyIniValue(config, key.name, value, expand);
  }
}
