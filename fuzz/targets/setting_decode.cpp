// Setting texts as the launcher reads them: flags, numbers (atoi's reading, saturated at 32 bits)
// and the INI file name with its %APPNAME%. Input: the setting text, a zero byte, the program name.
#include <cstring>
#include <string>

#include "base/setting_decode.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size), setting = input.c_str();
  const std::string appName = setting.size() < size ? input.c_str() + setting.size() + 1 : "";
  const char* text = setting.c_str();
  FUZZ_CHECK(DecodeFlag(text) == (text[0] != '0'));
  const long long wide = std::strtoll(text, nullptr, 10);  // the C library's reading, clamped
  FUZZ_CHECK(DecodeNumber(text) == (wide > INT32_MAX ? INT32_MAX : wide < INT32_MIN ? INT32_MIN : wide));
  char* name = SubstituteIniName(text, appName.c_str());
  FUZZ_CHECK(name != nullptr && std::strlen(name) <= setting.size() * (1 + appName.size()));
  std::free(name);
  return 0;
}
