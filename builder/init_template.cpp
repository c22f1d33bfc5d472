#include "init_template.h"

#include <cstdio>
#include <cstdlib>

#include "base/scramble.h"
#include "base/setting_decode.h"
#include "base/setting_table.h"
#include "launch_descriptions.h"
#include "launcher_build.h"
#include "string_tables.h"
#include "text_codec.h"

namespace corvane::builder {

std::string TomlString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\u%04X", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

namespace {

// The project value of a stored setting text.
std::string ProjectValue(const SettingInfo& info, const std::string& stored) {
  const std::string text = stored == NullMarker ? "" : stored;
  switch (info.type) {
    case SettingType::Flag:
      return text.empty() || text[0] != '0' ? "true" : "false";
    case SettingType::Number:
      return std::to_string(std::atoi(text.c_str()));
    case SettingType::Scrambled:
      return TomlString(DescrambleText(stored.c_str()));
    case SettingType::Message: {
      std::string plain;
      for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
          plain += '\n';
          ++i;
        } else {
          plain += text[i];
        }
      }
      return TomlString(plain);
    }
    default:
      return TomlString(text);
  }
}

// The search order a new project starts with: a runtime beside the launcher, the keys of today's
// installers (machine, then per-user), the older installers' keys, JAVA_HOME, then PATH. The stub
// itself keeps its own order, so that launchers built before these places existed search as they did.
constexpr const char* ProposedSearchOrder = "0678123459";

}  // namespace

Error WriteProjectTemplate(const Bytes& stub, std::string& out) {
  PeImage image;
  ResourceTree tree;
  if (Error bad = OpenLauncherStub(stub, image, tree)) return bad;
  StringEntries settings, messages;
  if (Error bad = ReadStringTable(tree, 0, settings)) return "the stub's settings: " + *bad;
  if (Error bad = ReadStringTable(tree, 3081, messages)) return "the stub's messages: " + *bad;

  out =
      "# Corvane project file: what corvane-build writes into a launcher.\n"
      "#   corvane-build build THIS.toml -o App.exe\n"
      "# Each setting shows the stub's value, except that JvmSearchOrder proposes a wider search;\n"
      "# a key you remove keeps the stub's value.\n"
      "# Paths are relative to this file's folder.\n\n"
      "# stub = \"corvane-stub.exe\"   # else --stub, else the stub next to corvane-build\n"
      "# output = \"App.exe\"          # else -o\n\n"
      "[settings]\n";
  for (size_t i = 0; i < SettingCount; ++i) {
    const SettingInfo& info = SettingTable[i];
    const auto found = settings.find(static_cast<uint16_t>(info.id));
    const std::string stored = found != settings.end() ? Utf16ToUtf8(found->second) : "";
    out += "# " + std::string(SettingDescription(info.id)) + "\n";
    if (info.id == IdJvmSearchOrder) {
      out += "# (the stub's own order: " + ProjectValue(info, stored) + ")\n";
      out += std::string(info.name) + " = " + TomlString(ProposedSearchOrder) + "\n";
      continue;
    }
    out += std::string(info.name) + " = " + ProjectValue(info, stored) + "\n";
  }
  out +=
      "\n# Messages the launcher shows (English, Windows language 3081). A \"%s\" is filled by the\n"
      "# launcher and must stay where the original has one; \"\\n\" is a line break.\n"
      "[messages]\n";
  for (int id = FirstMessageId; id <= LastMessageId; ++id) {
    const auto found = messages.find(static_cast<uint16_t>(id));
    std::string text = found != messages.end() ? Utf16ToUtf8(found->second) : "";
    out += "# " + std::to_string(id) + " = " + TomlString(text) + "\n";
  }
  out +=
      "\n# The same messages in further languages (Windows language ids); the launcher shows the\n"
      "# user's language where there is one. Messages left out are said in English.\n"
      "# [messages.translations.1031]\n"
      "# 1 = \"Eine Instanz dieses Programms l\\u00e4uft bereits.\"\n\n"
      "# Archives carried in the launcher and put on the class path at start (files or patterns\n"
      "# with * and ? in the file name; a table gives an archive another name).\n"
      "# [archives]\n"
      "# files = [\"lib/*.jar\", { file = \"build/app-1.0.jar\", name = \"app.jar\" }]\n\n"
      "# [resources]\n"
      "# icon = \"app.ico\"        # every size of the .ico file\n"
      "# splash = \"splash.png\"   # .png or .bmp\n\n"
      "# Version information shown in the file's properties.\n"
      "# [version]\n"
      "# file_version = \"1.0.0.0\"\n"
      "# product_version = \"1.0\"\n"
      "# company = \"\"\n"
      "# description = \"\"\n"
      "# copyright = \"\"\n"
      "# original_filename = \"App.exe\"\n"
      "# product_name = \"\"\n"
      "# internal_name = \"\"\n\n"
      "[manifest]\n"
      "# \"asInvoker\", \"highestAvailable\" or \"requireAdministrator\"\n"
      "execution_level = \"asInvoker\"\n"
      "# \"unaware\", \"system\", \"per-monitor\" or \"per-monitor-v2\"\n"
      "dpi_awareness = \"unaware\"\n"
      "long_path_aware = false\n"
      "# UTF-8 as the process's ANSI code page (Windows 10 1903 and later): every file name,\n"
      "# argument and text reaches Java whole, whatever the user's language\n"
      "utf8 = true\n\n"
      "[launcher]\n"
      "# A console program: it keeps the standard handles of whoever started it, reports on\n"
      "# standard error instead of in windows, shows no splash and ends with the application's\n"
      "# status. Set StdOutMode and StdErrMode to 0 so that the application's output reaches them.\n"
      "console = false\n";
  return std::nullopt;
}

namespace {

// How a setting's type reads in the table.
const char* TypeName(SettingType type) {
  switch (type) {
    case SettingType::Flag:
      return "true/false";
    case SettingType::Number:
      return "number";
    case SettingType::Scrambled:
      return "text (stored scrambled)";
    case SettingType::Message:
      return "text (message)";
    default:
      return "text";
  }
}

// A stored value as a reader writes it: texts in quotes as they are, flags and numbers plain.
std::string ShownValue(const SettingInfo& info, const std::string& stored) {
  const std::string text = stored == NullMarker ? "" : stored;
  switch (info.type) {
    case SettingType::Flag:
    case SettingType::Number:
      return ProjectValue(info, stored);
    case SettingType::Scrambled:
      return "\"" + std::string(DescrambleText(stored.c_str())) + "\"";
    default:
      return "\"" + text + "\"";
  }
}

}  // namespace

Error WriteSettingsTable(const Bytes& stub, std::string& out) {
  PeImage image;
  ResourceTree tree;
  if (Error bad = OpenLauncherStub(stub, image, tree)) return bad;
  StringEntries settings;
  if (Error bad = ReadStringTable(tree, 0, settings)) return "the stub's settings: " + *bad;
  out = "| Id | Setting | Type | Meaning | Stub's value |\n|---|---|---|---|---|\n";
  for (size_t i = 0; i < SettingCount; ++i) {
    const SettingInfo& info = SettingTable[i];
    const auto found = settings.find(static_cast<uint16_t>(info.id));
    const std::string stored = found != settings.end() ? Utf16ToUtf8(found->second) : "";
    out += "| " + std::to_string(info.id) + " | `" + info.name + "` | " + TypeName(info.type) + " | " +
           SettingDescription(info.id) + " | `" + ShownValue(info, stored) + "` |\n";
  }
  return std::nullopt;
}

}  // namespace corvane::builder
