#include "launcher/second_instance.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/text.h"

namespace {

struct Case {
  const char* name;
  const char* leading;
  std::vector<std::string> arguments;
  std::vector<std::string> expected;
};

class SecondInstanceCall : public testing::TestWithParam<Case> {};

TEST_P(SecondInstanceCall, PutsTheArgumentsAfterTheSplitTokensUnchanged) {
  const Case& c = GetParam();
  std::vector<char*> args;
  for (const std::string& a : c.arguments) args.push_back(const_cast<char*>(a.c_str()));
  int total = -1;
  char** combined = SecondInstanceArguments(c.leading, static_cast<int>(args.size()), args.data(), &total);
  ASSERT_NE(combined, nullptr);
  std::vector<std::string> got(combined, combined + total);
  EXPECT_EQ(got, c.expected);
  FreeArgumentArray(total, combined);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, SecondInstanceCall,
    testing::Values(Case{"ShowAndTwoArguments", "-show", {"a", "b"}, {"-show", "a", "b"}},
                    // A path with blanks, quotes or backslashes reaches main as it came.
                    Case{"ArgumentWithBlanksStaysOne", "-show", {"C:\\My Files\\a.txt"}, {"-show", "C:\\My Files\\a.txt"}},
                    Case{"QuotesInArgumentsAreKept", "-open", {"say \"hi\"", "x\\"}, {"-open", "say \"hi\"", "x\\"}},
                    Case{"LeadingTextIsSplitAsACommandLine", "-a \"b c\" d\\\"e", {"z"}, {"-a", "b c", "d\"e", "z"}},
                    Case{"NoLeadingText", "", {"only"}, {"only"}},
                    Case{"NoArguments", "-show", {}, {"-show"}},
                    Case{"Nothing", "", {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
