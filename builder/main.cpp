// corvane-build: writes a configured launcher from the prebuilt stub and a project file.
//   corvane-build build PROJECT.toml [-o OUT.exe] [--stub STUB.exe]
//   corvane-build inspect LAUNCHER.exe [--json]
//   corvane-build init [-o PROJECT.toml] [--stub STUB.exe] [--force]
#include <cstdio>
#include <filesystem>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <CLI/CLI.hpp>

#include "init_template.h"
#include "launcher_build.h"
#include "launcher_report.h"
#include "project.h"

namespace {

namespace fs = std::filesystem;
using namespace corvane::builder;

constexpr char StubFileName[] = "corvane-stub.exe";

fs::path OwnExecutable() {
#ifdef _WIN32
  wchar_t path[32768];
  const DWORD n = GetModuleFileNameW(nullptr, path, 32768);
  return n > 0 && n < 32768 ? fs::path(path) : fs::path();
#else
  std::error_code error;
  return fs::read_symlink("/proc/self/exe", error);
#endif
}

// --stub, else the project's stub, else the stub next to this tool.
fs::path FindStub(const std::string& option, const Project* project) {
  if (!option.empty()) return option;
  if (project != nullptr && !project->stub.empty()) return project->stub;
  return OwnExecutable().parent_path() / StubFileName;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "corvane-build: %s\n", message.c_str());
  return 1;
}

int Build(const std::string& projectFile, const std::string& outputOption, const std::string& stubOption) {
  Project project;
  if (Error bad = ApplyProjectFile(projectFile, project)) return Fail(*bad);
  const fs::path output = !outputOption.empty() ? fs::path(outputOption)
                          : !project.output.empty() ? fs::path(project.output)
                                                    : fs::path();
  if (output.empty()) return Fail(projectFile + ": no output file (give -o or \"output\" in the project)");
  const fs::path stubPath = FindStub(stubOption, &project);
  Bytes stub, launcher;
  if (Error bad = ReadFile(stubPath, stub)) return Fail("stub " + *bad + " (give it with --stub)");
  std::optional<uint32_t> stamp;
  if (Error bad = SourceDateEpoch(stamp)) return Fail(*bad);
  if (Error bad = BuildLauncher(project, stub, stamp, launcher)) return Fail(projectFile + ": " + *bad);
  if (Error bad = WriteFileAtomically(output, launcher)) return Fail(*bad);
  std::printf("wrote %s (%zu bytes)\n", output.generic_string().c_str(), launcher.size());
  return 0;
}

int Inspect(const std::string& launcherFile, bool json) {
  Bytes file;
  std::string report;
  if (Error bad = ReadFile(launcherFile, file)) return Fail(*bad);
  if (Error bad = InspectLauncher(file, json, report)) return Fail(launcherFile + ": " + *bad);
  std::fwrite(report.data(), 1, report.size(), stdout);
  return 0;
}

int Init(const std::string& outputOption, const std::string& stubOption, bool force) {
  const fs::path output = outputOption.empty() ? fs::path("corvane.toml") : fs::path(outputOption);
  std::error_code error;
  if (!force && fs::exists(output, error)) return Fail(output.generic_string() + " exists already (use --force)");
  const fs::path stubPath = FindStub(stubOption, nullptr);
  Bytes stub;
  std::string text;
  if (Error bad = ReadFile(stubPath, stub)) return Fail("stub " + *bad + " (give it with --stub)");
  if (Error bad = WriteProjectTemplate(stub, text)) return Fail(stubPath.generic_string() + ": " + *bad);
  if (Error bad = WriteFileAtomically(output, Bytes(text.begin(), text.end()))) return Fail(*bad);
  std::printf("wrote %s\n", output.generic_string().c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Writes a configured Corvane launcher from the launcher stub and a project file.", "corvane-build"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "corvane-build 0.1.0");

  std::string project, output, stub, launcher;
  bool json = false, force = false;

  CLI::App* build = app.add_subcommand("build", "Write a launcher for a project file");
  build->add_option("project", project, "Project file (TOML)")->required();
  build->add_option("-o,--output", output, "Launcher to write (default: the project's \"output\")");
  build->add_option("--stub", stub, "Launcher stub (default: the project's \"stub\", else corvane-stub.exe next to this tool)");

  CLI::App* inspect = app.add_subcommand("inspect", "Show what a launcher holds");
  inspect->add_option("launcher", launcher, "Launcher (.exe)")->required();
  inspect->add_flag("--json", json, "Print JSON");

  CLI::App* init = app.add_subcommand("init", "Write a commented template project file");
  init->add_option("-o,--output", output, "Project file to write (default: corvane.toml)");
  init->add_option("--stub", stub, "Launcher stub whose settings are the defaults (default: next to this tool)");
  init->add_flag("--force", force, "Replace an existing file");

  CLI11_PARSE(app, argc, argv);
  if (*build) return Build(project, output, stub);
  if (*inspect) return Inspect(launcher, json);
  return Init(output, stub, force);
}
