// Runtimes that today's installers leave behind, end to end: the keys are written with reg.exe into
// the suite's prefix, the runtimes are copies of the fake jvm.dll (one patched to a 32-bit image),
// and the application prints the home it was started from (-Dtest.home=%JAVA_HOME%).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "java_app_support.h"

namespace {

using namespace corvane::test;

// Named so that it runs in the e2e.RuntimeSearch group, with a prefix of its own.
using RuntimeSearchInstalled = JavaAppTest;

// A runtime folder with the fake jvm.dll in bin\server, java.exe in bin and a release file; with
// `x86` the jvm.dll's machine field says 32-bit, which the launcher could not load.
fs::path InstallRuntime(const fs::path& home, const std::string& version, bool x86 = false) {
  PutRuntime(home, Runtime::Fake);
  std::ofstream(home / "bin" / "java.exe") << "";
  std::ofstream(home / "release") << "IMPLEMENTOR=\"Test\"\nJAVA_VERSION=\"" << version << "\"\n";
  if (x86) {
    std::fstream image(home / "bin" / "server" / "jvm.dll", std::ios::in | std::ios::out | std::ios::binary);
    unsigned char offset[4] = {};
    image.seekg(0x3C);
    image.read(reinterpret_cast<char*>(offset), 4);
    image.seekp(offset[0] | offset[1] << 8 | offset[2] << 16 | offset[3] << 24);
    image.seekp(4, std::ios::cur);
    image.write("\x4C\x01", 2);
  }
  return home;
}

// A reg.exe command line that writes a string value; a backslash before the closing quote is
// doubled, else it would escape the quote.
std::string AddValue(const std::string& key, const std::string& name, const std::string& data) {
  const std::string quoted = !data.empty() && data.back() == '\\' ? data + "\\" : data;
  return "reg add \"" + key + "\" /v " + name + " /d \"" + quoted + "\" /f";
}

TEST_F(RuntimeSearchInstalled, TheHighestPassingVendorRuntimeRunsAndA32BitOneIsSkipped) {
  const AppFolder app = MakeAppFolder("java-installed", std::nullopt);
  const fs::path oracle = InstallRuntime(app.folder / "oracle-21-x86", "21.0.1", true);
  const fs::path microsoft = InstallRuntime(app.folder / "microsoft-11", "11.0.21");
  const fs::path temurin = InstallRuntime(app.folder / "temurin-17", "17.0.9");
  const fs::path zulu = InstallRuntime(app.folder / "zulu-17", "17.0.10");
  const std::string commands[] = {
      AddValue("HKLM\\Software\\JavaSoft\\JDK\\21", "JavaHome", WindowsPath(oracle.string())),
      AddValue("HKLM\\Software\\Microsoft\\JDK\\11.0.21.9\\hotspot\\MSI", "Path", WindowsPath(microsoft.string())),
      AddValue("HKLM\\Software\\Eclipse Adoptium\\JDK\\17.0.9.9\\hotspot\\MSI", "Path",
               WindowsPath(temurin.string())),
      AddValue("HKLM\\Software\\Azul Systems\\Zulu\\zulu-17", "InstallationPath", WindowsPath(zulu.string())),
  };
  for (const std::string& command : commands) ASSERT_EQ(Session().Run(command).exitCode, 0u) << command;

  const RunResult result = RunApp(app, "prop:test.home");
  for (const char* key : {"JavaSoft\\JDK", "Microsoft\\JDK", "Eclipse Adoptium", "Azul Systems"}) {
    Session().Run(std::string("reg delete \"HKLM\\Software\\") + key + "\" /f");
  }
  EXPECT_TRUE(result.dialogs.empty()) << testing::PrintToString(Shown(result));
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_EQ(Lines(result.output), std::vector<std::string>{"prop test.home=" + WindowsPath(zulu.string())})
      << result.output;
}

TEST_F(RuntimeSearchInstalled, PerUserAndPathRuntimesAreFound) {
  const AppFolder app = MakeAppFolder("java-installed", std::nullopt);
  const fs::path user = InstallRuntime(app.folder / "user-21", "21.0.1");
  const fs::path unzipped = InstallRuntime(app.folder / "unzipped-17", "17.0.2");
  const std::string key = "HKCU\\Software\\Eclipse Adoptium\\JDK\\21.0.1.12\\hotspot\\MSI";
  ASSERT_EQ(Session().Run(AddValue(key, "Path", WindowsPath(user.string()) + "\\")).exitCode, 0u);
  RunOptions options;
  options.env["WINEPATH"] = WindowsPath((unzipped / "bin").string());  // Wine puts it before its PATH

  const RunResult perUser = RunApp(app, "prop:test.home", options);
  EXPECT_EQ(Lines(perUser.output), std::vector<std::string>{"prop test.home=" + WindowsPath(user.string())})
      << perUser.output;
  EXPECT_EQ(perUser.exitCode, 0u);

  Session().Run("reg delete \"HKCU\\Software\\Eclipse Adoptium\" /f");
  const RunResult onPath = RunApp(app, "prop:test.home", options);
  EXPECT_TRUE(onPath.dialogs.empty()) << testing::PrintToString(Shown(onPath));
  EXPECT_EQ(Lines(onPath.output), std::vector<std::string>{"prop test.home=" + WindowsPath(unzipped.string())})
      << onPath.output;
  EXPECT_EQ(onPath.exitCode, 0u);
}

}  // namespace
