// Shared by the builder tests: files, shell commands, a scratch folder per test, the win64 build.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "error.h"

namespace corvane::builder {
namespace fs = std::filesystem;

inline Bytes Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << "cannot read " << path;
  return Bytes(std::istreambuf_iterator<char>(in), {});
}
inline void Write(const fs::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
inline Bytes FromText(const std::string& text) { return Bytes(text.begin(), text.end()); }
inline std::string Quote(const fs::path& path) { return "'" + path.string() + "'"; }

// A shell command's status and output (standard error joined to it).
struct Ran { int status = -1; std::string output; };
inline Ran Shell(const std::string& command) {
  Ran ran;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return ran;
  char chunk[4096];
  for (size_t n; (n = fread(chunk, 1, sizeof(chunk), pipe)) > 0;) ran.output.append(chunk, n);
  const int status = pclose(pipe);
  ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return ran;
}
inline Ran Tool(const std::string& arguments) { return Shell(Quote(CORVANE_BUILD_TOOL) + " " + arguments); }

// A folder of the running test's own, emptied at its start.
inline fs::path TestDir() {
  const auto* test = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(test->test_suite_name()) + "." + test->name();
  for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  const fs::path dir = fs::path(CORVANE_TEST_TMP) / name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

inline fs::path Win64Dir() { return std::getenv("CORVANE_WIN64_DIR") ? std::getenv("CORVANE_WIN64_DIR") : ""; }
inline fs::path Stub() { return Win64Dir() / "resources/corvane.exe"; }
inline fs::path Source(const std::string& relative) { return fs::path(CORVANE_SOURCE_DIR) / relative; }
}  // namespace corvane::builder
