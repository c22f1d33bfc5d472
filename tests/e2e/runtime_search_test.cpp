// What a launcher does when no Java runtime is found: the report, then the document and the command
// it is configured with, opened by the prefix's own association (imported with reg.exe). Which
// runtime each search source finds is shown on the Windows side, against real keys and folders.
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
  // Imported at the end of the test, also when it fails: keys left in the prefix would change the
  // next run.
  std::string removeAtTearDown;
  void TearDown() override {
    if (!removeAtTearDown.empty()) Import(removeAtTearDown);
  }
};

// The lines of a trace file without their times ("   123 ms  "), which every line must have.
Texts TraceLines(const fs::path& file) {
  Texts lines;
  for (const std::string& line : Lines(ReadAll(file))) {
    const size_t time = line.find(" ms  ");
    EXPECT_TRUE(time >= 7 && line.find_first_not_of(" 0123456789") == time + 1) << line;
    lines.push_back(line.substr(time == std::string::npos ? 0 : time + 5));
  }
  return lines;
}

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

// Four version subkeys of the Java 9 keys: one below the rule (from the INI file), one without a
// runtime, one whose jvm.dll is no 64-bit image, and one taken, whose release file states its version.
// The trace names each with its version, where that came from and its verdict, and what the start
// did around the search; a second start appends to the same file and leaves the archive unchanged.
TEST_F(RuntimeSearch, ATraceNamesEachCandidatesVersionAndVerdictAndWhatTheStartDid) {
  const AppFolder app = MakeAppFolder("java-trace", std::nullopt);
  std::ofstream(app.folder / "app.ini") << "[Application Configuration]\nJvmVersion=>=17\n";
  const auto home = [&](const std::string& name) { return WindowsPath((app.folder / name).string()); };
  PutRuntime(app.folder / "jdk11");
  PutRuntime(app.folder / "jdk21");
  std::ofstream(app.folder / "jdk21" / "release") << "IMPLEMENTOR=\"Test\"\nJAVA_VERSION=\"21.0.2\"\n";
  PutRuntime(app.folder / "jdk22", "notadll");
  removeAtTearDown = "[-HKEY_LOCAL_MACHINE\\Software\\JavaSoft\\JDK]";
  std::string keys;
  for (const std::string version : {"11", "21", "22", "23"}) {
    keys += "[HKEY_LOCAL_MACHINE\\Software\\JavaSoft\\JDK\\" + version + "]\n\"JavaHome\"=" + RegText(home("jdk" + version)) + "\n";
  }
  Import(keys);
  RunOptions options;
  options.env = {{"CORVANE_TRACE", "trace.log"}};
  for (int run = 0; run < 2; ++run) {
    const RunResult result = RunApp(app, "print:traced", options);
    EXPECT_TRUE(result.dialogs.empty() && result.exitCode == 0u && Has(Lines(result.output), "out traced"))
        << result.output << testing::PrintToString(Shown(result));
  }
  const Texts lines = TraceLines(app.folder / "trace.log");
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "command line: " + app.Command("print:traced")), 2);
  const std::string candidate = "candidate HKLM\\Software\\JavaSoft\\JDK\\", jvm21 = home("jdk21") + "\\bin\\server\\jvm.dll";
  for (const std::string& line : Texts{
           "ini file " + home("app.ini"), "ini file sets JvmVersion = \">=17\"", "setting JvmVersion = \">=17\"",
           "setting JvmSearchOrder = \"x06\"", "settings loaded", "archives: 1 carried, folder .",
           "archive .\\first.jar: written", "search digit x: names no place, skipped", "search digit 0",
           "candidate nowhere\\jvm.dll (JvmPath, no version rule): no jvm.dll", "search digit 6",
           candidate + "11, home " + home("jdk11") + ", version 11 (key name): refused by the version rule",
           candidate + "21, home " + home("jdk21") + ", version 21.0.2 (release file): kept: " + jvm21,
           candidate + "22, home " + home("jdk22") + ", version 22 (key name): not a 64-bit image: " + home("jdk22") +
               "\\bin\\server\\jvm.dll",
           candidate + "23, home " + home("jdk23") + ", version 23 (key name): no jvm.dll",
           "runtime found by digit 6: jvm.dll " + jvm21 + ", home \"" + home("jdk21") + "\"",
           "vm option exit (a hook of the launcher)", "vm option -Djava.class.path= with these entries:",
           "class path scenario-app.jar", "class path .\\first.jar", "VM created", "main argument 0: print:traced",
           "main called: corvane/test/ScenarioApp", "main returned", "end: the application's threads have ended, status 0",
           "archive .\\first.jar: unchanged, skipped"}) {
    EXPECT_TRUE(Has(lines, line)) << line;
  }
}

// A trace that cannot be opened (here: in a folder that does not exist) changes nothing of the start.
TEST_F(RuntimeSearch, ATraceFileThatCannotBeOpenedLeavesTheStartAsItIs) {
  const AppFolder app = MakeAppFolder("java-trace");
  RunOptions options;
  const RunResult plain = RunApp(app, "print:before throw:boom", options);
  options.env = {{"CORVANE_TRACE", WindowsPath((app.folder / "missing" / "trace.log").string())}};
  const RunResult traced = RunApp(app, "print:before throw:boom", options);
  EXPECT_EQ(Shown(plain), Texts{"Error: Error invoking method: main(java/lang/String[])"});
  EXPECT_TRUE(plain.exitCode == StatusMinusOne && Has(Lines(plain.output), "out before")) << plain.output;
  EXPECT_EQ(Shown(traced), Shown(plain));
  EXPECT_EQ(traced.exitCode, plain.exitCode);
  EXPECT_EQ(Lines(traced.output), Lines(plain.output));
  EXPECT_FALSE(fs::exists(app.folder / "missing"));
}

}  // namespace
