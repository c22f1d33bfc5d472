// The shipped stub, read back with independent tools (wrestool, objdump): its error dialog, bitmap,
// icon and manifest are in place, and it is a GUI program that loads nothing but the kernel and the C
// runtime at start.
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

TEST(StubResources, IsAGuiProgramLoadingOnlyKernelAndCRuntimeAtStartWithSplashIconAndCommonControls) {
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
  // Loaded at process start: what every start needs. The rest is loaded when first called.
  EXPECT_EQ(dlls, (std::vector<std::string>{"KERNEL32.dll", "msvcrt.dll"}));
}

}  // namespace
