// The options the VM is created with: the hooks, then the configured options and the class path with
// its folders' and the carried archives.
#include "runtime/jvm_options.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(ExtendedClassPath, PutsTheCarriedArchivesAfterTheConfiguredEntries) {
  const struct {
    const char *configured, *carried, *expected;
  } cases[] = {{"a.jar", "T\\x.jar;T\\y.jar;", "a.jar;T\\x.jar;T\\y.jar"}, {"a.jar;", "T\\x.jar;", "a.jar;T\\x.jar"},
               {"", "T\\x.jar;T\\y.jar;", "T\\x.jar;T\\y.jar"}, {"a.jar;b", "", "a.jar;b"}, {"a.jar;", nullptr, "a.jar;"},
               {"", "", ""}};
  for (const auto& c : cases) {
    HeapText result(ExtendClassPath(c.configured, c.carried));
    ASSERT_NE(result, nullptr);
    EXPECT_STREQ(result.get(), c.expected) << c.configured;
  }
}

// Folders for the tests: every entry that starts with "dir" holds two archives; "dirBad" cannot be
// listed.
bool IsTestFolder(const char* entry) { return std::strncmp(entry, "dir", 3) == 0; }
bool CollectTestArchives(TextBuffer* classPath, const char* folder) {
  if (std::strcmp(folder, "dirBad") == 0) return false;
  for (const char* name : {"\\a.jar;", "\\sub\\b.zip;"}) {
    AppendText(classPath, folder);
    AppendText(classPath, name);
  }
  return true;
}

TEST(OptionText, IsTheOptionsThenTheClassPathInQuotes) {
  const struct { const char *jvmOptions, *classPath; OptionAssembly result; const char* text; } cases[] = {
      {"", "", OptionAssembly::Assembled, ""},
      {"-Xmx1g -Dx=1", "", OptionAssembly::Assembled, "-Xmx1g -Dx=1"},
      {"", "a.jar", OptionAssembly::Assembled, " \"-Djava.class.path=a.jar\""},
      {"-Xmx1g", "a.jar;b.jar", OptionAssembly::Assembled, "-Xmx1g \"-Djava.class.path=a.jar;b.jar\""},
      {"", ";a.jar;;b.jar;", OptionAssembly::Assembled, " \"-Djava.class.path=a.jar;b.jar\""},  // empty entries left out
      {"-Xss1m", ";;", OptionAssembly::Assembled, "-Xss1m"},
      {"", "dirA;x.jar", OptionAssembly::Assembled, " \"-Djava.class.path=dirA;dirA\\a.jar;dirA\\sub\\b.zip;x.jar\""},
      // A final backslash would escape the closing quote; "\." names the same folder.
      {"", "lib\\", OptionAssembly::Assembled, " \"-Djava.class.path=lib\\.\""},
      {"-Dh=%JAVA_HOME%", "%APPDIR%\\x.jar", OptionAssembly::Assembled, "-Dh=%JAVA_HOME% \"-Djava.class.path=%APPDIR%\\x.jar\""},
      {"", "a.jar;dirBad;b.jar", OptionAssembly::FolderFailed, nullptr}};  // a folder that cannot be listed stops it
  for (const auto& c : cases) {
    ScopedTextBuffer out;
    const OptionAssembly result = AssembleJvmOptionText(c.jvmOptions, c.classPath, {IsTestFolder, CollectTestArchives}, &out);
    EXPECT_EQ(result, c.result) << c.classPath;
    if (c.text != nullptr) EXPECT_STREQ(out.text != nullptr ? out.text : "", c.text) << c.classPath;
  }
}

jint JNICALL TestPrint(FILE*, const char*, va_list) { return 0; }
void JNICALL TestExit(jint) {}
void JNICALL TestAbort() {}

// The hooks come first, so that the VM's complaint about any configured option goes through them.
TEST(OptionList, HasTheHooksInTheirOrderThenTheSplitOptions) {
  const JvmHooks hooks{TestPrint, TestExit, TestAbort};
  struct Case {
    const char* text;
    std::vector<std::string> options;
  } cases[] = {{"-Xmx1g \"-Djava.class.path=a b.jar\"", {"-Xmx1g", "-Djava.class.path=a b.jar"}},
               {"", {}},
               {" \"-Djava.class.path=lib\\.\"", {"-Djava.class.path=lib\\."}}};
  for (const Case& c : cases) {
    JvmOptionList list{};
    ASSERT_TRUE(BuildJvmOptionList(c.text, hooks, &list)) << c.text;
    ASSERT_EQ(list.count, static_cast<int>(c.options.size()) + 3) << c.text;
    for (size_t i = 0; i < c.options.size(); ++i) {
      EXPECT_EQ(list.options[3 + i].optionString, c.options[i]) << c.text;
      EXPECT_EQ(list.options[3 + i].extraInfo, nullptr) << c.text;
    }
    const std::pair<const char*, void*> hooksWanted[] = {{"vfprintf", reinterpret_cast<void*>(TestPrint)},
                                                         {"abort", reinterpret_cast<void*>(TestAbort)},
                                                         {"exit", reinterpret_cast<void*>(TestExit)}};
    for (int i = 0; i < 3; ++i) {
      EXPECT_STREQ(list.options[i].optionString, hooksWanted[i].first);
      EXPECT_EQ(list.options[i].extraInfo, hooksWanted[i].second);
    }
  }
}

}  // namespace
