// The paths the driver fixes at start: the executable's folder and name, and the temporary folder.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/start_paths.h"

namespace {

struct FolderCase {
  const char* path;
  const char* directory;
  const char* appName;
};

class ExecutablePaths : public testing::TestWithParam<FolderCase> {};

TEST_P(ExecutablePaths, GiveTheFolderAndTheName) {
  const FolderCase& c = GetParam();
  char directory[PathCapacity];
  ExecutableDirectory(c.path, directory);
  EXPECT_STREQ(directory, c.directory);
  HeapText name(DeriveAppName(c.path));
  EXPECT_STREQ(name.get(), c.appName);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ExecutablePaths,
    testing::Values(FolderCase{"D:\\Tools\\Viewer.exe", "D:\\Tools", "Viewer"},
                    FolderCase{"C:\\a\\b.c.exe", "C:\\a", "b.c"},
                    // The root, not the drive's current directory.
                    FolderCase{"C:\\Viewer.exe", "C:\\", "Viewer"},
                    FolderCase{"\\\\server\\share\\x.exe", "\\\\server\\share", "x"},
                    // A dot in a folder's name starts no extension.
                    FolderCase{"C:\\my.dir\\app", "C:\\my.dir", "app"}, FolderCase{"C:\\x\\.exe", "C:\\x", ""},
                    FolderCase{"plain", "plain", "plain"}));

// The system's temporary folder for the tests: "T:\tmp\" unless a row says there is none.
const char* SystemTempFolder = "T:\\tmp\\";
bool SystemTemp(char* folder) {
  if (SystemTempFolder == nullptr) return false;
  std::strcpy(folder, SystemTempFolder);
  return true;
}

struct TempCase {
  int mode;
  std::string stored;
  const char* systemTemp;  // null: the system has none
  TempDirNaming naming;
  std::string tempDir;
};

class TempDirs : public testing::TestWithParam<TempCase> {};

TEST_P(TempDirs, FollowTheModeAndTakeOnlyAPlainHexName) {
  const TempCase& c = GetParam();
  SystemTempFolder = c.systemTemp;
  char out[PathCapacity];
  std::strcpy(out, "stale");
  EXPECT_EQ(ComposeTempDir(c.mode, c.stored.c_str(), SystemTemp, out), c.naming);
  EXPECT_EQ(std::string(out), c.tempDir);
}

const char* const Tmp = "T:\\tmp\\";
const std::string LongestName(PathCapacity - 1 - 7, 'A');  // with "T:\tmp\" exactly 259 characters

INSTANTIATE_TEST_SUITE_P(
    Table, TempDirs,
    testing::Values(TempCase{0, "A1B2", Tmp, TempDirNaming::Named, "."},
                    TempCase{1, "A1B2", Tmp, TempDirNaming::Named, ".\\A1B2"},
                    TempCase{2, "A1B2", Tmp, TempDirNaming::Named, "T:\\tmp\\A1B2"},
                    TempCase{7, "a1b2", Tmp, TempDirNaming::Named, "T:\\tmp\\a1b2"},
                    TempCase{-1, "A1B2", Tmp, TempDirNaming::Named, "T:\\tmp\\A1B2"},
                    // The program's own folder needs no name, so any stored text will do.
                    TempCase{0, "..", Tmp, TempDirNaming::Named, "."},
                    // Only an edited executable stores anything but hex; it names no folder.
                    TempCase{1, "..\\..\\Windows", Tmp, TempDirNaming::NotHex, ""},
                    TempCase{2, "", Tmp, TempDirNaming::NotHex, ""},
                    TempCase{2, "C:\\Users", Tmp, TempDirNaming::NotHex, ""},
                    TempCase{2, "A1B2\\..", Tmp, TempDirNaming::NotHex, ""},
                    TempCase{2, "AB.CD", Tmp, TempDirNaming::NotHex, ""},
                    TempCase{2, "AB G", Tmp, TempDirNaming::NotHex, ""},
                    TempCase{2, "AB\x01", Tmp, TempDirNaming::NotHex, ""},
                    TempCase{2, "deadBEEF7", Tmp, TempDirNaming::Named, "T:\\tmp\\deadBEEF7"},
                    TempCase{2, "A1B2", nullptr, TempDirNaming::NoSystemFolder, ""},
                    // A mode that does not need the system's folder never asks for it.
                    TempCase{1, "A1B2", nullptr, TempDirNaming::Named, ".\\A1B2"},
                    TempCase{2, LongestName, Tmp, TempDirNaming::Named, Tmp + LongestName},
                    TempCase{2, LongestName + "A", Tmp, TempDirNaming::TooLong, ""}));

}  // namespace
