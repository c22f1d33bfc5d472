#include "base/setting_decode.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "base/text.h"

namespace {

TEST(DecodeFlag, OnlyALeadingZeroIsFalse) {
  struct Case {
    const char* text;
    bool expected;
  } cases[] = {{"0", false}, {"01", false}, {"0abc", false}, {"1", true},  {"", true},
               {"no", true}, {" 0", true},  {"<null>", true}, {"false", true}};
  for (const Case& c : cases) EXPECT_EQ(DecodeFlag(c.text), c.expected) << '"' << c.text << '"';
}

TEST(DecodeNumber, ReadsLikeAtoiAndSaturates) {
  struct Case {
    const char* text;
    int32_t expected;
  } cases[] = {{"3", 3},
               {"  42abc", 42},
               {"\t-7", -7},
               {"+5", 5},
               {"", 0},
               {"<null>", 0},
               {"abc", 0},
               {"- 5", 0},
               {"2147483647", INT32_MAX},
               {"2147483648", INT32_MAX},
               {"99999999999999999999", INT32_MAX},
               {"-2147483648", INT32_MIN},
               {"-99999999999999999999", INT32_MIN}};
  for (const Case& c : cases) EXPECT_EQ(DecodeNumber(c.text), c.expected) << '"' << c.text << '"';
}

struct IniCase {
  const char* entry;
  const char* expected;
};

class IniName : public testing::TestWithParam<IniCase> {};

TEST_P(IniName, SubstitutesTheApplicationName) {
  HeapText name(SubstituteIniName(GetParam().entry, "Viewer"));
  ASSERT_NE(name, nullptr);
  EXPECT_STREQ(name.get(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Entries, IniName,
                         testing::Values(IniCase{"%APPNAME%.ini", "Viewer.ini"},
                                         IniCase{"%appname%.cfg", "Viewer.cfg"},
                                         IniCase{"%HOME%x.ini", "x.ini"},
                                         IniCase{"%APPNAME", "APPNAME"},
                                         IniCase{"%X%", "%X%"},  // nothing left: the entry stays
                                         IniCase{"conf\\%AppName%-%APPNAME%.ini", "conf\\Viewer-Viewer.ini"},
                                         IniCase{"a%%b.ini", "ab.ini"},
                                         IniCase{"plain.ini", "plain.ini"},
                                         IniCase{"", ""},
                                         IniCase{"%APPNAMEX%.ini", ".ini"}));

TEST(IniName, HandlesALongApplicationNameInEveryReference) {
  const std::string app(300, 'q');
  HeapText name(SubstituteIniName("%APPNAME%%APPNAME%%APPNAME%", app.c_str()));
  EXPECT_EQ(std::string(name.get()), app + app + app);
}

TEST(PriorityClass, OnlyZeroToFiveChangeThePriority) {
  EXPECT_EQ(PriorityClassIndex(0), 0);
  EXPECT_EQ(PriorityClassIndex(3), 3);
  EXPECT_EQ(PriorityClassIndex(5), 5);
  EXPECT_EQ(PriorityClassIndex(6), -1);
  EXPECT_EQ(PriorityClassIndex(-1), -1);
  EXPECT_EQ(PriorityClassIndex(INT32_MIN), -1);
}

}  // namespace
