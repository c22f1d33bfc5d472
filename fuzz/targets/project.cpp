// Project files (ApplyProjectText, with toml++ underneath). A refused file changes nothing; an
// accepted one stores only what the launcher can read: texts that fit a string-table entry, the main
// class as plain hex, messages with exactly the conversions the launcher fills. Input: the file.
#include <string>

#include "archives/archive_layout.h"
#include "base/setting_table.h"
#include "base/start_paths.h"
#include "fuzz_support.h"
#include "project.h"
#include "text_codec.h"

using namespace corvane::builder;

namespace {
void CheckStored(const std::string& text) {
  const auto units = Utf8ToUtf16(text);
  FUZZ_CHECK(units.has_value() && units->size() <= 65535 && text.find('\0') == std::string::npos);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  Project project;
  project.settings[IdClassPath] = "base.jar";
  if (ApplyProjectText(text, "fuzz.toml", "/project", project)) {
    FUZZ_CHECK(project.settings.size() == 1 && project.messages.empty() && !project.archives && !project.version);
    return 0;
  }
  for (const auto& [id, stored] : project.settings) {
    CheckStored(stored);
    if (id == IdMainClass) FUZZ_CHECK(IsPlainHexName(stored.c_str()) && stored.size() <= 2 * 255);
  }
  auto checkMessages = [](const std::map<int, std::string>& messages) {
    for (const auto& [id, message] : messages) {
      CheckStored(message);
      std::string conversions;  // "%%" is a percent sign, any other "%" a conversion the launcher fills
      for (size_t i = message.find('%'); i != std::string::npos; i = message.find('%', i + 2)) {
        if (message.compare(i, 2, "%%") != 0) conversions += message.substr(i, 2);
      }
      FUZZ_CHECK(conversions == MessageConversions(id));
    }
  };
  checkMessages(project.messages);
  for (const auto& [language, messages] : project.translations) checkMessages(messages);
  for (const ArchiveSource& source : project.archives.value_or(std::vector<ArchiveSource>{})) {
    FUZZ_CHECK(source.name.empty() || ClassifyArchiveName(source.name.c_str()) == ArchiveNameProblem::None);
  }
  return 0;
}
