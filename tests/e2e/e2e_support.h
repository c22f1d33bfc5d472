// Shared pieces of the end-to-end tests: launchers made by corvane-build (the host build's tool and the
// win64 build's stub), each run in a folder of its own beside the scenario application's jar and a
// runtime of the fixtures (the fake jvm.dll or a broken variant), one Wine session (prefix and
// display) per test suite, and bounded waits for what another process leaves behind.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/scramble.h"
#include "pe_image.h"
#include "resource_tree.h"
#include "wine_harness.h"

namespace corvane::test {

namespace fs = std::filesystem;
namespace builder = ::corvane::builder;
using namespace std::chrono_literals;

constexpr uint32_t StatusMinusOne = 4294967295u;
const std::string NoRuntime = "Unable to locate suitable Java Runtime (min 17) on this machine.";

inline std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
inline std::string StubLauncher() { return WindowsPath(Win64BuildDir() + "/resources/corvane.exe"); }
inline std::string FixtureProgram(const std::string& name) {
  return WindowsPath(Win64BuildDir() + "/tests/fixtures/" + name + ".exe");
}
inline std::string LauncherDir() {
  const char* dir = std::getenv("CORVANE_E2E_LAUNCHERS");
  return dir != nullptr ? dir : "";
}

// corvane-build writes `output` from a project file and the stub.
inline void Build(const fs::path& project, const fs::path& output) {
  const std::string command = "'" + std::string(std::getenv("CORVANE_BUILD_TOOL")) + "' build '" + project.string() +
                              "' --stub '" + Win64BuildDir() + "/resources/corvane.exe' -o '" + output.string() +
                              "' > /dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// Changes the resources of a launcher with the builder's own PE code.
inline void EditResources(const fs::path& exe, const std::function<void(builder::ResourceTree&)>& edit) {
  const std::string bytes = ReadAll(exe);
  builder::PeImage image;
  ASSERT_FALSE(builder::PeImage::Parse(builder::Bytes(bytes.begin(), bytes.end()), image).has_value());
  builder::ResourceTree tree;
  ASSERT_FALSE(image.ReadResources(tree).has_value());
  edit(tree);
  ASSERT_FALSE(image.ReplaceResources(tree).has_value());
  const builder::Bytes written = image.Serialize();
  std::ofstream(exe, std::ios::binary)
      .write(reinterpret_cast<const char*>(written.data()), static_cast<std::streamsize>(written.size()));
}

// The launcher of tests/scenarios/<name>.toml, built once per test program: its Linux path and
// (ScenarioLauncher) its Windows path.
inline fs::path ScenarioExe(const std::string& name) {
  static std::map<std::string, fs::path> built;
  if (auto found = built.find(name); found != built.end()) return found->second;
  std::string file = "scenario-" + name + ".exe";
  std::replace(file.begin(), file.end(), '/', '-');
  fs::create_directories(LauncherDir());
  Build(std::string(CORVANE_SOURCE_DIR) + "/tests/scenarios/" + name + ".toml", fs::path(LauncherDir()) / file);
  return built[name] = fs::path(LauncherDir()) / file;
}
inline std::string ScenarioLauncher(const std::string& name) { return WindowsPath(ScenarioExe(name).string()); }

// Waits until `done` holds, looking again every 100 ms, for at most `limit`: how a test waits for
// what another process writes (a file, a service's state, the screen), which the harness does not
// report. False when it never held.
template <typename Condition>
bool WaitUntil(Condition done, std::chrono::seconds limit = 60s) {
  for (const auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;
       std::this_thread::sleep_for(100ms)) {
    if (done()) return true;
  }
  return done();
}

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
// "Title: text" of every static text of every dialog of a run.
inline std::vector<std::string> Shown(const RunResult& result) {
  std::vector<std::string> texts;
  for (const Dialog& dialog : result.dialogs) {
    for (const std::string& text : dialog.Texts("static")) texts.push_back(dialog.title + ": " + text);
  }
  return texts;
}

// The name of the temporary folder the launcher derives from the scenario application's main class.
inline std::string ScenarioTempName() {
  char stored[2 * ScrambleAreaSize];
  EXPECT_TRUE(ScrambleText("corvane.test.ScenarioApp", stored, sizeof(stored)));
  return stored;
}

// A runtime of the fixtures in <home>\bin\server: "" the working fake, "halfexports" a DLL that
// exports only JNI_CreateJavaVM, "notadll" a file that is no DLL.
inline void PutRuntime(const fs::path& home, const std::string& variant = "") {
  fs::create_directories(home / "bin" / "server");
  fs::copy_file(fs::path(Win64BuildDir()) / "tests/fixtures/fake_jvm" / variant / "jvm.dll",
                home / "bin" / "server" / "jvm.dll", fs::copy_options::overwrite_existing);
}

// One WineSession per test suite, named after the suite.
class WineTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    session_ = std::make_unique<WineSession>(testing::UnitTest::GetInstance()->current_test_suite()->name());
  }
  static void TearDownTestSuite() { session_.reset(); }
  // A suite whose session could not be set up (gtest has reported why) runs none of its tests.
  void SetUp() override {
    if (!session_) GTEST_FAIL() << "no Wine session for this suite";
  }
  static WineSession& Session() { return *session_; }

  // The system's text for an error code as FormatMessageA gives it in this prefix, without its line end.
  static std::string SystemText(int code) {
    const std::string text = Session().Run(Quote(FixtureProgram("cvsystemtext")) + " " + std::to_string(code)).output;
    return text.substr(0, text.find_last_not_of("\r\n") + 1);
  }

  struct AppFolder {
    fs::path folder;
    std::string launcher;  // Windows path
  };
  // A fresh folder <test>/<name> holding the scenario's launcher as app.exe, the application's jar
  // and, unless `runtime` is empty, that runtime in jre\bin\server.
  static AppFolder MakeAppFolder(const std::string& scenario, std::optional<std::string> runtime = "",
                                 const std::string& name = "app") {
    const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
    AppFolder app{Session().FreshDir(test + "/" + name), ""};
    fs::copy_file(ScenarioExe(scenario), app.folder / "app.exe");
    fs::copy_file(std::getenv("CORVANE_SCENARIO_JAR"), app.folder / "scenario-app.jar");
    if (runtime) PutRuntime(app.folder / "jre", *runtime);
    app.launcher = WindowsPath((app.folder / "app.exe").string());
    return app;
  }
  static RunResult RunApp(const AppFolder& app, const std::string& arguments, RunOptions options = {}) {
    options.workDir = app.folder.string();
    return Session().Run(Quote(app.launcher) + (arguments.empty() ? "" : " " + arguments), options);
  }
  static std::unique_ptr<DrivenProcess> StartApp(const AppFolder& app, const std::string& arguments,
                                                 RunOptions options = {}) {
    options.workDir = app.folder.string();
    return Session().Start(Quote(app.launcher) + (arguments.empty() ? "" : " " + arguments), options);
  }

 private:
  static inline std::unique_ptr<WineSession> session_;
};

}  // namespace corvane::test
