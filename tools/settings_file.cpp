#include "settings_file.h"

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include "base/scramble.h"
#include "base/setting_table.h"
#include "text_codec.h"

namespace corvane::tools {
namespace {

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// The id of a key: a LaunchConfig field name or MessageN (N from 1 to 23).
std::optional<int> IdOfKey(const std::string& key) {
  if (const SettingInfo* info = FindSetting(key.c_str())) return info->id;
  if (key.rfind("Message", 0) == 0 && key.size() > 7 && key.size() <= 9) {
    int id = 0;
    for (size_t i = 7; i < key.size(); ++i) {
      if (key[i] < '0' || key[i] > '9') return std::nullopt;
      id = id * 10 + (key[i] - '0');
    }
    if (key[7] != '0' && id >= FirstMessageId && id <= LastMessageId) return id;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> ApplySettingsText(const std::string& text, const std::string& origin,
                                             RawEntries& entries) {
  std::istringstream lines(text);
  std::string line;
  std::set<int> seen;
  for (int number = 1; std::getline(lines, line); ++number) {
    const std::string where = origin + ":" + std::to_string(number) + ": ";
    const std::string trimmed = Trim(line);
    if (trimmed.empty() || trimmed[0] == '#') continue;
    const auto equals = trimmed.find('=');
    if (equals == std::string::npos) return where + "expected \"Name = value\"";
    const std::string key = Trim(trimmed.substr(0, equals));
    std::string value = Trim(trimmed.substr(equals + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    const auto id = IdOfKey(key);
    if (!id) return where + "unknown setting \"" + key + "\"";
    if (!seen.insert(*id).second) return where + "\"" + key + "\" is given twice";
    if (*id == IdMainClass && value != "<absent>") {
      char stored[2 * ScrambleAreaSize];
      if (!ScrambleText(value.c_str(), stored, sizeof(stored))) {
        return where + "MainClass is longer than " + std::to_string(ScrambleAreaSize - 1) + " bytes";
      }
      value = stored;
    }
    if (!builder::Utf8ToUtf16(value)) return where + "the value of \"" + key + "\" is not valid UTF-8";
    entries[*id] = value;
  }
  return std::nullopt;
}

std::optional<std::string> ApplySettingsFile(const std::string& path, RawEntries& entries) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return path + ": cannot be read";
  std::ostringstream text;
  text << in.rdbuf();
  return ApplySettingsText(text.str(), path, entries);
}

}  // namespace corvane::tools
