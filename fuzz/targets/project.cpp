// Project files (ApplyProjectText, with toml++ underneath). A refused file changes nothing; an
// accepted one stores only what the launcher can read: settings and messages that fit a
// string-table entry, the main class as plain hex that descrambles, messages with exactly the
// conversions the launcher fills. Reading the same file again over its own result changes nothing.
// Input: the file's text.
#include <string>

#include "archives/archive_layout.h"
#include "base/scramble.h"
#include "base/start_paths.h"
#include "base/setting_table.h"
#include "fuzz_support.h"
#include "project.h"
#include "text_codec.h"

using namespace corvane::builder;

namespace {

bool SameArchives(const std::optional<std::vector<ArchiveSource>>& a,
                  const std::optional<std::vector<ArchiveSource>>& b) {
  if (a.has_value() != b.has_value()) return false;
  if (!a) return true;
  if (a->size() != b->size()) return false;
  for (size_t i = 0; i < a->size(); ++i) {
    if ((*a)[i].file != (*b)[i].file || (*a)[i].name != (*b)[i].name) return false;
  }
  return true;
}

bool SameManifest(const std::optional<ManifestOptions>& a, const std::optional<ManifestOptions>& b) {
  if (a.has_value() != b.has_value()) return false;
  return !a || (a->executionLevel == b->executionLevel && a->dpiAwareness == b->dpiAwareness &&
                a->longPathAware == b->longPathAware && a->utf8CodePage == b->utf8CodePage);
}

bool Same(const Project& a, const Project& b) {
  return a.stub == b.stub && a.output == b.output && a.settings == b.settings && a.messages == b.messages &&
         a.translations == b.translations && SameArchives(a.archives, b.archives) && a.icon == b.icon &&
         a.splash == b.splash && a.version == b.version && SameManifest(a.manifest, b.manifest);
}

void CheckStoredText(const std::string& stored) {
  const auto units = Utf8ToUtf16(stored);
  FUZZ_CHECK(units.has_value() && units->size() <= 65535);
  FUZZ_CHECK(stored.find('\0') == std::string::npos);
}

// The conversions the launcher fills, as the message holds them ("%%" is a percent sign).
std::string Conversions(const std::string& text) {
  std::string found;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') continue;
    if (i + 1 < text.size() && text[i + 1] == '%') {
      ++i;
      continue;
    }
    found += text.substr(i, 2);
    ++i;
  }
  return found;
}

void CheckMessages(const std::map<int, std::string>& messages) {
  for (const auto& [id, text] : messages) {
    FUZZ_CHECK(id >= FirstMessageId && id <= LastMessageId);
    CheckStoredText(text);
    FUZZ_CHECK(Conversions(text) == MessageConversions(id));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Project project;
  project.settings[IdClassPath] = "base.jar";
  const Project base = project;
  if (ApplyProjectText(text, "fuzz.toml", "/project", project)) {
    FUZZ_CHECK(Same(project, base));
    return 0;
  }

  for (const auto& [id, stored] : project.settings) {
    FUZZ_CHECK(id >= FirstSettingId && id <= LastSettingId);
    CheckStoredText(stored);
    if (id == IdMainClass) {
      FUZZ_CHECK(IsPlainHexName(stored.c_str()) && stored.size() % 2 == 0);
      FUZZ_CHECK(stored.size() <= 2 * (ScrambleAreaSize - 1));
      FUZZ_CHECK(std::string(DescrambleText(stored.c_str())).size() <= ScrambleAreaSize - 1);
    }
    if (id == IdServiceName || id == IdServiceDescription) {
      FUZZ_CHECK(stored.find('"') == std::string::npos && stored.back() != '\\');
    }
  }
  CheckMessages(project.messages);
  for (const auto& [language, messages] : project.translations) {
    FUZZ_CHECK(language != 0 && language != EnglishMessages);
    CheckMessages(messages);
  }
  if (project.archives) {
    for (const ArchiveSource& source : *project.archives) {
      FUZZ_CHECK(!source.file.empty());
      FUZZ_CHECK(source.name.empty() || ClassifyArchiveName(source.name.c_str()) == ArchiveNameProblem::None);
    }
  }

  const Project once = project;
  FUZZ_CHECK(!ApplyProjectText(text, "fuzz.toml", "/project", project).has_value());
  FUZZ_CHECK(Same(project, once));
  return 0;
}
