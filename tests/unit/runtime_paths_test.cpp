// The paths a found jvm.dll is loaded with.
#include <gtest/gtest.h>

#include <string>

#include "runtime/runtime_paths.h"

namespace {

struct LoadCase {
  const char* current;
  const char* jvmDll;
  const char* loadPath;  // null: refused
  const char* binFolder;
};

class RuntimePaths : public testing::TestWithParam<LoadCase> {};

TEST_P(RuntimePaths, AreFullBackslashPaths) {
  const LoadCase& c = GetParam();
  char load[PathCapacity] = "unchanged", bin[PathCapacity] = "";
  const bool made = RuntimeLoadPath(c.current, c.jvmDll, load);
  ASSERT_EQ(made, c.loadPath != nullptr) << load;
  if (!made) return;
  EXPECT_STREQ(load, c.loadPath);
  ASSERT_TRUE(RuntimeBinFolder(load, bin));
  EXPECT_STREQ(bin, c.binFolder);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RuntimePaths,
    testing::Values(
        LoadCase{"C:\\app", "jre\\bin\\server\\jvm.dll", "C:\\app\\jre\\bin\\server\\jvm.dll",
                 "C:\\app\\jre\\bin\\server\\jvm.dll\\..\\..\\"},
        LoadCase{"C:\\", "jre\\bin\\server\\jvm.dll", "C:\\jre\\bin\\server\\jvm.dll",
                 "C:\\jre\\bin\\server\\jvm.dll\\..\\..\\"},
        LoadCase{"C:\\app", "D:\\java\\bin\\server\\jvm.dll", "D:\\java\\bin\\server\\jvm.dll",
                 "D:\\java\\bin\\server\\jvm.dll\\..\\..\\"},
        LoadCase{"C:\\app", "\\\\server\\java\\jvm.dll", "\\\\server\\java\\jvm.dll", "\\\\server\\java\\jvm.dll\\..\\..\\"},
        // Slashes, as a user may write them in JvmPath, become backslashes before loading.
        LoadCase{"C:\\app", "jre/bin/server/jvm.dll", "C:\\app\\jre\\bin\\server\\jvm.dll",
                 "C:\\app\\jre\\bin\\server\\jvm.dll\\..\\..\\"},
        LoadCase{"C:\\app", "C:/java/bin/server/jvm.dll", "C:\\java\\bin\\server\\jvm.dll",
                 "C:\\java\\bin\\server\\jvm.dll\\..\\..\\"},
        LoadCase{"C:\\app", "/java/jvm.dll", "\\java\\jvm.dll", "\\java\\jvm.dll\\..\\..\\"}));

TEST(RuntimePaths, RefusePathsThatDoNotFit) {
  char out[PathCapacity];
  const std::string name(PathCapacity - 5, 'x');  // "C:\a\" and the name: 260 characters
  EXPECT_FALSE(RuntimeLoadPath("C:\\a", name.c_str(), out));
  const std::string absolute = "C:\\" + std::string(PathCapacity - 3, 'x');
  EXPECT_FALSE(RuntimeLoadPath("C:\\a", absolute.c_str(), out));
  const std::string nearlyFull = "C:\\" + std::string(PathCapacity - 10, 'x');  // 253 characters and 7
  EXPECT_FALSE(RuntimeBinFolder(nearlyFull.c_str(), out));
  EXPECT_TRUE(RuntimeBinFolder(nearlyFull.substr(1).c_str(), out));
}

}  // namespace
