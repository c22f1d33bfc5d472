// The shipped stub, read back with independent tools (wrestool, objdump): its error dialog, bitmap,
// icon and manifest are in place, and it is a GUI program that needs nothing but Windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "wine_harness.h"

namespace {

std::string Capture(const std::string& tool) {
  std::string out;
  FILE* pipe = popen((tool + " '" + corvane::test::Win64BuildDir() + "/resources/corvane.exe'").c_str(), "r");
  std::array<char, 4096> chunk;
  for (size_t n; pipe != nullptr && (n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0;) out.append(chunk.data(), n);
  if (pipe != nullptr) pclose(pipe);
  return out;
}

// The error dialog's template, byte for byte: 304 x 166 units, titled "Error" in MS Sans Serif 8,
// with OK (the default button, id 1), the icon (1000), the painted message's area (1001), the
// "Details:" label and the read-only, scrolling details box (1002).
TEST(StubResources, ErrorDialogTemplateIsLaidOutExactly) {
  std::string hex;
  for (unsigned char c : Capture("wrestool -x --raw --type=5 --name=1")) hex += "0123456789abcdef"[c >> 4], hex += "0123456789abcdef"[c & 15];
  EXPECT_EQ(hex,
            "c000c880000000000500000000003001a600000000004500720072006f007200000008004d0053002000530061006e0073002000"
            "53006500720069006600000001000150000000008600910032000e000100ffff80004f004b0000000000000003000050000000"
            "000700070000000000e803ffff820000000000000080820050000000002d000700fa002000e903ffff8200000000000000000002"
            "500000000007002b0018000800ffffffff8200440065007400610069006c0073003a000000000000000408b150000000000700"
            "370022015500ea03ffff810000000000");
}

TEST(StubResources, IsAGuiProgramOfWindowsDllsWithSplashIconAndCommonControls) {
  const std::string bitmap = Capture("wrestool -x --raw --type=2 --name=1");
  EXPECT_TRUE(bitmap.size() > 40u && bitmap[0] == 40) << "a BITMAPINFOHEADER starts the bitmap resource";
  EXPECT_FALSE(Capture("wrestool -x --raw --type=14 --name=1").empty()) << "icon group 1";
  EXPECT_NE(Capture("wrestool -x --raw --type=24 --name=1").find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
            std::string::npos);
  const std::string headers = Capture("x86_64-w64-mingw32-objdump -p");
  EXPECT_TRUE(headers.find("pei-x86-64") != std::string::npos && headers.find("(Windows GUI)") != std::string::npos);
  std::vector<std::string> dlls;
  for (size_t at = 0; (at = headers.find("DLL Name: ", at)) != std::string::npos;) {
    at += 10;
    dlls.push_back(headers.substr(at, headers.find('\n', at) - at));
  }
  std::sort(dlls.begin(), dlls.end());
  const std::vector<std::string> windows = {"ADVAPI32.dll", "COMCTL32.dll", "GDI32.dll", "KERNEL32.dll",
                                            "SHELL32.dll", "USER32.dll", "msvcrt.dll"};
  EXPECT_TRUE(!dlls.empty() && std::includes(windows.begin(), windows.end(), dlls.begin(), dlls.end()))
      << testing::PrintToString(dlls);
}

}  // namespace
