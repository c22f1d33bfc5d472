// cv-project-rc: writes the project-dependent resource script of a launcher compiled with windres.
//   cv-project-rc OUTDIR BASE.toml [OVERRIDE.toml ...] [RAW.settings ...]
// Project files (.toml) apply in order; raw settings files (.settings) then set entries exactly.
#include <cstdio>
#include <filesystem>

#include "project_rc.h"
#include "settings_file.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: cv-project-rc OUTDIR BASE.toml [OVERRIDE.toml ...] [RAW.settings ...]\n");
    return 2;
  }
  corvane::builder::Project project;
  corvane::tools::RawEntries raw;
  for (int i = 2; i < argc; ++i) {
    const std::filesystem::path input = argv[i];
    const auto error = input.extension() == ".settings" ? corvane::tools::ApplySettingsFile(argv[i], raw)
                                                         : corvane::builder::ApplyProjectFile(input, project);
    if (error) {
      std::fprintf(stderr, "cv-project-rc: %s\n", error->c_str());
      return 1;
    }
  }
  std::error_code ignored;
  std::filesystem::create_directories(argv[1], ignored);
  if (auto error = corvane::tools::WriteProjectRc(project, raw, argv[1])) {
    std::fprintf(stderr, "cv-project-rc: %s\n", error->c_str());
    return 1;
  }
  return 0;
}
