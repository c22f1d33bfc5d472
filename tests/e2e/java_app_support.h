// Running the scenario application end to end: launchers made by corvane-build, each copied into a
// folder of its own with the application's jar and a runtime of the fixtures (the fake jvm.dll or
// one of its broken variants).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "base/scramble.h"
#include "e2e_support.h"

namespace corvane::test {

namespace fs = std::filesystem;

// The runtimes of the fixtures: a working fake, a DLL without the JNI exports, one with only
// JNI_CreateJavaVM, and a file that is no DLL at all.
enum class Runtime { Fake, NoExports, HalfExports, NotADll };

inline fs::path RuntimeFile(Runtime runtime) {
  const fs::path base = fs::path(Win64BuildDir()) / "tests" / "fixtures" / "fake_jvm";
  switch (runtime) {
    case Runtime::Fake: return base / "jvm.dll";
    case Runtime::NoExports: return base / "noexports" / "jvm.dll";
    case Runtime::HalfExports: return base / "halfexports" / "jvm.dll";
    case Runtime::NotADll: return base / "notadll" / "jvm.dll";
  }
  return {};
}

// The name of the temporary folder the launcher derives from the stored main class of the scenario
// application.
inline std::string ScenarioTempName() {
  char stored[2 * ScrambleAreaSize];
  EXPECT_TRUE(ScrambleText("corvane.test.ScenarioApp", stored, sizeof(stored)));
  return stored;
}

inline fs::path ScenarioJar() {
  const char* jar = std::getenv("CORVANE_SCENARIO_JAR");
  return jar != nullptr ? fs::path(jar) : fs::path();
}

inline void PutRuntime(const fs::path& folder, Runtime runtime) {
  fs::create_directories(folder / "bin" / "server");
  fs::copy_file(RuntimeFile(runtime), folder / "bin" / "server" / "jvm.dll", fs::copy_options::overwrite_existing);
}

// A folder of its own for one run: the scenario's launcher, the application's jar beside it and,
// unless told otherwise, a runtime in jre\bin\server.
struct AppFolder {
  fs::path folder;
  std::string launcher;  // Windows path
};

// The lines a run printed, line ends normalised and the VM's stack lines left out.
inline std::vector<std::string> Lines(const std::string& output) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : output) {
    if (c == '\r') continue;
    if (c != '\n') {
      line += c;
      continue;
    }
    if (line.rfind("\tat ", 0) != 0) lines.push_back(line);
    line.clear();
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

inline bool Has(const std::vector<std::string>& lines, const std::string& wanted) {
  return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}

inline std::vector<std::string> Shown(const RunResult& result) {
  std::vector<std::string> texts;
  for (const Dialog& dialog : result.dialogs) {
    for (const std::string& text : dialog.Texts("static")) texts.push_back(dialog.title + ": " + text);
  }
  return texts;
}

class JavaAppTest : public WineTest {
 protected:
  static AppFolder MakeAppFolder(const std::string& scenario, std::optional<Runtime> runtime = Runtime::Fake) {
    const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
    AppFolder app{Session().FreshDir("apps/" + test), ""};
    const fs::path source = fs::path(std::getenv("CORVANE_E2E_LAUNCHERS")) / ("scenario-" + scenario + ".exe");
    ScenarioLauncher(scenario);
    fs::copy_file(source, app.folder / "app.exe");
    fs::copy_file(ScenarioJar(), app.folder / "scenario-app.jar");
    if (runtime) PutRuntime(app.folder / "jre", *runtime);
    app.launcher = WindowsPath((app.folder / "app.exe").string());
    return app;
  }

  static RunResult RunApp(const AppFolder& app, const std::string& arguments, RunOptions options = {}) {
    options.workDir = app.folder.string();
    return Session().Run(Quote(app.launcher) + (arguments.empty() ? "" : " " + arguments), options);
  }
};

inline std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace corvane::test
