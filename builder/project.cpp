#include "project.h"

#include <climits>
#include <fstream>
#include <sstream>

#include "toml_library.h"

#include "base/scramble.h"
#include "base/setting_decode.h"
#include "base/setting_table.h"
#include "launcher/second_start.h"
#include "service/service_options.h"
#include "text_codec.h"

namespace corvane::builder {
namespace {

namespace fs = std::filesystem;

// Where a key stands, for errors: "project.toml:12: settings.ClassPath: ".
class Place {
 public:
  Place(std::string origin, const toml::node& node, std::string key)
      : origin_(std::move(origin)), line_(node.source().begin.line), key_(std::move(key)) {}
  std::string operator()(const std::string& reason) const {
    return origin_ + ":" + std::to_string(line_) + ": " + key_ + ": " + reason;
  }
  const std::string& Key() const { return key_; }

 private:
  std::string origin_;
  toml::source_index line_;
  std::string key_;
};

// A path as written in a project file (either separator), resolved against the file's folder.
std::string ResolvePath(const fs::path& directory, std::string written) {
  for (char& c : written) {
    if (c == '\\') c = '/';
  }
  return (directory / fs::path(written)).lexically_normal().generic_string();
}

Error TextOf(const toml::node& node, const Place& place, std::string& out) {
  const auto* text = node.as_string();
  if (text == nullptr) return place("must be a text");
  out = text->get();
  if (out.find('\0') != std::string::npos) return place("must not hold a zero character");
  if (!Utf8ToUtf16(out)) return place("is not valid UTF-8");
  return std::nullopt;
}

Error BoolOf(const toml::node& node, const Place& place, bool& out) {
  const auto* flag = node.as_boolean();
  if (flag == nullptr) return place("must be true or false");
  out = flag->get();
  return std::nullopt;
}

// The printf conversions of a text, in order ("%%" is none).
Error Conversions(const std::string& text, std::string& out) {
  out.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    if (i + 1 < text.size() && text[i + 1] == '%') {
      ++i;
      continue;
    }
    // Flags, width, precision and length, then the conversion letter.
    size_t end = i + 1;
    while (end < text.size() && std::string("-+ #0123456789.*hlLqjzt").find(text[end]) != std::string::npos) ++end;
    if (end >= text.size()) return "ends with an unfinished \"%\" (write \"%%\" for a percent sign)";
    out += text.substr(i, end - i + 1);
    i = end;
  }
  return std::nullopt;
}

Error CheckMessage(int id, const std::string& text, const Place& place) {
  std::string found;
  if (Error bad = Conversions(text, found)) return place(*bad);
  const std::string wanted = MessageConversions(id);
  if (found != wanted) {
    return place(wanted.empty() ? "must hold no printf conversion such as \"" + found +
                                      "\" (the launcher fills nothing in; write \"%%\" for a percent sign)"
                                : "must hold exactly one \"%s\", which the launcher fills, and no other conversion"
                                  " (found \"" + found + "\")");
  }
  return std::nullopt;
}

Error ApplySetting(const SettingInfo& info, const toml::node& node, const Place& place, Project& project) {
  std::string stored;
  switch (info.type) {
    case SettingType::Flag: {
      bool value = false;
      if (Error bad = BoolOf(node, place, value)) return bad;
      stored = value ? "1" : "0";
      break;
    }
    case SettingType::Number: {
      const auto* number = node.as_integer();
      if (number == nullptr) return place("must be a whole number");
      const int64_t value = number->get();
      if (value < INT32_MIN || value > INT32_MAX) return place("does not fit a signed 32-bit number");
      if ((info.id == IdSplashSeconds || info.id == IdServiceResetSeconds) && value < 0) {
        return place("must not be negative");
      }
      if ((info.id == IdStdOutMode || info.id == IdStdErrMode) && (value < 0 || value > 2)) {
        return place("must be 0 (none), 1 (file) or 2 (capture)");
      }
      stored = std::to_string(value);
      break;
    }
    case SettingType::Scrambled: {
      std::string plain;
      if (Error bad = TextOf(node, place, plain)) return bad;
      if (plain.empty()) return place("must name the main class");
      char hex[2 * ScrambleAreaSize];
      if (!ScrambleText(plain.c_str(), hex, sizeof(hex))) {
        return place("is longer than " + std::to_string(ScrambleAreaSize - 1) + " bytes");
      }
      stored = hex;
      break;
    }
    case SettingType::Text:
    case SettingType::Message: {
      if (Error bad = TextOf(node, place, stored)) return bad;
      if (info.id == IdServiceName || info.id == IdServiceDescription) {
        // Both are written into the service's command line between double quotes.
        if (stored.find('"') != std::string::npos) return place("must not hold a double quote");
        if (!stored.empty() && stored.back() == '\\') return place("must not end with a backslash");
      }
      RestartDelays delays;
      if (const char* bad = info.id == IdServiceRestartDelays ? ParseRestartDelays(stored.c_str(), &delays) : nullptr) {
        return place(bad);
      }
      AccountKind kind;
      if (const char* bad = info.id == IdServiceAccount ? CheckServiceAccount(stored.c_str(), false, &kind) : nullptr) {
        return place(bad);
      }
      if (const char* bad = info.id == IdSecondInstanceMethod ? CheckSecondStartMethod(stored.c_str()) : nullptr) {
        return place(bad);
      }
      if (info.type == SettingType::Message) stored = StoredMessageText(stored);
      if (stored.empty()) stored = NullMarker;
      break;
    }
  }
  if (Utf8ToUtf16(stored)->size() > 65535) return place("is longer than a string-table entry can hold");
  project.settings[info.id] = stored;
  return std::nullopt;
}

Error ApplyMessages(const toml::table& table, const std::string& origin, const std::string& prefix,
                    std::map<int, std::string>& out, bool allowTranslations, Project& project);

Error ApplyTranslations(const toml::table& table, const std::string& origin, Project& project) {
  for (auto&& [key, node] : table) {
    const Place place(origin, node, "messages.translations." + std::string(key.str()));
    const std::string name(key.str());
    char* end = nullptr;
    const long language = std::strtol(name.c_str(), &end, 10);
    if (name.empty() || *end != '\0' || language <= 0 || language > 0xFFFF || language == EnglishMessages) {
      return place("must be a Windows language id other than " + std::to_string(EnglishMessages) +
                   " (for example 1031 for German)");
    }
    if (!node.is_table()) return place("must be a table of messages");
    auto& messages = project.translations[static_cast<uint16_t>(language)];
    if (Error bad = ApplyMessages(*node.as_table(), origin, place.Key(), messages, false, project)) return bad;
  }
  return std::nullopt;
}

Error ApplyMessages(const toml::table& table, const std::string& origin, const std::string& prefix,
                    std::map<int, std::string>& out, bool allowTranslations, Project& project) {
  for (auto&& [key, node] : table) {
    const std::string name(key.str());
    const Place place(origin, node, prefix + "." + name);
    if (allowTranslations && name == "translations") {
      if (!node.is_table()) return place("must be a table of languages");
      if (Error bad = ApplyTranslations(*node.as_table(), origin, project)) return bad;
      continue;
    }
    char* end = nullptr;
    const long id = std::strtol(name.c_str(), &end, 10);
    if (name.empty() || *end != '\0' || name[0] == '0' || id < FirstMessageId || id > LastMessageId) {
      return place("unknown message (messages are numbered 1 to 23)");
    }
    std::string text;
    if (Error bad = TextOf(node, place, text)) return bad;
    if (Error bad = CheckMessage(static_cast<int>(id), text, place)) return bad;
    out[static_cast<int>(id)] = StoredMessageText(text);
  }
  return std::nullopt;
}

Error ApplyArchives(const toml::table& table, const std::string& origin, const fs::path& directory,
                    Project& project) {
  for (auto&& [key, node] : table) {
    const Place place(origin, node, "archives." + std::string(key.str()));
    if (key.str() != "files") return place("unknown key (archives has only \"files\")");
    const auto* list = node.as_array();
    if (list == nullptr) return place("must be a list of files or patterns");
    std::vector<ArchiveSource> sources;
    for (const toml::node& item : *list) {
      const Place itemPlace(origin, item, place.Key());
      ArchiveSource source;
      if (item.is_string()) {
        if (Error bad = TextOf(item, itemPlace, source.file)) return bad;
      } else if (const auto* entry = item.as_table()) {
        for (auto&& [field, value] : *entry) {
          const Place fieldPlace(origin, value, place.Key() + "." + std::string(field.str()));
          if (field.str() == "file") {
            if (Error bad = TextOf(value, fieldPlace, source.file)) return bad;
          } else if (field.str() == "name") {
            if (Error bad = TextOf(value, fieldPlace, source.name)) return bad;
            if (Error bad = CheckArchiveName(source.name)) return fieldPlace(*bad);
          } else {
            return fieldPlace("unknown key (an archive has \"file\" and \"name\")");
          }
        }
      } else {
        return itemPlace("each archive must be a text or a table { file = \"...\", name = \"...\" }");
      }
      if (source.file.empty()) return itemPlace("an archive needs a file");
      source.file = ResolvePath(directory, source.file);
      sources.push_back(std::move(source));
    }
    project.archives = std::move(sources);
  }
  return std::nullopt;
}

Error ApplyResources(const toml::table& table, const std::string& origin, const fs::path& directory,
                     Project& project) {
  for (auto&& [key, node] : table) {
    const Place place(origin, node, "resources." + std::string(key.str()));
    std::string* target = key.str() == "icon" ? &project.icon : key.str() == "splash" ? &project.splash : nullptr;
    if (target == nullptr) return place("unknown key (resources has \"icon\" and \"splash\")");
    if (Error bad = TextOf(node, place, *target)) return bad;
    if (target->empty()) return place("must name a file");
    *target = ResolvePath(directory, *target);
  }
  return std::nullopt;
}

Error ApplyVersion(const toml::table& table, const std::string& origin, Project& project) {
  VersionInfo info = project.version.value_or(VersionInfo{});
  for (auto&& [key, node] : table) {
    const std::string name(key.str());
    const Place place(origin, node, "version." + name);
    std::string text;
    if (Error bad = TextOf(node, place, text)) return bad;
    if (name == "file_version" || name == "product_version") {
      auto& number = name == "file_version" ? info.fileVersion : info.productVersion;
      if (Error bad = ParseVersionNumber(text, number)) return place(*bad);
      (name == "file_version" ? info.fileVersionText : info.productVersionText) = text;
    } else if (name == "company") {
      info.companyName = text;
    } else if (name == "description") {
      info.fileDescription = text;
    } else if (name == "copyright") {
      info.legalCopyright = text;
    } else if (name == "original_filename") {
      info.originalFilename = text;
    } else if (name == "product_name") {
      info.productName = text;
    } else if (name == "internal_name") {
      info.internalName = text;
    } else {
      return place("unknown key");
    }
  }
  project.version = info;
  return std::nullopt;
}

Error ApplyManifest(const toml::table& table, const std::string& origin, Project& project) {
  ManifestOptions options = project.manifest.value_or(ManifestOptions{});
  for (auto&& [key, node] : table) {
    const std::string name(key.str());
    const Place place(origin, node, "manifest." + name);
    if (name == "long_path_aware") {
      if (Error bad = BoolOf(node, place, options.longPathAware)) return bad;
    } else if (name == "utf8") {
      if (Error bad = BoolOf(node, place, options.utf8CodePage)) return bad;
    } else if (name == "execution_level") {
      std::string text;
      if (Error bad = TextOf(node, place, text)) return bad;
      if (text == "asInvoker") {
        options.executionLevel = ExecutionLevel::AsInvoker;
      } else if (text == "highestAvailable") {
        options.executionLevel = ExecutionLevel::HighestAvailable;
      } else if (text == "requireAdministrator") {
        options.executionLevel = ExecutionLevel::RequireAdministrator;
      } else {
        return place("must be \"asInvoker\", \"highestAvailable\" or \"requireAdministrator\"");
      }
    } else if (name == "dpi_awareness") {
      std::string text;
      if (Error bad = TextOf(node, place, text)) return bad;
      if (text == "unaware") {
        options.dpiAwareness = DpiAwareness::Unaware;
      } else if (text == "system") {
        options.dpiAwareness = DpiAwareness::System;
      } else if (text == "per-monitor") {
        options.dpiAwareness = DpiAwareness::PerMonitor;
      } else if (text == "per-monitor-v2") {
        options.dpiAwareness = DpiAwareness::PerMonitorV2;
      } else {
        return place("must be \"unaware\", \"system\", \"per-monitor\" or \"per-monitor-v2\"");
      }
    } else {
      return place("unknown key");
    }
  }
  project.manifest = options;
  return std::nullopt;
}

// [launcher]: what kind of program the launcher is.
Error ApplyLauncher(const toml::table& table, const std::string& origin, Project& project) {
  for (auto&& [key, node] : table) {
    const std::string name(key.str());
    const Place place(origin, node, "launcher." + name);
    if (name != "console") return place("unknown key (launcher has only \"console\")");
    bool console = false;
    if (Error bad = BoolOf(node, place, console)) return bad;
    project.console = console;
  }
  return std::nullopt;
}

}  // namespace

const char* MessageConversions(int id) {
  switch (id) {
    case MessageAlreadyRunning:
    case MessageAttach:
    case MessageServiceOnly:
      return "";
    default:
      return "%s";
  }
}

std::string StoredMessageText(const std::string& text) {
  std::string stored;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    if (text[i] == '\n') {
      stored += "\\n";
    } else {
      stored += text[i];
    }
  }
  return stored;
}

Error ApplyProjectText(const std::string& text, const std::string& origin, const fs::path& directory,
                       Project& project) {
  toml::table root;
  try {
    root = toml::parse(text, origin);
  } catch (const toml::parse_error& error) {
    return origin + ":" + std::to_string(error.source().begin.line) + ": " + std::string(error.description());
  }
  Project result = project;
  for (auto&& [key, node] : root) {
    const std::string name(key.str());
    const Place place(origin, node, name);
    Error bad;
    if (name == "stub" || name == "output") {
      std::string& target = name == "stub" ? result.stub : result.output;
      bad = TextOf(node, place, target);
      if (!bad && target.empty()) bad = place("must name a file");
      if (!bad) target = ResolvePath(directory, target);
    } else if (!node.is_table()) {
      bad = place("unknown key");
    } else if (name == "settings") {
      for (auto&& [settingKey, setting] : *node.as_table()) {
        const std::string settingName(settingKey.str());
        const Place settingPlace(origin, setting, "settings." + settingName);
        const SettingInfo* info = FindSetting(settingName.c_str());
        if (info == nullptr) {
          bad = settingPlace("unknown setting");
          break;
        }
        if ((bad = ApplySetting(*info, setting, settingPlace, result))) break;
      }
    } else if (name == "messages") {
      bad = ApplyMessages(*node.as_table(), origin, "messages", result.messages, true, result);
    } else if (name == "archives") {
      bad = ApplyArchives(*node.as_table(), origin, directory, result);
    } else if (name == "resources") {
      bad = ApplyResources(*node.as_table(), origin, directory, result);
    } else if (name == "version") {
      bad = ApplyVersion(*node.as_table(), origin, result);
    } else if (name == "manifest") {
      bad = ApplyManifest(*node.as_table(), origin, result);
    } else if (name == "launcher") {
      bad = ApplyLauncher(*node.as_table(), origin, result);
    } else {
      bad = place("unknown table");
    }
    if (bad) return bad;
  }
  project = std::move(result);
  return std::nullopt;
}

Error ApplyProjectFile(const fs::path& file, Project& project) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return file.generic_string() + ": cannot be read";
  std::ostringstream text;
  text << in.rdbuf();
  return ApplyProjectText(text.str(), file.generic_string(), fs::absolute(file).parent_path(), project);
}

}  // namespace corvane::builder
