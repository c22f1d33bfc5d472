// Shared pieces of the end-to-end tests: where the win64 build keeps its launchers and fixtures, and
// a fixture that gives each test suite its own Wine session (prefix and display).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "wine_harness.h"

namespace corvane::test {

// Windows paths of programs of the win64 build.
inline std::string StubLauncher() { return WindowsPath(Win64BuildDir() + "/resources/corvane.exe"); }
inline std::string ScenarioLauncher(const std::string& name) {
  return WindowsPath(Win64BuildDir() + "/tests/scenarios/scenario-" + name + ".exe");
}
inline std::string FixtureProgram(const std::string& name) {
  return WindowsPath(Win64BuildDir() + "/tests/fixtures/" + name + ".exe");
}

constexpr uint32_t StatusMinusOne = 4294967295u;

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
