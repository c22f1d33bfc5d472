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

}  // namespace
