// Finding a Java runtime: what a launcher does when there is none, and which runtime runs the
// application when installers' keys, PATH and JAVA_HOME offer some. The keys are imported with reg.exe
// into the suite's prefix; the application prints the home it was started from (-Dtest.home=%JAVA_HOME%).
#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

using namespace corvane::test;

class RuntimeSearch : public WineTest {
 protected:
  // Imports registry entries (the body of a .reg file; "[-KEY]" deletes a key).
  static void Import(const std::string& entries) {
    const fs::path file = fs::path(Session().FreshDir("reg")) / "entries.reg";
    std::ofstream(file) << "Windows Registry Editor Version 5.00\n\n" << entries << "\n";
    ASSERT_EQ(Session().Run("reg import " + Quote(WindowsPath(file.string()))).exitCode, 0u) << entries;
  }
  // A string of a .reg file, backslashes and quotes escaped.
  static std::string RegText(const std::string& value) {
    std::string text = "\"";
    for (char c : value) text += c == '\\' || c == '"' ? std::string("\\") + c : std::string(1, c);
    return text + "\"";
  }
};

TEST_F(RuntimeSearch, WithoutARuntimeTheReportNamesTheRuleThenTheDocumentOpensAndTheCommandStarts) {
  const AppFolder app = MakeAppFolder("no-jvm", std::nullopt);
  fs::copy_file(Win64BuildDir() + "/tests/fixtures/cvmarker.exe", app.folder / "cvmarker.exe");
  std::ofstream(app.folder / "install-java.cvdoc") << "how to install Java";
  // The prefix opens .cvdoc documents with cvmarker.exe, as a desktop would with its own program.
  Import("[HKEY_CLASSES_ROOT\\.cvdoc]\n@=\"cvdocfile\"\n[HKEY_CLASSES_ROOT\\cvdocfile\\shell\\open\\command]\n@=" +
         RegText(WindowsPath((app.folder / "cvmarker.exe").string()) + " document.marker %1"));
  const RunResult result = RunApp(app, "");
  Import("[-HKEY_CLASSES_ROOT\\.cvdoc]\n[-HKEY_CLASSES_ROOT\\cvdocfile]");
  EXPECT_EQ(Shown(result), Texts{"Error: Unable to locate suitable Java Runtime (min >=21;<30) on this machine."});
  EXPECT_EQ(result.exitCode, StatusMinusOne);
  EXPECT_TRUE(WaitUntil([&] { return ReadAll(app.folder / "command.marker") == "cvmarker.exe command.marker started"; }))
      << ReadAll(app.folder / "command.marker");
  EXPECT_TRUE(WaitUntil([&] { return ReadAll(app.folder / "document.marker").find("install-java.cvdoc") != std::string::npos; }))
      << ReadAll(app.folder / "document.marker");
}

// In the search order 6 and 7 (today's installers' keys, machine-wide), 8 (per user), 9 (java.exe
// on PATH), 5 (JAVA_HOME), each run takes away the source that answered the one before.
TEST_F(RuntimeSearch, EachSourceInTurnRunsTheApplication) {
  const AppFolder app = MakeAppFolder("java-installed", std::nullopt);
  // A runtime home with java.exe and a release file; `runtime` picks the jvm.dll.
  auto install = [&](const std::string& name, const std::string& version, const std::string& runtime = "") {
    const fs::path home = app.folder / name;
    PutRuntime(home, runtime);
    std::ofstream(home / "bin" / "java.exe") << "";
    std::ofstream(home / "release") << "IMPLEMENTOR=\"Test\"\nJAVA_VERSION=\"" << version << "\"\n";
    return WindowsPath(home.string());
  };
  const std::string machineKeys = "[-HKEY_LOCAL_MACHINE\\Software\\JavaSoft\\JDK]\n[-HKEY_LOCAL_MACHINE\\Software\\Eclipse "
                                  "Adoptium]\n[-HKEY_LOCAL_MACHINE\\Software\\Azul Systems]\n";
  const std::string userKey = "[-HKEY_CURRENT_USER\\Software\\Eclipse Adoptium]\n";
  Import("[-HKEY_LOCAL_MACHINE\\Software\\JavaSoft\\Java Runtime Environment]\n" + machineKeys + userKey);  // left-overs
  // Oracle's 21 cannot be loaded (a launcher with a broken runtime reports it), so the highest
  // passing version with a loadable jvm.dll is Zulu's.
  const std::string oracle = install("oracle-21", "21.0.1", "notadll"), temurin = install("temurin-17", "17.0.9"),
                    zulu = install("zulu-17", "17.0.10"), user = install("user-21", "21.0.1"),
                    unzipped = install("unzipped-17", "17.0.2");
  Import("[HKEY_LOCAL_MACHINE\\Software\\JavaSoft\\JDK\\21]\n\"JavaHome\"=" + RegText(oracle) +
         "\n[HKEY_LOCAL_MACHINE\\Software\\Eclipse Adoptium\\JDK\\17.0.9.9\\hotspot\\MSI]\n\"Path\"=" + RegText(temurin) +
         "\n[HKEY_LOCAL_MACHINE\\Software\\Azul Systems\\Zulu\\zulu-17]\n\"InstallationPath\"=" + RegText(zulu));
  RunOptions options;
  options.env["WINEPATH"] = unzipped + "\\bin";  // Wine puts it before its PATH
  // Each: the runtime expected to run the application, and the registry entries imported before.
  // A trailing backslash in the per-user installer's path does not change the home.
  const std::pair<std::string, std::string> steps[] = {
      {zulu, ""},
      {user, machineKeys + "[HKEY_CURRENT_USER\\Software\\Eclipse Adoptium\\JDK\\21.0.1.12\\hotspot\\MSI]\n\"Path\"=" +
                 RegText(user + "\\")},
      {unzipped, userKey}};
  for (const auto& [home, removeBefore] : steps) {
    SCOPED_TRACE(home);
    if (!removeBefore.empty()) Import(removeBefore);
    const RunResult result = RunApp(app, "prop:test.home", options);
    EXPECT_TRUE(result.dialogs.empty() && result.exitCode == 0u) << testing::PrintToString(Shown(result));
    EXPECT_EQ(Lines(result.output), Texts{"prop test.home=" + home}) << result.output;
  }
  // JAVA_HOME, its quotes dropped, is the last place looked at.
  options.env = {{"JAVA_HOME", "\"" + temurin + "\""}};
  const RunResult result = RunApp(app, "print:from-java-home", options);
  EXPECT_TRUE(result.dialogs.empty() && result.exitCode == 0u) << testing::PrintToString(Shown(result));
  EXPECT_TRUE(Has(Lines(result.output), "out from-java-home")) << result.output;
}

}  // namespace
