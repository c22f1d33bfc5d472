// Writes the resource script of a launcher's project-dependent resources (string tables, icon,
// splash, manifest, version information, archives), for launchers compiled with windres: the stub
// itself and the test launchers. corvane-build writes the same resources into a stub directly; the
// two are compared in the tests.
#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "error.h"
#include "project.h"
#include "settings_file.h"

namespace corvane::tools {

// Writes <outDir>/project.rc, and beside it manifest.xml and archives.bin where needed. A project
// without icon or splash gets none (the stub's project names both).
builder::Error WriteProjectRc(const builder::Project& project, const RawEntries& raw,
                              const std::filesystem::path& outDir);

// A wide string literal for windres.
std::string RcLiteral(const std::u16string& units);

}  // namespace corvane::tools
