// corvane-build on Windows: the Windows build of the tool, run under Wine, writes the same bytes as
// the Linux build from the same inputs.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "e2e_support.h"

namespace {

using namespace corvane::test;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

using Builder = WineTest;

TEST_F(Builder, TheWindowsToolWritesTheSameBytesAsTheLinuxTool) {
  const std::string dir = Session().FreshDir("same-bytes");
  // The branded scenario has everything: settings, messages, a translation, archives, icon, splash,
  // version information and manifest options.
  const std::string project = std::string(CORVANE_SOURCE_DIR) + "/tests/scenarios/branded.toml";
  const std::string stub = Win64BuildDir() + "/resources/corvane.exe";
  const RunResult windows = Session().Run(Quote(WindowsPath(Win64BuildDir() + "/builder/corvane-build.exe")) +
                                          " build " + Quote(WindowsPath(project)) + " --stub " +
                                          Quote(WindowsPath(stub)) + " -o " + Quote(WindowsPath(dir + "/windows.exe")));
  ASSERT_EQ(windows.exitCode, 0u) << windows.output;
  const std::string linux = std::string(std::getenv("CORVANE_BUILD_TOOL")) + " build '" + project + "' --stub '" + stub +
                            "' -o '" + dir + "/linux.exe' > /dev/null";
  ASSERT_EQ(std::system(linux.c_str()), 0);
  const std::string windowsBytes = ReadAll(dir + "/windows.exe");
  EXPECT_GT(windowsBytes.size(), 50000u);
  EXPECT_TRUE(windowsBytes == ReadAll(dir + "/linux.exe")) << "the two launchers differ";
}

TEST_F(Builder, ALauncherItBuiltRunsUnderWindows) {
  // The rewritten resource section and relocations load: the launcher reaches its first report.
  const RunResult result = Session().Run(Quote(ScenarioLauncher("service-only")));
  ASSERT_EQ(result.dialogs.size(), 1u);
  EXPECT_EQ(result.dialogs[0].Texts("static"), std::vector<std::string>{"This program can only be run as a service."});
  EXPECT_EQ(result.exitCode, 0u);
}

}  // namespace
