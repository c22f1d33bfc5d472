// %NAME% references (ExpandReferences, the scanner behind ExpandVariables) with every value taken
// from the input, and the AVAILRAM/TOTALRAM arithmetic. Input: the text, then zero-separated the
// values of JAVA_HOME, APPDIR and of environment variables, and the memory figures.
#include <algorithm>
#include <cstring>
#include <string>

#include "base/text.h"
#include "base/variable_expansion.h"
#include "fuzz_support.h"

namespace {

std::string appDir, environment, memory;

bool WriteAppDir(char* value, size_t capacity) {
  if (appDir.size() >= capacity) return false;
  std::memcpy(value, appDir.c_str(), appDir.size() + 1);
  return true;
}

// A value that fills the scratch area to its end without a terminator: the scanner must cut it.
bool WriteUnterminated(char* value, size_t capacity) {
  std::memset(value, 'd', capacity);
  return true;
}

// Names that start with an upper-case letter are set; the rest are not.
char* Environment(const char* name) {
  if (name[0] < 'A' || name[0] > 'Z') return nullptr;
  return CopyText(environment.c_str());
}

bool Memory(uint64_t* available, uint64_t* total) {
  if (memory.size() < 16) return false;
  std::memcpy(available, memory.data(), 8);
  std::memcpy(total, memory.data() + 8, 8);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto pieces = Pieces(data, size, 5);
  const std::string text = CText(pieces[0]), javaHome = CText(pieces[1]);
  appDir = CText(pieces[2]);
  environment = CText(pieces[3]);
  memory = pieces[4];

  VariableLookups lookups{};
  lookups.javaHome = javaHome.c_str();
  lookups.appDir = WriteAppDir;
  lookups.date = WriteUnterminated;
  lookups.memory = Memory;
  lookups.environment = Environment;

  char* expanded = ExpandReferences(text.c_str(), lookups);
  FUZZ_CHECK(expanded != nullptr);
  const size_t references = static_cast<size_t>(std::count(text.begin(), text.end(), '%')) / 2;
  if (references == 0) FUZZ_CHECK(text == expanded);
  // No value is longer than the longest of its sources (the memory figures have at most 11 digits).
  const size_t longest = std::max({javaHome.size(), appDir.size(), environment.size(), size_t{260}});
  FUZZ_CHECK(std::strlen(expanded) <= text.size() + references * longest);
  std::free(expanded);

  const int percentage = MemoryPercentage(text.c_str());
  FUZZ_CHECK(percentage >= 1 && percentage <= 100);
  if (memory.size() >= 8) {
    uint64_t bytes;
    std::memcpy(&bytes, memory.data(), 8);
    const int32_t megabytes = MemoryMegabytes(percentage, bytes);
    FUZZ_CHECK(megabytes >= 64);
    // Never more than all of the memory (the floor of 64 aside).
    FUZZ_CHECK(megabytes == 64 || static_cast<uint64_t>(megabytes) <= bytes / (1024 * 1024));
  }
  return 0;
}
