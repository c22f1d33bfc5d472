#include "project_rc.h"

#include <cstdio>
#include <fstream>

#include "archive_resource.h"
#include "launcher_build.h"
#include "resource_encoders.h"
#include "string_tables.h"
#include "text_codec.h"

namespace corvane::tools {
namespace {

namespace fs = std::filesystem;
using builder::Error;
using builder::StringEntries;

// windres reads a path in a resource statement as a narrow string literal.
std::string PathLiteral(const fs::path& path) {
  std::string out = "\"";
  for (char c : fs::absolute(path).generic_string()) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

std::string LanguageStatement(uint16_t language) {
  return "LANGUAGE " + std::to_string(language & 0x3FF) + ", " + std::to_string(language >> 10) + "\n";
}

std::string StringTable(uint16_t language, const StringEntries& entries) {
  std::string rc = LanguageStatement(language) + "STRINGTABLE\nBEGIN\n";
  for (const auto& [id, text] : entries) {
    if (!text.empty()) rc += "  " + std::to_string(id) + ", " + RcLiteral(text) + "\n";
  }
  return rc + "END\n\n";
}

void Overlay(StringEntries& entries, const std::map<int, std::string>& texts) {
  for (const auto& [id, text] : texts) entries[static_cast<uint16_t>(id)] = *builder::Utf8ToUtf16(text);
}

std::string VersionText(const std::array<uint16_t, 4>& v) {
  return std::to_string(v[0]) + ", " + std::to_string(v[1]) + ", " + std::to_string(v[2]) + ", " +
         std::to_string(v[3]);
}

// The VERSIONINFO statement for the same information that EncodeVersionInfo writes.
std::string VersionStatement(const builder::VersionInfo& info) {
  char block[16];
  std::snprintf(block, sizeof(block), "%04X%04X", info.language, info.codePage);
  std::string rc = "1 VERSIONINFO\nFILEVERSION " + VersionText(info.fileVersion) + "\nPRODUCTVERSION " +
                   VersionText(info.productVersion) +
                   "\nFILEFLAGSMASK 0x3fL\nFILEFLAGS 0x0L\nFILEOS 0x40004L\nFILETYPE 0x1L\nFILESUBTYPE 0x0L\n"
                   "BEGIN\n  BLOCK \"StringFileInfo\"\n  BEGIN\n    BLOCK \"" + std::string(block) + "\"\n    BEGIN\n";
  const std::pair<const char*, const std::string*> values[] = {
      {"CompanyName", &info.companyName},         {"FileDescription", &info.fileDescription},
      {"FileVersion", &info.fileVersionText},     {"InternalName", &info.internalName},
      {"LegalCopyright", &info.legalCopyright},   {"OriginalFilename", &info.originalFilename},
      {"ProductName", &info.productName},         {"ProductVersion", &info.productVersionText}};
  for (const auto& [name, value] : values) {
    if (!value->empty()) rc += "      VALUE \"" + std::string(name) + "\", " + RcLiteral(*builder::Utf8ToUtf16(*value)) + "\n";
  }
  rc += "    END\n  END\n  BLOCK \"VarFileInfo\"\n  BEGIN\n    VALUE \"Translation\", " + std::to_string(info.language) +
        ", " + std::to_string(info.codePage) + "\n  END\nEND\n\n";
  return rc;
}

Error WriteText(const fs::path& path, const std::string& text) {
  return builder::WriteFileAtomically(path, builder::Bytes(text.begin(), text.end()));
}

}  // namespace

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
      // Four digits, so that a following hex-looking character is never read into the escape.
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\x%04X", static_cast<unsigned>(unit));
      out += escape;
    }
  }
  return out + "\"";
}

Error WriteProjectRc(const builder::Project& project, const RawEntries& raw, const fs::path& outDir) {
  StringEntries settings, messages;
  Overlay(settings, project.settings);
  Overlay(messages, project.messages);
  for (const auto& [id, text] : raw) {
    StringEntries& table = id >= 1000 ? settings : messages;
    if (text == "<absent>") {
      table.erase(static_cast<uint16_t>(id));
    } else {
      table[static_cast<uint16_t>(id)] = *builder::Utf8ToUtf16(text);
    }
  }
  std::string rc = "// Written by cv-project-rc from project files; do not edit.\n";
  rc += StringTable(0, settings);
  rc += StringTable(builder::EnglishMessages, messages);
  for (const auto& [language, texts] : project.translations) {
    StringEntries translated = messages;
    Overlay(translated, texts);
    rc += StringTable(language, translated);
  }
  rc += LanguageStatement(0);
  if (!project.icon.empty()) rc += "1 ICON " + PathLiteral(project.icon) + "\n";
  if (!project.splash.empty()) rc += "1 BITMAP " + PathLiteral(project.splash) + "\n";
  if (Error bad = WriteText(outDir / "manifest.xml", builder::EncodeManifest(project.manifest.value_or(builder::ManifestOptions{})))) {
    return bad;
  }
  rc += "1 24 " + PathLiteral(outDir / "manifest.xml") + "\n\n";
  if (project.version) rc += VersionStatement(*project.version);
  if (project.archives) {
    std::vector<builder::ArchiveFile> files;
    builder::Bytes archives;
    if (Error bad = builder::ResolveArchives(*project.archives, files)) return bad;
    if (Error bad = builder::EncodeArchives(files, archives)) return bad;
    if (!files.empty()) {
      if (Error bad = builder::WriteFileAtomically(outDir / "archives.bin", archives)) return bad;
      rc += "1 RCDATA " + PathLiteral(outDir / "archives.bin") + "\n";
    }
  }
  return WriteText(outDir / "project.rc", rc);
}

}  // namespace corvane::tools
