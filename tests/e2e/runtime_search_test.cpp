// Finding a Java runtime, end to end: what a launcher does when there is none, and which runtime runs
// the application when the older installers' keys, today's installers' keys (machine and user), PATH
// and JAVA_HOME offer some. The keys are imported with reg.exe into the suite's prefix; the runtimes
// are copies of the fake jvm.dll, and the application prints the home it was started from
// (-Dtest.home=%JAVA_HOME%).
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
  static std::string RegText(const fs::path& path) { return RegText(WindowsPath(path.string())); }
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
  ASSERT_EQ(result.dialogs.size(), 1u);
  EXPECT_EQ(result.dialogs[0].title, "Error");
  EXPECT_EQ(result.dialogs[0].Texts("static"),
            std::vector<std::string>{"Unable to locate suitable Java Runtime (min >=21;<30) on this machine."});
  EXPECT_EQ(result.exitCode, StatusMinusOne);
  EXPECT_TRUE(WaitUntil([&] { return ReadAll(app.folder / "command.marker") == "cvmarker.exe command.marker started"; }))
      << ReadAll(app.folder / "command.marker");
  EXPECT_TRUE(WaitUntil([&] { return ReadAll(app.folder / "document.marker").find("install-java.cvdoc") != std::string::npos; }))
      << ReadAll(app.folder / "document.marker");
}

// The search order is 1 (older installers' keys), 6 and 7 (today's, machine-wide), 8 (per user), 9
// (java.exe on PATH), 5 (JAVA_HOME); each run takes away the source that answered the one before.
TEST_F(RuntimeSearch, EachSourceInTurnRunsTheApplication) {
  const AppFolder app = MakeAppFolder("java-installed", std::nullopt);
  // A runtime folder with java.exe in bin and a release file; `runtime` picks the jvm.dll.
  auto install = [&](const std::string& name, const std::string& version, const std::string& runtime = "") {
    const fs::path home = app.folder / name;
    PutRuntime(home, runtime);
    std::ofstream(home / "bin" / "java.exe") << "";
    std::ofstream(home / "release") << "IMPLEMENTOR=\"Test\"\nJAVA_VERSION=\"" << version << "\"\n";
    return home;
  };
  const std::string old = "HKEY_LOCAL_MACHINE\\Software\\JavaSoft\\Java Runtime Environment";
  const std::string machineKeys = "[-HKEY_LOCAL_MACHINE\\Software\\JavaSoft\\JDK]\n[-HKEY_LOCAL_MACHINE\\Software\\Microsoft\\JDK]\n"
                                  "[-HKEY_LOCAL_MACHINE\\Software\\Eclipse Adoptium]\n[-HKEY_LOCAL_MACHINE\\Software\\Azul Systems]\n";
  const std::string userKey = "[-HKEY_CURRENT_USER\\Software\\Eclipse Adoptium]\n";
  Import("[-" + old + "]\n" + machineKeys + userKey);  // what an earlier run may have left
  // The older keys: the current version 1.8 fails the rule "17" (its jvm.dll would not even load);
  // the subkey 17.0.2 passes.
  const fs::path java8 = install("old-8", "1.8.0_202", "notadll"), java17 = install("old-17", "17.0.2");
  // Oracle's 21 cannot be loaded (a launcher with a broken runtime reports it); Microsoft's 11 fails the rule.
  const fs::path oracle = install("oracle-21", "21.0.1", "notadll"), microsoft = install("microsoft-11", "11.0.21");
  const fs::path temurin = install("temurin-17", "17.0.9"), zulu = install("zulu-17", "17.0.10");
  const fs::path user = install("user-21", "21.0.1"), unzipped = install("unzipped-17", "17.0.2");
  Import("[" + old + "]\n\"CurrentVersion\"=\"1.8.0_202\"\n[" + old + "\\1.8.0_202]\n\"JavaHome\"=" + RegText(java8) +
         "\n\"RuntimeLib\"=" + RegText(java8 / "bin/server/jvm.dll") + "\n[" + old + "\\17.0.2]\n\"JavaHome\"=" +
         RegText(java17) + "\n\"RuntimeLib\"=" + RegText(java17 / "bin/server/jvm.dll") +
         "\n[HKEY_LOCAL_MACHINE\\Software\\JavaSoft\\JDK\\21]\n\"JavaHome\"=" + RegText(oracle) +
         "\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\JDK\\11.0.21.9\\hotspot\\MSI]\n\"Path\"=" + RegText(microsoft) +
         "\n[HKEY_LOCAL_MACHINE\\Software\\Eclipse Adoptium\\JDK\\17.0.9.9\\hotspot\\MSI]\n\"Path\"=" + RegText(temurin) +
         "\n[HKEY_LOCAL_MACHINE\\Software\\Azul Systems\\Zulu\\zulu-17]\n\"InstallationPath\"=" + RegText(zulu));
  RunOptions options;
  options.env["WINEPATH"] = WindowsPath((unzipped / "bin").string());  // Wine puts it before its PATH
  struct Step {
    const char* source;
    std::string home;          // the runtime expected to run the application
    std::string removeBefore;  // registry entries imported before the run
  };
  const Step steps[] = {
      {"older keys", WindowsPath(java17.string()), ""},
      // Of today's machine-wide keys the highest passing version with a loadable jvm.dll.
      {"today's keys", WindowsPath(zulu.string()), "[-" + old + "]\n"},
      // A trailing backslash in the installer's path does not change the home.
      {"per-user keys", WindowsPath(user.string()),
       machineKeys + "[HKEY_CURRENT_USER\\Software\\Eclipse Adoptium\\JDK\\21.0.1.12\\hotspot\\MSI]\n\"Path\"=" +
           RegText(WindowsPath(user.string()) + "\\")},
      {"PATH", WindowsPath(unzipped.string()), userKey},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.source);
    if (!step.removeBefore.empty()) Import(step.removeBefore);
    const RunResult result = RunApp(app, "prop:test.home", options);
    EXPECT_TRUE(result.dialogs.empty()) << testing::PrintToString(Shown(result));
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(Lines(result.output), std::vector<std::string>{"prop test.home=" + step.home}) << result.output;
  }
  // JAVA_HOME, its quotes dropped, is the last place looked at.
  options.env.erase("WINEPATH");
  options.env["JAVA_HOME"] = "\"" + WindowsPath(temurin.string()) + "\"";
  const RunResult result = RunApp(app, "print:from-java-home", options);
  EXPECT_TRUE(result.dialogs.empty()) << testing::PrintToString(Shown(result));
  EXPECT_EQ(result.exitCode, 0u);
  EXPECT_TRUE(Has(Lines(result.output), "out from-java-home")) << result.output;
}

}  // namespace
