// What each digit of JvmSearchOrder searches, in order.
#include "runtime/search_order.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A step as a reader checks it: the source, the registry keys it reads and the layout it prefers.
std::string Describe(const SearchStep& step) {
  switch (step.source) {
    case SearchSource::PathList:
      return "JvmPath";
    case SearchSource::JavaHomeVariable:
      return "JAVA_HOME";
    case SearchSource::InstalledRuntimes:
      return "installed";
    case SearchSource::RegistryRows: {
      std::string text;
      for (int row = step.firstRow; row < step.firstRow + step.rowCount; ++row) {
        text += std::string(RuntimeRegistryKeys[row]) + " + ";
      }
      return text + (step.preferredSubpath != nullptr ? step.preferredSubpath : "-");
    }
  }
  return "?";
}

struct DigitCase {
  char digit;
  std::vector<std::string> steps;
};

class SearchOrder : public testing::TestWithParam<DigitCase> {};

TEST_P(SearchOrder, EachDigitSearchesItsPlacesInOrder) {
  const DigitCase& c = GetParam();
  size_t count = 99;
  const SearchStep* steps = SearchStepsOf(c.digit, &count);
  std::vector<std::string> described;
  for (size_t i = 0; i < count; ++i) {
    const SearchStep& step = steps[i];
    if (step.source == SearchSource::RegistryRows) {
      ASSERT_GE(step.firstRow, 0);
      ASSERT_LE(step.firstRow + step.rowCount, RuntimeRegistryRows);
    }
    described.push_back(Describe(step));
  }
  EXPECT_EQ(described, c.steps);
}

const std::string JavaSoftJre = "Software\\JavaSoft\\JRE + ";
const std::string JRockit = "Software\\JRockit\\Java Runtime Environment + ";

INSTANTIATE_TEST_SUITE_P(
    Table, SearchOrder,
    testing::Values(DigitCase{'0', {"JvmPath"}},
                    DigitCase{'1',
                              {JavaSoftJre + "Software\\JavaSoft\\Java Runtime Environment + "
                                             "Software\\IBM\\Java2 Runtime Environment + -",
                               JavaSoftJre + "jre\\bin\\client\\jvm.dll", JavaSoftJre + "jre\\bin\\server\\jvm.dll"}},
                    DigitCase{'2',
                              {JRockit + "jre\\bin\\client\\jvm.dll",
                               "Software\\IBM\\Java Development Kit + jre\\bin\\jrockit\\jvm.dll"}},
                    DigitCase{'3', {JRockit + "jre\\bin\\server\\jvm.dll"}},
                    DigitCase{'4', {JRockit + "Software\\JavaSoft\\Java Development Kit + jre\\bin\\classic\\jvm.dll"}},
                    DigitCase{'5', {"JAVA_HOME"}}, DigitCase{'6', {"installed"}}, DigitCase{'7', {"installed"}},
                    DigitCase{'8', {"installed"}}, DigitCase{'9', {"installed"}},
                    // Anything else names no place and is skipped.
                    DigitCase{'a', {}}, DigitCase{' ', {}}, DigitCase{'\0', {}}, DigitCase{'/', {}},
                    DigitCase{':', {}}));

}  // namespace
