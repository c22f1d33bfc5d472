#include "launcher_build.h"

#include <cstdlib>
#include <fstream>
#include <random>

#ifdef _WIN32
#include <windows.h>
#endif

#include "base/setting_table.h"
#include "string_tables.h"
#include "text_codec.h"

namespace corvane::builder {
namespace {

namespace fs = std::filesystem;

constexpr uint16_t NeutralLanguage = 0;

// Puts stored texts (UTF-8) over a string table of one language.
void Overlay(StringEntries& entries, const std::map<int, std::string>& texts) {
  for (const auto& [id, text] : texts) entries[static_cast<uint16_t>(id)] = *Utf8ToUtf16(text);
}

void ReplaceAll(ResourceTree& tree, const ResourceKey& type, const ResourceKey& name, Bytes data) {
  tree.Remove(type, name);
  tree.Put(type, name, NeutralLanguage, std::move(data));
}

Error PutIcon(const Project& project, ResourceTree& tree) {
  Bytes file;
  const fs::path path = project.icon;
  if (Error bad = ReadFile(path, file)) return bad;
  IconResources icon;
  if (Error bad = EncodeIconFile(file, 1, icon)) return "icon " + path.generic_string() + ": " + *bad;
  tree.RemoveType(ResourceType::Icon);
  tree.RemoveType(ResourceType::GroupIcon);
  tree.Put(ResourceType::GroupIcon, ResourceKey::Id(1), NeutralLanguage, std::move(icon.group));
  for (size_t i = 0; i < icon.images.size(); ++i) {
    tree.Put(ResourceType::Icon, ResourceKey::Id(static_cast<uint16_t>(i + 1)), NeutralLanguage,
             std::move(icon.images[i]));
  }
  return std::nullopt;
}

Error PutSplash(const Project& project, ResourceTree& tree) {
  Bytes file, dib;
  const fs::path path = project.splash;
  if (Error bad = ReadFile(path, file)) return bad;
  if (Error bad = EncodeBitmapFile(file, dib)) return "splash " + path.generic_string() + ": " + *bad;
  ReplaceAll(tree, ResourceType::Bitmap, ResourceKey::Id(1), std::move(dib));
  return std::nullopt;
}

}  // namespace

Error OpenLauncherStub(const Bytes& stub, PeImage& image, ResourceTree& resources) {
  if (Error bad = PeImage::Parse(stub, image)) return "the stub " + *bad;
  if (Error bad = image.ReadResources(resources)) return "the stub's resources: " + *bad;
  StringEntries settings;
  // A console launcher is a stub too: the launcher knows its kind from this field alone.
  const uint16_t subsystem = image.Subsystem();
  if ((subsystem != GuiSubsystem && subsystem != ConsoleSubsystem) ||
      ReadStringTable(resources, NeutralLanguage, settings) || settings.count(IdServiceSwitch) == 0 ||
      resources.Find(ResourceType::Dialog, ResourceKey::Id(1), NeutralLanguage) == nullptr) {
    return "the stub is not a launcher stub (it has no launcher settings table or error dialog)";
  }
  return std::nullopt;
}

Error BuildLauncher(const Project& project, const Bytes& stub, std::optional<uint32_t> timeStamp, Bytes& out) {
  PeImage image;
  ResourceTree tree;
  if (Error bad = OpenLauncherStub(stub, image, tree)) return bad;

  StringEntries settings, messages;
  if (Error bad = ReadStringTable(tree, NeutralLanguage, settings)) return "the stub's settings: " + *bad;
  if (Error bad = ReadStringTable(tree, EnglishMessages, messages)) return "the stub's messages: " + *bad;
  Overlay(settings, project.settings);
  Overlay(messages, project.messages);
  WriteStringTable(tree, NeutralLanguage, settings);
  WriteStringTable(tree, EnglishMessages, messages);
  // A translation starts from the English table, so that a message it leaves out is still said.
  for (const auto& [language, texts] : project.translations) {
    StringEntries translated = messages;
    Overlay(translated, texts);
    WriteStringTable(tree, language, translated);
  }

  if (project.archives) {
    std::vector<ArchiveFile> files;
    if (Error bad = ResolveArchives(*project.archives, files)) return bad;
    tree.Remove(ResourceType::RawData, ResourceKey::Id(1));
    if (!files.empty()) {
      Bytes archives;
      if (Error bad = EncodeArchives(files, archives)) return bad;
      tree.Put(ResourceType::RawData, ResourceKey::Id(1), NeutralLanguage, std::move(archives));
    }
  }
  if (!project.icon.empty()) {
    if (Error bad = PutIcon(project, tree)) return bad;
  }
  if (!project.splash.empty()) {
    if (Error bad = PutSplash(project, tree)) return bad;
  }
  if (project.version) {
    Bytes version;
    if (Error bad = EncodeVersionInfo(*project.version, version)) return "version information: " + *bad;
    ReplaceAll(tree, ResourceType::Version, ResourceKey::Id(1), std::move(version));
  }
  const std::string manifest = EncodeManifest(project.manifest.value_or(ManifestOptions{}));
  tree.RemoveType(ResourceType::Manifest);
  tree.Put(ResourceType::Manifest, ResourceKey::Id(1), NeutralLanguage, Bytes(manifest.begin(), manifest.end()));

  if (Error bad = image.ReplaceResources(tree)) return "cannot write the resources into the stub: " + *bad;
  if (timeStamp) image.SetTimeDateStamp(*timeStamp);
  if (project.console) image.SetSubsystem(*project.console ? ConsoleSubsystem : GuiSubsystem);
  out = std::move(image).TakeSerialized();
  return std::nullopt;
}

Error SourceDateEpoch(std::optional<uint32_t>& out) {
  out.reset();
  const char* text = std::getenv("SOURCE_DATE_EPOCH");
  if (text == nullptr || *text == '\0') return std::nullopt;
  char* end = nullptr;
  const unsigned long long seconds = std::strtoull(text, &end, 10);
  if (*end != '\0' || text[0] == '-' || seconds > 0xFFFFFFFFull) {
    return "SOURCE_DATE_EPOCH must be a whole number of seconds up to 4294967295";
  }
  out = static_cast<uint32_t>(seconds);
  return std::nullopt;
}

Error ReadFile(const fs::path& path, Bytes& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return path.generic_string() + ": cannot be read";
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  in.seekg(0);
  if (size < 0) return path.generic_string() + ": cannot be read";
  out.resize(static_cast<size_t>(size));
  if (!in.read(reinterpret_cast<char*>(out.data()), size)) return path.generic_string() + ": cannot be read";
  return std::nullopt;
}

Error WriteFileAtomically(const fs::path& path, const Bytes& bytes) {
  std::random_device random;
  const fs::path temporary = path.parent_path() / (path.filename().string() + ".tmp" + std::to_string(random() % 1000000));
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) return path.generic_string() + ": cannot be written (" + temporary.generic_string() + " cannot be created)";
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
      out.close();
      fs::remove(temporary);
      return path.generic_string() + ": cannot be written";
    }
  }
#ifdef _WIN32
  const bool moved = MoveFileExW(temporary.wstring().c_str(), path.wstring().c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
  const bool moved = std::rename(temporary.c_str(), path.c_str()) == 0;
#endif
  if (!moved) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return path.generic_string() + ": cannot be replaced";
  }
  return std::nullopt;
}

}  // namespace corvane::builder
