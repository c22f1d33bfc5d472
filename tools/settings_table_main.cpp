// cv-settings-table STUB.exe: prints the README's table of settings from the stub and the
// descriptions `corvane-build init` writes. scripts/update-readme-settings.sh puts it into the
// README; the test readme-settings checks that the README holds it.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "init_template.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: cv-settings-table STUB.exe\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  if (!file) {
    std::fprintf(stderr, "cv-settings-table: cannot read %s\n", argv[1]);
    return 1;
  }
  const corvane::builder::Bytes stub((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::string table;
  if (corvane::builder::Error bad = corvane::builder::WriteSettingsTable(stub, table)) {
    std::fprintf(stderr, "cv-settings-table: %s: %s\n", argv[1], bad->c_str());
    return 1;
  }
  std::fputs(table.c_str(), stdout);
  return 0;
}
