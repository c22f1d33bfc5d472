// The stored main class. DescrambleText reads any text into its fixed area and must leave it
// terminated inside; ScrambleText's output must read back as the text it was made from.
#include <cstring>
#include <string>

#include "base/scramble.h"
#include "base/start_paths.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = CText(std::string(reinterpret_cast<const char*>(data), size));

  const char* plain = DescrambleText(text.c_str());
  FUZZ_CHECK(plain != nullptr);
  FUZZ_CHECK(std::memchr(plain, '\0', ScrambleAreaSize) != nullptr);

  // The input as a main class: at most ScrambleAreaSize - 1 bytes are accepted.
  std::string stored(2 * ScrambleAreaSize + 2, 'x');
  const bool scrambled = ScrambleText(text.c_str(), stored.data(), stored.size());
  FUZZ_CHECK(scrambled == (text.size() <= ScrambleAreaSize - 1));
  if (!scrambled) {
    FUZZ_CHECK(stored[0] == '\0');
    return 0;
  }
  const std::string hex = stored.c_str();
  FUZZ_CHECK(hex.size() == 2 * text.size());
  FUZZ_CHECK(text.empty() || IsPlainHexName(hex.c_str()));
  FUZZ_CHECK(DescrambleText(hex.c_str()) == text);

  // An area one byte short of the stored form is refused.
  std::string tight(2 * text.size(), 'x');
  FUZZ_CHECK(!ScrambleText(text.c_str(), tight.data(), tight.size()) || tight.empty());
  return 0;
}
