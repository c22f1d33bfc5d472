#include "runtime/search_order.h"

const char* const RuntimeRegistryKeys[] = {
    "Software\\JavaSoft\\JRE",
    "Software\\JavaSoft\\Java Runtime Environment",
    "Software\\IBM\\Java2 Runtime Environment",
    "Software\\JRockit\\Java Runtime Environment",
    "Software\\JavaSoft\\Java Development Kit",
    "Software\\IBM\\Java Development Kit",
};
const int RuntimeRegistryRows = sizeof(RuntimeRegistryKeys) / sizeof(RuntimeRegistryKeys[0]);

namespace {

constexpr char ClientSubpath[] = "jre\\bin\\client\\jvm.dll";
constexpr char ServerSubpath[] = "jre\\bin\\server\\jvm.dll";

constexpr SearchStep PathListSteps[] = {{SearchSource::PathList, 0, 0, nullptr}};
// The first three rows by their own values, then JavaSoft's JRE in the client and server layouts.
constexpr SearchStep Digit1[] = {{SearchSource::RegistryRows, 0, 3, nullptr},
                                 {SearchSource::RegistryRows, 0, 1, ClientSubpath},
                                 {SearchSource::RegistryRows, 0, 1, ServerSubpath}};
constexpr SearchStep Digit2[] = {{SearchSource::RegistryRows, 3, 1, ClientSubpath},
                                 {SearchSource::RegistryRows, 5, 1, "jre\\bin\\jrockit\\jvm.dll"}};
constexpr SearchStep Digit3[] = {{SearchSource::RegistryRows, 3, 1, ServerSubpath}};
constexpr SearchStep Digit4[] = {{SearchSource::RegistryRows, 3, 2, "jre\\bin\\classic\\jvm.dll"}};
constexpr SearchStep JavaHomeSteps[] = {{SearchSource::JavaHomeVariable, 0, 0, nullptr}};
constexpr SearchStep InstalledSteps[] = {{SearchSource::InstalledRuntimes, 0, 0, nullptr}};

template <size_t N>
const SearchStep* Steps(const SearchStep (&steps)[N], size_t* count) {
  *count = N;
  return steps;
}

}  // namespace

const SearchStep* SearchStepsOf(char digit, size_t* count) {
  switch (digit) {
    case '0':
      return Steps(PathListSteps, count);
    case '1':
      return Steps(Digit1, count);
    case '2':
      return Steps(Digit2, count);
    case '3':
      return Steps(Digit3, count);
    case '4':
      return Steps(Digit4, count);
    case '5':
      return Steps(JavaHomeSteps, count);
    case '6':
    case '7':
    case '8':
    case '9':
      return Steps(InstalledSteps, count);
    default:
      *count = 0;
      return nullptr;
  }
}
