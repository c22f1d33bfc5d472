// Setting texts as the launcher reads them: flags, numbers (atoi's reading, saturated at 32 bits)
// and the INI file name with its %APPNAME%. Input: the setting text, a zero byte, the program name.
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "base/setting_decode.h"
#include "fuzz_support.h"

namespace {

// What atoi would give if it saturated: the C library's strtoll, clamped to 32 bits.
int32_t SaturatedAtoi(const char* text) {
  const long long value = std::strtoll(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// The INI name rules written plainly: %APPNAME% (any case) becomes the program name, any other
// %NAME% and "%%" go, an unclosed "%" goes with the rest kept; nothing left gives the entry itself.
std::string ExpectedIniName(const std::string& entry, const std::string& appName) {
  std::string out;
  size_t at = 0;
  for (;;) {
    const size_t open = entry.find('%', at);
    if (open == std::string::npos) {
      out += entry.substr(at);
      break;
    }
    out += entry.substr(at, open - at);
    const size_t close = entry.find('%', open + 1);
    if (close == std::string::npos) {
      out += entry.substr(open + 1);
      break;
    }
    std::string name = entry.substr(open + 1, close - open - 1);
    for (char& c : name) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    if (name == "APPNAME") out += appName;
    at = close + 1;
  }
  return out.empty() ? entry : out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto pieces = Pieces(data, size, 2);
  const std::string text = CText(pieces[0]), appName = CText(pieces[1]);

  FUZZ_CHECK(DecodeFlag(text.c_str()) == (text.empty() || text[0] != '0'));
  FUZZ_CHECK(DecodeNumber(text.c_str()) == SaturatedAtoi(text.c_str()));

  char* name = SubstituteIniName(text.c_str(), appName.c_str());
  FUZZ_CHECK(name != nullptr);
  FUZZ_CHECK(name == ExpectedIniName(text, appName));
  std::free(name);

  const int index = PriorityClassIndex(DecodeNumber(text.c_str()));
  FUZZ_CHECK(index >= -1 && index <= 5);
  return 0;
}
