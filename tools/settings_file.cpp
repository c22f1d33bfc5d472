#include "settings_file.h"

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>

#include "launcher/scramble.h"
#include "launcher/setting_table.h"

namespace corvane::tools {
namespace {

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// The id of a key: a LaunchConfig field name or MessageN (N from 1 to 21).
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

// UTF-8 to UTF-16 code units; nothing on a malformed sequence.
std::optional<std::u16string> Utf16(const std::string& text) {
  std::u16string out;
  for (size_t i = 0; i < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    size_t extra = 0;
    char32_t code = lead;
    if (lead >= 0xF0 && lead < 0xF8) {
      extra = 3, code = lead & 0x07;
    } else if (lead >= 0xE0) {
      extra = 2, code = lead & 0x0F;
    } else if (lead >= 0xC0) {
      extra = 1, code = lead & 0x1F;
    } else if (lead >= 0x80) {
      return std::nullopt;
    }
    if (lead >= 0xF8 || text.size() - i <= extra) return std::nullopt;
    for (size_t k = 1; k <= extra; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      code = (code << 6) | (next & 0x3F);
    }
    i += extra + 1;
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
  }
  return out;
}

// A wide string literal for windres: printable ASCII as itself (backslash doubled, quote doubled),
// everything else as a four-digit \x escape, which windres reads as one UTF-16 unit.
std::string RcLiteral(const std::u16string& units) {
  std::string out = "L\"";
  for (char16_t unit : units) {
    if (unit == u'\\') {
      out += "\\\\";
    } else if (unit == u'"') {
      out += "\"\"";
    } else if (unit >= 0x20 && unit < 0x7F) {
      out += static_cast<char>(unit);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\x%04X", static_cast<unsigned>(unit));
      out += escape;
    }
  }
  return out + "\"";
}

}  // namespace

std::optional<std::string> ApplySettingsText(const std::string& text, const std::string& origin,
                                             StringEntries& entries) {
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
    if (!Utf16(value)) return where + "the value of \"" + key + "\" is not valid UTF-8";
    entries[*id] = value;
  }
  return std::nullopt;
}

std::optional<std::string> ApplySettingsFile(const std::string& path, StringEntries& entries) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return path + ": cannot be read";
  std::ostringstream text;
  text << in.rdbuf();
  return ApplySettingsText(text.str(), path, entries);
}

std::string WriteStringTablesRc(const StringEntries& entries) {
  std::string settings, messages;
  for (const auto& [id, value] : entries) {
    if (value == "<absent>") continue;
    const std::string line = "  " + std::to_string(id) + ", " + RcLiteral(*Utf16(value)) + "\n";
    (id >= FirstSettingId ? settings : messages) += line;
  }
  std::string rc = "// Written by cv-strings-rc from settings files; do not edit.\n";
  rc += "LANGUAGE 0, 0\nSTRINGTABLE\nBEGIN\n" + settings + "END\n\n";
  rc += "LANGUAGE " + std::to_string(MessageLanguage & 0x3FF) + ", " + std::to_string(MessageLanguage >> 10) + "\n";
  rc += "STRINGTABLE\nBEGIN\n" + messages + "END\n";
  return rc;
}

}  // namespace corvane::tools
