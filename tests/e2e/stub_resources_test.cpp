// The shipped stub, read back with independent tools (wrestool, objdump): its string tables hold this
// build's settings and messages, its dialog, bitmap, icon and manifest are in place, and it depends on
// nothing but Windows.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "wine_harness.h"

namespace {

using corvane::test::Win64BuildDir;

std::string StubPath() { return Win64BuildDir() + "/resources/corvane.exe"; }

// Output of a shell command, binary-safe.
std::string Capture(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  std::array<char, 4096> chunk;
  size_t n;
  while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) out.append(chunk.data(), n);
  pclose(pipe);
  return out;
}

std::string Resource(const std::string& type, const std::string& name, const std::string& language = "") {
  std::string command = "wrestool -x --raw --type=" + type + " --name=" + name;
  if (!language.empty()) command += " --language=" + language;
  return Capture(command + " '" + StubPath() + "'");
}

// The 16 entries of a string-table block, as UTF-8 (this table is ASCII).
std::vector<std::string> BlockEntries(const std::string& block) {
  std::vector<std::string> entries;
  size_t p = 0;
  while (entries.size() < 16 && p + 2 <= block.size()) {
    const size_t n = static_cast<unsigned char>(block[p]) | (static_cast<unsigned char>(block[p + 1]) << 8);
    p += 2;
    std::string text;
    for (size_t i = 0; i < n && p + 1 < block.size(); ++i, p += 2) text += block[p];
    entries.push_back(text);
  }
  return entries;
}

std::map<int, std::string> StringTable(int firstBlock, int lastBlock, const std::string& language) {
  std::map<int, std::string> table;
  for (int block = firstBlock; block <= lastBlock; ++block) {
    const auto entries = BlockEntries(Resource("6", std::to_string(block), language));
    for (size_t i = 0; i < entries.size(); ++i) {
      if (!entries[i].empty()) table[(block - 1) * 16 + static_cast<int>(i)] = entries[i];
    }
  }
  return table;
}

// Hex digits XORed with "Vq7Kd3Rm9Xw1Lp5T" and a zero byte, repeating.
std::string Unscramble(const std::string& hex) {
  static const std::string key = std::string("Vq7Kd3Rm9Xw1Lp5T") + '\0';
  std::string plain;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    const char byte = static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    plain += static_cast<char>(byte ^ key[(i / 2) % key.size()]);
  }
  return plain;
}

TEST(StubResources, SettingsTableHoldsThisBuildsValues) {
  const std::map<int, std::string> expected = {
      {1001, "17"},
      {1002, "jre\\bin\\server\\jvm.dll"},
      {1003, "-Dderby.stream.error.file=logs/derby.log"},
      {1004, "Lumera.jar"},
      {1005, "012345"},
      {1006, "0"},
      {1007, "2"},
      {1008, "-install"},
      {1009, "-uninstall"},
      {1010, "-startlauncherinservicemode"},
      {1011, "<null>"},
      {1013, "<null>"},
      {1014, "<null>"},
      {1015, "0"},
      {1016, "0"},
      {1017, "<null>"},
      {1018, "<null>"},
      {1019, "<null>"},
      {1020, "<null>"},
      {1021, "0"},
      {1022, "0"},
      {1023, "0"},
      {1024, "<null>"},
      {1025, "1"},
      {1026, "1"},
      {1027, "logs\\stdout.log"},
      {1028, "logs\\stderr.log"},
      {1029, "0"},
      {1030, "Loading application..."},
      {1031, "1"},
      {1032, "0"},
      {1033, "3"},
      {1034, "0"},
      {1035, "<null>"},
      {1036, "0"},
      {1037, "0"},
      {1038, "<null>"},
      {1039, "1"},
      {1040, "<null>"},
      {1041, "<null>"},
      {1042, "0"},
      {1043, "0"},
  };
  auto table = StringTable(63, 66, "0");
  ASSERT_EQ(table.count(1012), 1u);
  const std::string stored = table[1012];
  table.erase(1012);
  EXPECT_EQ(table, expected);
  EXPECT_EQ(stored.size(), 110u);
  EXPECT_EQ(stored.find_first_not_of("0123456789ABCDEF"), std::string::npos) << stored;
  EXPECT_EQ(Unscramble(stored), "com.lumera.desktop.application.launch.LumeraDesktopMain");
}

TEST(StubResources, MessageTableIsEnglishAustralia) {
  const std::map<int, std::string> expected = {
      {1, "An instance of this program is already running."},
      {2, "Error accessing file/directory: %s"},
      {3, "Error writing to file/directory: %s"},
      {4, "Unable to locate suitable Java Runtime (min %s) on this machine."},
      {5, "Unable to load JVM: %s"},
      {6, "Unable to locate JNI interfaces in %s"},
      {7, "Unable to create JVM instance using %s"},
      {8, "Unable to attach thread to the JVM."},
      {9, "Error locating class: %s"},
      {10, "Error locating method: %s"},
      {11, "Error instantiating object: %s"},
      {12, "Error assigning string argument: %s"},
      {13, "Error invoking method: %s"},
      {14, "Service installed: %s"},
      {15, "Service uninstalled: %s"},
      {16, "Service is already installed: %s"},
      {17, "The %s service has started."},
      {18, "The %s service has stopped."},
      {19, "The %s service failed to start."},
      {20, "The %s service has timed out during a stop request and will be terminated."},
      {21, "This program can only be run as a service."},
  };
  EXPECT_EQ(StringTable(1, 2, "3081"), expected);
  EXPECT_TRUE(Resource("6", "1", "0").empty()) << "messages must not be language neutral";
}

TEST(StubResources, ErrorDialogTemplateIsLaidOutExactly) {
  const std::string dialog = Resource("5", "1");
  ASSERT_EQ(dialog.size(), 222u);
  auto word = [&](size_t at) {
    return static_cast<unsigned>(static_cast<unsigned char>(dialog[at]) |
                                 (static_cast<unsigned char>(dialog[at + 1]) << 8));
  };
  auto dword = [&](size_t at) { return word(at) | (word(at + 2) << 16); };
  EXPECT_EQ(dword(0), 0x80C800C0u);  // style
  EXPECT_EQ(word(8), 5u);            // items
  EXPECT_EQ(word(14), 304u);
  EXPECT_EQ(word(16), 166u);
  // Items: style, position and size, id, class ordinal.
  struct Item {
    size_t offset;
    uint32_t style;
    unsigned x, y, cx, cy, id, cls;
  } items[] = {{64, 0x50010001, 134, 145, 50, 14, 1, 0x80},   {96, 0x50000003, 7, 7, 0, 0, 1000, 0x82},
               {124, 0x50008280, 45, 7, 250, 32, 1001, 0x82}, {152, 0x50020000, 7, 43, 24, 8, 0xFFFF, 0x82},
               {196, 0x50B10804, 7, 55, 290, 85, 1002, 0x81}};
  for (const Item& item : items) {
    EXPECT_EQ(dword(item.offset), item.style) << item.offset;
    EXPECT_EQ(word(item.offset + 8), item.x);
    EXPECT_EQ(word(item.offset + 10), item.y);
    EXPECT_EQ(word(item.offset + 12), item.cx);
    EXPECT_EQ(word(item.offset + 14), item.cy);
    EXPECT_EQ(word(item.offset + 16), item.id);
    EXPECT_EQ(word(item.offset + 18), 0xFFFFu);
    EXPECT_EQ(word(item.offset + 20), item.cls) << item.offset;
  }
}

TEST(StubResources, CarriesSplashIconAndCommonControlsManifest) {
  const std::string bitmap = Resource("2", "1");
  ASSERT_GT(bitmap.size(), 40u);
  EXPECT_EQ(bitmap[0], 40) << "a BITMAPINFOHEADER starts the bitmap resource";
  EXPECT_FALSE(Resource("14", "1").empty()) << "icon group 1";
  const std::string manifest = Resource("24", "1");
  EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""), std::string::npos)
      << manifest;
}

TEST(StubResources, IsAStaticGuiProgramOfWindowsDllsOnly) {
  const std::string headers = Capture("x86_64-w64-mingw32-objdump -p '" + StubPath() + "'");
  EXPECT_NE(headers.find("pei-x86-64"), std::string::npos);
  EXPECT_NE(headers.find("(Windows GUI)"), std::string::npos);
  const std::vector<std::string> allowed = {"KERNEL32.dll", "USER32.dll", "GDI32.dll", "ADVAPI32.dll",
                                            "COMCTL32.dll", "SHELL32.dll", "msvcrt.dll"};
  size_t at = 0, count = 0;
  while ((at = headers.find("DLL Name: ", at)) != std::string::npos) {
    at += 10;
    const std::string dll = headers.substr(at, headers.find('\n', at) - at);
    EXPECT_NE(std::find(allowed.begin(), allowed.end(), dll), allowed.end()) << dll;
    ++count;
  }
  EXPECT_GT(count, 0u);
}

}  // namespace
