#include "launcher_report.h"

#include <cstdio>
#include <ctime>
#include <sstream>

#include "toml_library.h"

#include "archive_resource.h"
#include "base/scramble.h"
#include "base/setting_decode.h"
#include "base/setting_table.h"
#include "pe_image.h"
#include "resource_encoders.h"
#include "string_tables.h"
#include "text_codec.h"

namespace corvane::builder {
namespace {

// FILETIME as "2026-12-06T19:30:00Z".
std::string IsoTime(uint64_t fileTime) {
  const int64_t seconds = static_cast<int64_t>(fileTime / 10000000) - 11644473600LL;
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &t);
#else
  gmtime_r(&t, &utc);
#endif
  char text[32];
  std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

std::string Quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string Version(const std::array<uint16_t, 4>& v) {
  return std::to_string(v[0]) + "." + std::to_string(v[1]) + "." + std::to_string(v[2]) + "." + std::to_string(v[3]);
}

// A setting's stored text as its type reads it; an unset text ("<null>" or absent) reads "".
toml::table SettingNode(const SettingInfo& info, const StringEntries& entries) {
  const auto found = entries.find(static_cast<uint16_t>(info.id));
  const std::string stored = found != entries.end() ? Utf16ToUtf8(found->second) : "";
  const std::string text = stored == NullMarker ? "" : stored;
  toml::table node{{"id", static_cast<int64_t>(info.id)}, {"stored", stored}};
  switch (info.type) {
    case SettingType::Flag:
      node.insert("value", text.empty() || text[0] != '0');
      break;
    case SettingType::Number:
      node.insert("value", static_cast<int64_t>(DecodeNumber(text.c_str())));
      break;
    case SettingType::Scrambled:
      node.insert("value", std::string(DescrambleText(stored.c_str())));
      break;
    default:
      node.insert("value", text);
  }
  return node;
}

std::string DescribeBitmap(const Bytes& dib) {
  if (dib.size() < 16) return "unreadable";
  auto dword = [&](size_t at) { return static_cast<int32_t>(dib[at] | dib[at + 1] << 8 | dib[at + 2] << 16 | dib[at + 3] << 24); };
  const int64_t height = dword(8);  // -INT32_MIN does not fit 32 bits
  return std::to_string(dword(4)) + "x" + std::to_string(height < 0 ? -height : height) + ", " +
         std::to_string(dib[14] | dib[15] << 8) + " bits";
}

}  // namespace

Error InspectLauncher(const Bytes& file, bool json, std::string& out) {
  PeImage image;
  if (Error bad = PeImage::Parse(file, image)) return "the file " + *bad;
  ResourceTree tree;
  if (Error bad = image.ReadResources(tree)) return "its resources: " + *bad;

  toml::table report;
  // The subsystem says which kind of launcher the stub's code is: the same code runs as both.
  report.insert("launcher", toml::table{{"console", image.Subsystem() == ConsoleSubsystem}});
  StringEntries settings;
  if (Error bad = ReadStringTable(tree, 0, settings)) return "its settings: " + *bad;
  toml::table settingsNode;
  for (size_t i = 0; i < SettingCount; ++i) settingsNode.insert(SettingTable[i].name, SettingNode(SettingTable[i], settings));
  report.insert("settings", std::move(settingsNode));

  toml::table messagesNode;
  for (uint16_t language : StringTableLanguages(tree)) {
    if (language == 0) continue;
    StringEntries messages;
    if (Error bad = ReadStringTable(tree, language, messages)) return "its messages: " + *bad;
    toml::table table;
    for (const auto& [id, text] : messages) table.insert(std::to_string(id), Utf16ToUtf8(text));
    messagesNode.insert(std::to_string(language), std::move(table));
  }
  report.insert("messages", std::move(messagesNode));

  toml::array archivesNode;
  if (const Resource* archives = tree.Find(ResourceType::RawData, ResourceKey::Id(1), 0)) {
    std::vector<ArchiveInfo> entries;
    if (Error bad = DecodeArchives(archives->data, entries)) return "its archives: " + *bad;
    for (const ArchiveInfo& entry : entries) {
      archivesNode.push_back(toml::table{{"name", entry.name},
                                         {"size", static_cast<int64_t>(entry.size)},
                                         {"time", IsoTime(entry.fileTime)}});
    }
  }
  report.insert("archives", std::move(archivesNode));

  toml::table resources;
  if (const Resource* group = tree.Find(ResourceType::GroupIcon, ResourceKey::Id(1), 0)) {
    toml::array sizes;
    const Bytes& g = group->data;
    const size_t count = g.size() >= 6 ? (g[4] | g[5] << 8) : 0;
    for (size_t i = 0; i < count && 6 + 14 * (i + 1) <= g.size(); ++i) {
      const int w = g[6 + 14 * i] ? g[6 + 14 * i] : 256, h = g[7 + 14 * i] ? g[7 + 14 * i] : 256;
      sizes.push_back(std::to_string(w) + "x" + std::to_string(h));
    }
    resources.insert("icon", std::move(sizes));
  }
  if (const Resource* bitmap = tree.Find(ResourceType::Bitmap, ResourceKey::Id(1), 0)) {
    resources.insert("splash", DescribeBitmap(bitmap->data));
  }
  for (const Resource* version : tree.OfType(ResourceType::Version)) {
    VersionInfo info;
    if (DecodeVersionInfo(version->data, info)) continue;
    resources.insert("version", toml::table{{"file_version", Version(info.fileVersion)},
                                            {"product_version", Version(info.productVersion)},
                                            {"company", info.companyName},
                                            {"description", info.fileDescription},
                                            {"copyright", info.legalCopyright},
                                            {"original_filename", info.originalFilename},
                                            {"product_name", info.productName}});
    break;
  }
  for (const Resource* manifest : tree.OfType(ResourceType::Manifest)) {
    resources.insert("manifest", std::string(manifest->data.begin(), manifest->data.end()));
    break;
  }
  resources.insert("error_dialog", tree.Find(ResourceType::Dialog, ResourceKey::Id(1), 0) != nullptr);
  resources.insert("signed", image.HasSignature());
  report.insert("resources", std::move(resources));

  std::ostringstream text;
  if (json) {
    text << toml::json_formatter{report} << "\n";
    out = text.str();
    return std::nullopt;
  }
  text << "Launcher:\n  console = " << (report["launcher"]["console"].value_or(false) ? "true" : "false") << "\n";
  text << "Settings:\n";
  for (size_t i = 0; i < SettingCount; ++i) {
    const SettingInfo& info = SettingTable[i];
    const toml::table& node = *report["settings"][info.name].as_table();
    text << "  " << info.name << " = ";
    if (const auto* flag = node["value"].as_boolean()) {
      text << (flag->get() ? "true" : "false");
    } else if (const auto* number = node["value"].as_integer()) {
      text << number->get();
    } else {
      text << Quoted(node["value"].value_or(std::string()));
    }
    text << "\n";
  }
  for (auto&& [language, table] : *report["messages"].as_table()) {
    text << "Messages (language " << language.str() << "):\n";
    for (int id = FirstMessageId; id <= LastMessageId; ++id) {
      if (auto message = (*table.as_table())[std::to_string(id)].value<std::string>()) {
        text << "  " << id << " = " << Quoted(*message) << "\n";
      }
    }
  }
  const toml::array& archives = *report["archives"].as_array();
  text << "Archives: " << (archives.empty() ? "none" : std::to_string(archives.size())) << "\n";
  for (const toml::node& entry : archives) {
    text << "  " << entry.as_table()->at("name").value_or(std::string()) << ", "
         << entry.as_table()->at("size").value_or(int64_t{0}) << " bytes, "
         << entry.as_table()->at("time").value_or(std::string()) << "\n";
  }
  text << "Resources:\n";
  if (const auto* icon = report["resources"]["icon"].as_array()) {
    text << "  icon:";
    for (const toml::node& size : *icon) text << " " << size.value_or(std::string());
    text << "\n";
  }
  if (auto splash = report["resources"]["splash"].value<std::string>()) text << "  splash: " << *splash << "\n";
  if (const auto* version = report["resources"]["version"].as_table()) {
    text << "  version:";
    for (auto&& [key, value] : *version) {
      if (!value.value_or(std::string()).empty()) text << " " << key.str() << "=" << Quoted(value.value_or(std::string()));
    }
    text << "\n";
  }
  if (auto manifest = report["resources"]["manifest"].value<std::string>()) {
    text << "  manifest:\n";
    std::istringstream lines(*manifest);
    for (std::string line; std::getline(lines, line);) text << "    " << line << "\n";
  }
  text << "  error dialog: " << (report["resources"]["error_dialog"].value_or(false) ? "yes" : "no") << "\n";
  text << "  signed: " << (report["resources"]["signed"].value_or(false) ? "yes" : "no") << "\n";
  out = text.str();
  return std::nullopt;
}

}  // namespace corvane::builder
