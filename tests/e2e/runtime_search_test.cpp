// Finding a Java runtime, end to end: what a launcher does when there is none, and which jvm.dll it
// takes when there is one. The runtimes here are empty files, so the runtime found shows in the
// report that it could not be loaded.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "e2e_support.h"

namespace {

using namespace corvane::test;
namespace fs = std::filesystem;

using RuntimeSearch = WineTest;

std::string Found(const std::string& path) {
  return "Unable to load JVM: " + path;
}

// Waits (bounded) for a file that another process writes; "" when it never comes.
std::string AwaitFile(const fs::path& path) {
  for (int i = 0; i < 200 && !fs::exists(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The Linux folder of a scenario launcher (built by corvane-build).
fs::path LauncherFolder(const std::string& scenario) {
  ScenarioLauncher(scenario);
  return fs::path(std::getenv("CORVANE_E2E_LAUNCHERS"));
}

void PutFixtureBeside(const std::string& scenario, const std::string& fixture) {
  fs::copy_file(Win64BuildDir() + "/tests/fixtures/" + fixture + ".exe", LauncherFolder(scenario) / (fixture + ".exe"),
                fs::copy_options::overwrite_existing);
}

TEST_F(RuntimeSearch, NoRuntimeIsReportedWithTheVersionRule) {
  const RunResult result = Session().Run(Quote(StubLauncher()));
  ASSERT_EQ(result.dialogs.size(), 1u);
  EXPECT_EQ(result.dialogs[0].title, "Error");
  EXPECT_EQ(result.dialogs[0].Texts("static"),
            std::vector<std::string>{"Unable to locate suitable Java Runtime (min 17) on this machine."});
  EXPECT_EQ(result.exitCode, StatusMinusOne);
}

TEST_F(RuntimeSearch, WithoutReportNoJvmNothingIsShown) {
  const RunResult result = Session().Run(Quote(ScenarioLauncher("no-jvm-silent")));
  EXPECT_TRUE(result.dialogs.empty());
  EXPECT_EQ(result.exitCode, StatusMinusOne);
}

TEST_F(RuntimeSearch, NoJvmCommandIsStarted) {
  const std::string launcher = ScenarioLauncher("no-jvm-command");
  PutFixtureBeside("no-jvm-command", "cvmarker");
  const fs::path marker = LauncherFolder("no-jvm-command") / "nojvm-command.marker";
  fs::remove(marker);
  const RunResult result = Session().Run(Quote(launcher));
  EXPECT_TRUE(result.dialogs.empty());
  EXPECT_EQ(result.exitCode, StatusMinusOne);
  EXPECT_EQ(AwaitFile(marker), "cvmarker.exe nojvm-command.marker from-the-launcher");
}

TEST_F(RuntimeSearch, NoJvmDocumentIsOpenedAfterTheReport) {
  const std::string launcher = ScenarioLauncher("no-jvm-document");
  const fs::path folder = LauncherFolder("no-jvm-document");
  PutFixtureBeside("no-jvm-document", "cvmarker");
  std::ofstream(folder / "install-java.cvdoc") << "how to install Java";
  const fs::path marker = folder / "nojvm-document.marker";
  fs::remove(marker);
  // The prefix opens .cvdoc documents with cvmarker.exe, as a desktop would with its own program.
  const std::string marker_program = WindowsPath((folder / "cvmarker.exe").string());
  ASSERT_EQ(Session().Run("reg add HKCR\\.cvdoc /ve /d cvdocfile /f").exitCode, 0u);
  ASSERT_EQ(Session().Run("reg add HKCR\\cvdocfile\\shell\\open\\command /ve /d \"" + marker_program +
                          " nojvm-document.marker %1\" /f").exitCode, 0u);
  const RunResult result = Session().Run(Quote(launcher));
  ASSERT_EQ(result.dialogs.size(), 1u);
  EXPECT_EQ(result.dialogs[0].Texts("static"),
            std::vector<std::string>{"Unable to locate suitable Java Runtime (min >=21;<30) on this machine."});
  EXPECT_EQ(result.exitCode, StatusMinusOne);
  const std::string opened = AwaitFile(marker);
  EXPECT_NE(opened.find("install-java.cvdoc"), std::string::npos) << opened;
}

TEST_F(RuntimeSearch, TheFirstJvmPathEntryThatExistsIsTaken) {
  const std::string launcher = ScenarioLauncher("runtime-beside");
  const fs::path runtime = LauncherFolder("runtime-beside") / "jre" / "bin" / "server";
  fs::create_directories(runtime);
  std::ofstream(runtime / "jvm.dll") << "";
  const RunResult result = Session().Run(Quote(launcher));
  fs::remove_all(LauncherFolder("runtime-beside") / "jre");
  ASSERT_EQ(result.dialogs.size(), 1u);
  EXPECT_EQ(result.dialogs[0].Texts("static"), std::vector<std::string>{Found("jre\\bin\\server\\jvm.dll")});
  EXPECT_EQ(result.exitCode, StatusMinusOne);
}

TEST_F(RuntimeSearch, JavaHomeIsTheLastPlaceLookedAt) {
  const fs::path home = fs::path(Session().FreshDir("java-home")) / "jdk-17";
  fs::create_directories(home / "bin" / "server");
  std::ofstream(home / "bin" / "server" / "jvm.dll") << "";
  RunOptions options;
  options.env["JAVA_HOME"] = "\"" + WindowsPath(home.string()) + "\"";  // quotes are dropped
  const RunResult result = Session().Run(Quote(StubLauncher()), options);
  ASSERT_EQ(result.dialogs.size(), 1u);
  EXPECT_EQ(result.dialogs[0].Texts("static"),
            std::vector<std::string>{Found(WindowsPath(home.string()) + "\\bin\\server\\jvm.dll")});
}

TEST_F(RuntimeSearch, ARegistryRuntimeMustPassTheVersionRule) {
  const fs::path root = Session().FreshDir("registry");
  for (const char* version : {"1.8.0_202", "17.0.2"}) {
    fs::create_directories(root / version / "bin" / "server");
    std::ofstream(root / version / "bin" / "server" / "jvm.dll") << "";
    const std::string key = std::string("HKLM\\Software\\JavaSoft\\Java Runtime Environment\\") + version;
    const std::string lib = WindowsPath((root / version / "bin" / "server" / "jvm.dll").string());
    ASSERT_EQ(Session().Run("reg add \"" + key + "\" /v RuntimeLib /d \"" + lib + "\" /f").exitCode, 0u);
  }
  ASSERT_EQ(Session().Run("reg add \"HKLM\\Software\\JavaSoft\\Java Runtime Environment\" /v CurrentVersion /d 1.8.0_202 /f")
                .exitCode,
            0u);
  const RunResult result = Session().Run(Quote(StubLauncher()));
  Session().Run("reg delete \"HKLM\\Software\\JavaSoft\\Java Runtime Environment\" /f");
  ASSERT_EQ(result.dialogs.size(), 1u);
  // The current version 1.8 fails "17"; the search goes on to the subkey 17.0.2.
  EXPECT_EQ(result.dialogs[0].Texts("static"),
            std::vector<std::string>{Found(WindowsPath((root / "17.0.2" / "bin" / "server" / "jvm.dll").string()))});
}

}  // namespace
