// Shared pieces of the end-to-end tests: launchers made by corvane-build, each run in a folder of its
// own beside the scenario application's jar and a runtime of the fixtures, one Wine session per suite.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <thread>

#include "base/scramble.h"
#include "pe_image.h"
#include "resource_tree.h"
#include "wine_harness.h"

namespace corvane::test {

namespace fs = std::filesystem;
namespace builder = ::corvane::builder;
using namespace std::chrono_literals;
using Texts = std::vector<std::string>;

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

// The launcher of tests/scenarios/<name>.toml, built once per test program.
inline fs::path ScenarioExe(const std::string& name) {
  static std::map<std::string, fs::path> built;
  if (auto found = built.find(name); found != built.end()) return found->second;
  std::string file = "scenario-" + name + ".exe";
  std::replace(file.begin(), file.end(), '/', '-');
  const fs::path dir = std::getenv("CORVANE_E2E_LAUNCHERS");
  fs::create_directories(dir);
  Build(std::string(CORVANE_SOURCE_DIR) + "/tests/scenarios/" + name + ".toml", dir / file);
  return built[name] = dir / file;
}
inline std::string ScenarioLauncher(const std::string& name) { return WindowsPath(ScenarioExe(name).string()); }

// Bounded wait for what another process leaves behind (a file, a service's state, the screen),
// which the harness does not report. False when it never held.
template <typename Condition>
bool WaitUntil(Condition done, std::chrono::seconds limit = 60s) {
  for (const auto end = std::chrono::steady_clock::now() + limit; std::chrono::steady_clock::now() < end;
       std::this_thread::sleep_for(100ms)) {
    if (done()) return true;
  }
  return done();
}

// The lines a run printed, without line ends and without the VM's stack lines.
inline Texts Lines(const std::string& output) {
  Texts lines;
  for (size_t at = 0, end; at < output.size(); at = end + 1) {
    end = std::min(output.find('\n', at), output.size());
    std::string line = output.substr(at, end - at);
    line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
    if (line.rfind("\tat ", 0) != 0) lines.push_back(line);
  }
  return lines;
}
inline bool Has(const Texts& lines, const std::string& wanted) {
  return std::find(lines.begin(), lines.end(), wanted) != lines.end();
}
// "Title: text" of every static text of every dialog of a run.
inline Texts Shown(const RunResult& result) {
  Texts texts;
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

class WineTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    session_ = std::make_unique<WineSession>(testing::UnitTest::GetInstance()->current_test_suite()->name());
  }
  static void TearDownTestSuite() { session_.reset(); }
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
    std::string Command(const std::string& arguments) const {
      return Quote(launcher) + (arguments.empty() ? "" : " " + arguments);
    }
  };
  // A fresh folder <test>/<name> holding the scenario's launcher as app.exe, the application's jar
  // and, unless `runtime` is empty, that runtime in jre\bin\server.
  static AppFolder MakeAppFolder(const std::string& scenario, std::optional<std::string> runtime = "",
                                 const std::string& name = "app") {
    const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
    AppFolder app{Session().FreshDir(test + "/" + name), ""};
    if (!scenario.empty()) fs::copy_file(ScenarioExe(scenario), app.folder / "app.exe");
    fs::copy_file(std::getenv("CORVANE_SCENARIO_JAR"), app.folder / "scenario-app.jar");
    if (runtime) PutRuntime(app.folder / "jre", *runtime);
    app.launcher = WindowsPath((app.folder / "app.exe").string());
    return app;
  }
  static RunResult RunApp(const AppFolder& app, const std::string& arguments, RunOptions options = {}) {
    options.workDir = app.folder.string();
    return Session().Run(app.Command(arguments), options);
  }
  static std::unique_ptr<DrivenProcess> StartApp(const AppFolder& app, const std::string& arguments,
                                                 RunOptions options = {}) {
    options.workDir = app.folder.string();
    return Session().Start(app.Command(arguments), options);
  }

 private:
  static inline std::unique_ptr<WineSession> session_;
};

}  // namespace corvane::test
