#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "base/text.h"

namespace {

// A scratch directory under the temporary folder with one subdirectory, one file, and a directory
// whose name really is "%APPDIR%", so that only the "%" rule can make it read as "not examined".
class ClassifyPathTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, temp);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, static_cast<DWORD>(MAX_PATH));
    root_ = std::string(temp) + "corvane-path-test-" + std::to_string(GetCurrentProcessId());
    ASSERT_TRUE(CreateDirectoryA(root_.c_str(), nullptr)) << GetLastError();
    ASSERT_TRUE(CreateDirectoryA(Directory().c_str(), nullptr)) << GetLastError();
    ASSERT_TRUE(CreateDirectoryA(VariableNamedDirectory().c_str(), nullptr)) << GetLastError();
    HANDLE file = CreateFileA(File().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << GetLastError();
    CloseHandle(file);
  }

  void TearDown() override {
    DeleteFileA(File().c_str());
    RemoveDirectoryA(VariableNamedDirectory().c_str());
    RemoveDirectoryA(Directory().c_str());
    RemoveDirectoryA(root_.c_str());
  }

  std::string Directory() const { return root_ + "\\dir"; }
  std::string VariableNamedDirectory() const { return root_ + "\\%APPDIR%"; }
  std::string File() const { return root_ + "\\file.txt"; }
  std::string Missing() const { return root_ + "\\missing"; }

  std::string root_;
};

TEST_F(ClassifyPathTest, TellsDirectoriesFilesAndMissingPathsApart) {
  struct Case {
    std::string path;
    int expected;
  };
  const Case cases[] = {
      {Directory(), 1},
      {Directory() + "\\", 1},
      {File(), 0},
      {Missing(), -1},
      {Missing() + "\\deeper", -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClassifyPath(c.path.c_str()), c.expected) << c.path;
  }
}

TEST_F(ClassifyPathTest, PathWithPercentIsNotExamined) {
  const std::string path = VariableNamedDirectory();
  // The directory exists: without the rule the answer would be 1.
  const DWORD attributes = GetFileAttributesA(path.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  ASSERT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_EQ(ClassifyPath(path.c_str()), 0);
  // Nor is a missing path that holds one.
  EXPECT_EQ(ClassifyPath((Missing() + "\\%JAVA_HOME%").c_str()), 0);
}

TEST(ClassifyPath, NullPathNamesNothing) { EXPECT_EQ(ClassifyPath(nullptr), -1); }

}  // namespace
