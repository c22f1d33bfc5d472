// cv-strings-rc: writes the string tables of a launcher as a resource script from settings files.
//   cv-strings-rc OUTPUT.rc BASE.settings [OVERRIDE.settings ...]
#include <cstdio>
#include <fstream>

#include "settings_file.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: cv-strings-rc OUTPUT.rc BASE.settings [OVERRIDE.settings ...]\n");
    return 2;
  }
  corvane::tools::StringEntries entries;
  for (int i = 2; i < argc; ++i) {
    if (auto error = corvane::tools::ApplySettingsFile(argv[i], entries)) {
      std::fprintf(stderr, "cv-strings-rc: %s\n", error->c_str());
      return 1;
    }
  }
  const std::string temporary = std::string(argv[1]) + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out << corvane::tools::WriteStringTablesRc(entries);
    if (!out.flush()) {
      std::fprintf(stderr, "cv-strings-rc: cannot write %s\n", temporary.c_str());
      return 1;
    }
  }
  if (std::rename(temporary.c_str(), argv[1]) != 0) {
    std::fprintf(stderr, "cv-strings-rc: cannot replace %s\n", argv[1]);
    return 1;
  }
  return 0;
}
