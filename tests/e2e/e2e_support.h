// Shared pieces of the end-to-end tests: where the win64 build keeps its launchers and fixtures, and
// a fixture that gives each test suite its own Wine session (prefix and display).
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "wine_harness.h"

namespace corvane::test {

// Windows paths of programs of the win64 build.
inline std::string StubLauncher() { return WindowsPath(Win64BuildDir() + "/resources/corvane.exe"); }
// The launcher corvane-build (of the host build, CORVANE_BUILD_TOOL) makes from the stub and
// tests/scenarios/<name>.toml, written once per test program under CORVANE_E2E_LAUNCHERS. The
// win64 build compiles the same files with windres; the builder tests compare both.
inline std::string ScenarioLauncher(const std::string& name) {
  static std::map<std::string, std::string> built;
  if (auto found = built.find(name); found != built.end()) return found->second;
  const char* tool = std::getenv("CORVANE_BUILD_TOOL");
  const char* dir = std::getenv("CORVANE_E2E_LAUNCHERS");
  if (tool == nullptr || dir == nullptr) {
    ADD_FAILURE() << "CORVANE_BUILD_TOOL and CORVANE_E2E_LAUNCHERS must be set (ctest sets them)";
    return "";
  }
  std::filesystem::create_directories(dir);
  const std::string output = std::string(dir) + "/scenario-" + name + ".exe";
  const std::string command = "'" + std::string(tool) + "' build '" + std::string(CORVANE_SOURCE_DIR) +
                              "/tests/scenarios/" + name + ".toml' --stub '" + Win64BuildDir() +
                              "/resources/corvane.exe' -o '" + output + "' > /dev/null";
  if (std::system(command.c_str()) != 0) {
    ADD_FAILURE() << "corvane-build failed: " << command;
    return "";
  }
  return built[name] = WindowsPath(output);
}
inline std::string FixtureProgram(const std::string& name) {
  return WindowsPath(Win64BuildDir() + "/tests/fixtures/" + name + ".exe");
}

constexpr uint32_t StatusMinusOne = 4294967295u;

inline std::string WithoutLineEnd(const std::string& text) {
  return text.substr(0, text.find_last_not_of("\r\n") + 1);
}

// The system's text for an error code as FormatMessageA gives it in this prefix (Wine's wording
// differs from Windows'), without its line end.
inline std::string SystemText(WineSession& session, int code) {
  const RunResult result = session.Run(Quote(FixtureProgram("cvsystemtext")) + " " + std::to_string(code));
  return WithoutLineEnd(result.output);
}

// One WineSession per test suite, named after the suite.
class WineTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string group = testing::UnitTest::GetInstance()->current_test_suite()->name();
    for (char& c : group) {
      if (c == '/') c = '-';
    }
    session_ = std::make_unique<WineSession>(group);
  }
  static void TearDownTestSuite() { session_.reset(); }
  // A suite whose session could not be set up (gtest has reported why) runs none of its tests.
  void SetUp() override {
    if (!session_) GTEST_FAIL() << "no Wine session for this suite";
  }
  static WineSession& Session() { return *session_; }

 private:
  static inline std::unique_ptr<WineSession> session_;
};

}  // namespace corvane::test
