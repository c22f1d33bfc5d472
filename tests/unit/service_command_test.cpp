#include "service/service_command.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct CommandCase {
  const char* name;
  bool withSettings;
  std::string serviceName, description;
  bool manualStart;
  ServiceTextResult result;
  std::string line;
};

class ServiceCommandLine : public testing::TestWithParam<CommandCase> {};

TEST_P(ServiceCommandLine, QuotesWhatTheServiceGetsBack) {
  const CommandCase& c = GetParam();
  char out[ServiceTextCapacity];
  std::memset(out, '#', sizeof(out));
  EXPECT_EQ(BuildServiceCommandLine(out, "C:\\Apps\\Demo.exe", "-startlauncherinservicemode", c.withSettings,
                                    c.serviceName.c_str(), c.description.c_str(), c.manualStart),
            c.result);
  EXPECT_EQ(std::string(out), c.line);
  EXPECT_LT(std::string(out).size(), ServiceTextCapacity);
}

const std::string Prefix = "\"C:\\Apps\\Demo.exe\" -startlauncherinservicemode";
// ` "Demo" "` before the description and `" 1` after it: with a description of
// 271 - Prefix - 12 characters the line takes the whole buffer.

INSTANTIATE_TEST_SUITE_P(
    Cases, ServiceCommandLine,
    testing::Values(
        CommandCase{"PathAndSwitchOnly", false, "Demo", "Runs the demo", false, ServiceTextResult::Built, Prefix},
        CommandCase{"SettingsOnTheLine", true, "Demo", "Runs the demo", true, ServiceTextResult::Built,
                    Prefix + " \"Demo\" \"Runs the demo\" 0"},
        CommandCase{"AutomaticStartIsOne", true, "Demo", "", false, ServiceTextResult::Built, Prefix + " \"Demo\" \"\" 1"},
        // Without the settings on the line, nothing of them can split it.
        CommandCase{"QuotesHarmlessWhenNotOnTheLine", false, "De\"mo", "a\\", false, ServiceTextResult::Built, Prefix},
        CommandCase{"QuoteInTheName", true, "De\"mo", "x", false, ServiceTextResult::Unsafe, ""},
        CommandCase{"BackslashEndingTheDescription", true, "Demo", "C:\\", false, ServiceTextResult::Unsafe, ""},
        CommandCase{"FitsExactly", true, "Demo", std::string(271 - Prefix.size() - 12, 'd'), false,
                    ServiceTextResult::Built, Prefix + " \"Demo\" \"" + std::string(271 - Prefix.size() - 12, 'd') + "\" 1"},
        CommandCase{"OneCharacterTooLong", true, "Demo", std::string(272 - Prefix.size() - 12, 'd'), false,
                    ServiceTextResult::TooLong, ""}),
    [](const testing::TestParamInfo<CommandCase>& info) { return std::string(info.param.name); });

TEST(ServiceKeyPath, RefusesWhatDoesNotFit) {
  char out[ServiceTextCapacity];
  const std::string prefix = "SYSTEM\\CurrentControlSet\\Services\\";
  EXPECT_TRUE(BuildServiceKeyPath(out, prefix.c_str(), std::string(271 - prefix.size(), 'n').c_str()));
  EXPECT_EQ(std::string(out).size(), 271u);
  EXPECT_FALSE(BuildServiceKeyPath(out, prefix.c_str(), std::string(272 - prefix.size(), 'n').c_str()));
  EXPECT_STREQ(out, "");
}

struct DependencyCase {
  const char* name;
  const char* names;
  std::string list;  // with its NULs; "" for no list
};

class DependencyList : public testing::TestWithParam<DependencyCase> {};

TEST_P(DependencyList, IsDoubleNulTerminatedWithoutEmptyItems) {
  size_t length = 0;
  bool failed = true;
  char* list = BuildDependencyList(GetParam().names, &length, &failed);
  EXPECT_FALSE(failed);
  EXPECT_EQ(list == nullptr ? std::string() : std::string(list, length), GetParam().list);
  std::free(list);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DependencyList,
    testing::Values(DependencyCase{"Two", "Tcpip;Dnscache", std::string("Tcpip\0Dnscache\0\0", 16)},
                    DependencyCase{"One", "Tcpip", std::string("Tcpip\0\0", 7)},
                    DependencyCase{"None", "", ""},
                    DependencyCase{"OnlySeparators", ";;", ""},
                    // An empty item is skipped, not the end of the list.
                    DependencyCase{"EmptyItemsSkipped", ";a;;b;", std::string("a\0b\0\0", 5)}),
    [](const testing::TestParamInfo<DependencyCase>& info) { return std::string(info.param.name); });

}  // namespace
