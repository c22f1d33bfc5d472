#include "runtime/version_rule.h"

#include <gtest/gtest.h>

#include <string>

namespace {

template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

// ---------------------------------------------------------------------------------------------
// ParseVersion

struct ParseCase {
  const char* name;
  std::string text;
  int op;
  int64_t number;
};

class VersionParsing : public ::testing::TestWithParam<ParseCase> {};

TEST_P(VersionParsing, GivesOperatorAndWeightedNumber) {
  const ParseCase& c = GetParam();
  const VersionRule rule = ParseVersion(c.text.c_str());
  EXPECT_EQ(rule.op, c.op) << c.text;
  EXPECT_EQ(rule.number, c.number) << c.text;
}

const std::string Nines255(255, '9');
const std::string Nines256(256, '9');
constexpr int64_t Saturated = 2147483647;

INSTANTIATE_TEST_SUITE_P(
    Cases, VersionParsing,
    ::testing::Values(
        // The documented examples.
        ParseCase{"MajorOnly", "17", VersionGreaterOrEqual, 17000000},
        ParseCase{"MajorMinorPatch", "17.0.1", VersionGreaterOrEqual, 17000100},
        ParseCase{"OldStyleTwoFields", "1.8", VersionGreaterOrEqual, 1080000},
        ParseCase{"UnderscoreUpdate", "1.8.0_202", VersionGreaterOrEqual, 1080202},
        ParseCase{"GreaterOrEqual", ">=1.8", VersionGreaterOrEqual, 1080000},
        ParseCase{"LessWithZeroField", "<9.0", VersionLess, 9000000},
        // The other operators.
        ParseCase{"Greater", ">1.8", VersionGreater, 1080000},
        ParseCase{"LessOrEqual", "<=11", VersionLessOrEqual, 11000000},
        ParseCase{"Equal", "=17", VersionEqual, 17000000},
        ParseCase{"EqualAloneIsZero", "=", VersionEqual, 0},
        ParseCase{"EqualWithOneDigit", "=1", VersionEqual, 1000000},
        // Two characters: the operator still counts.
        ParseCase{"TwoCharacterLess", "<9", VersionLess, 9000000},
        ParseCase{"TwoCharacterGreater", ">9", VersionGreater, 9000000},
        ParseCase{"OperatorWithoutNumber", "<=", VersionLessOrEqual, 0},
        ParseCase{"LoneLessIsNoOperator", "<", VersionGreaterOrEqual, 0},
        // Field cutting.
        ParseCase{"Empty", "", VersionGreaterOrEqual, 0},
        ParseCase{"NoDigits", "abc", VersionGreaterOrEqual, 0},
        ParseCase{"FifthFieldIgnored", "1.2.3.4.5", VersionGreaterOrEqual, 1020304},
        ParseCase{"EmptyMiddleField", "1..2", VersionGreaterOrEqual, 1000200},
        ParseCase{"SuffixAfterDigits", "17-ea", VersionGreaterOrEqual, 17000000},
        ParseCase{"BuildSuffix", "1.8.0_202-b08", VersionGreaterOrEqual, 1080202},
        ParseCase{"LeadingBlankEndsTheFirstField", " 17", VersionGreaterOrEqual, 170000},
        ParseCase{"TrailingDot", "11.", VersionGreaterOrEqual, 11000000},
        ParseCase{"FieldsAreNotPositional", "1.100", VersionGreaterOrEqual, 2000000},
        // Past 32 bits, and saturation.
        ParseCase{"MajorPast32Bits", "3000", VersionGreaterOrEqual, 3000000000},
        ParseCase{"LongestFieldSaturates", Nines255, VersionGreaterOrEqual, Saturated * 1000000},
        ParseCase{"FieldOf256CountsAsEmpty", Nines256, VersionGreaterOrEqual, 0},
        ParseCase{"FieldOf256InTheMiddle", "1." + Nines256 + ".3", VersionGreaterOrEqual, 1000300},
        ParseCase{"FieldJustPastInt32Saturates", "<2147483648", VersionLess, Saturated * 1000000},
        ParseCase{"FieldAtInt32Maximum", "0.2147483647", VersionGreaterOrEqual, Saturated * 10000},
        ParseCase{"EveryFieldSaturated", "=" + Nines255 + "." + Nines255 + "." + Nines255 + "." + Nines255,
                  VersionEqual, Saturated * 1010101}),
    CaseName<ParseCase>);

TEST(VersionParsing, NullTextIsAnEmptyRule) {
  const VersionRule rule = ParseVersion(nullptr);
  EXPECT_EQ(rule.op, VersionGreaterOrEqual);
  EXPECT_EQ(rule.number, 0);
}

// ---------------------------------------------------------------------------------------------
// SatisfiesRule

struct SatisfyCase {
  const char* name;
  int op;
  int64_t candidate;
  bool below, equal, above;  // answers for candidate = number - 1, number, number + 1
};

class RuleOperators : public ::testing::TestWithParam<SatisfyCase> {};

TEST_P(RuleOperators, CompareAroundTheNumber) {
  const SatisfyCase& c = GetParam();
  const VersionRule rule{c.op, c.candidate};
  EXPECT_EQ(SatisfiesRule(c.candidate - 1, rule), c.below);
  EXPECT_EQ(SatisfiesRule(c.candidate, rule), c.equal);
  EXPECT_EQ(SatisfiesRule(c.candidate + 1, rule), c.above);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RuleOperators,
    ::testing::Values(SatisfyCase{"Greater", VersionGreater, 17000000, false, false, true},
                      SatisfyCase{"GreaterOrEqual", VersionGreaterOrEqual, 17000000, false, true, true},
                      SatisfyCase{"Equal", VersionEqual, 17000000, false, true, false},
                      SatisfyCase{"Less", VersionLess, 17000000, true, false, false},
                      SatisfyCase{"LessOrEqual", VersionLessOrEqual, 17000000, true, true, false},
                      SatisfyCase{"Past32Bits", VersionGreater, 3000000000, false, false, true},
                      SatisfyCase{"UnknownOperatorRefuses", 7, 17000000, false, false, false},
                      SatisfyCase{"NegativeOperatorRefuses", -1, 17000000, false, false, false}),
    CaseName<SatisfyCase>);

// ---------------------------------------------------------------------------------------------
// VersionAccepted

struct AcceptCase {
  const char* name;
  std::string rules;
  std::string candidate;
  bool accepted;
};

class RuleLists : public ::testing::TestWithParam<AcceptCase> {};

TEST_P(RuleLists, AcceptOnlyWhenEveryRuleHolds) {
  const AcceptCase& c = GetParam();
  EXPECT_EQ(VersionAccepted(c.rules.c_str(), c.candidate.c_str()), c.accepted)
      << "rules \"" << c.rules << "\", candidate \"" << c.candidate << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RuleLists,
    ::testing::Values(
        AcceptCase{"OldRuntimeBelowMinimum", "17", "1.8.0_202", false},
        AcceptCase{"NewerPatchAccepted", "17", "17.0.1", true},
        AcceptCase{"ExactMinimum", "17", "17", true},
        AcceptCase{"RangeAcceptsInside", ">=1.8;<9", "1.8.0_202", true},
        AcceptCase{"RangeRejectsAbove", ">=1.8;<9", "11.0.2", false},
        AcceptCase{"RangeRejectsBelow", ">=1.8;<9", "1.7.0_80", false},
        AcceptCase{"RangeRejectsUpperBound", ">=1.8;<9", "9", false},
        AcceptCase{"ThreeRules", ">=11;<=21;>17", "21", true},
        AcceptCase{"ThreeRulesLastFails", ">=11;<=21;>17", "17", false},
        AcceptCase{"EmptyRulesAcceptAll", "", "1.1", true},
        AcceptCase{"OnlySeparators", ";;", "1.0", true},
        AcceptCase{"TrailingSeparator", "17;", "17.0.1", true},
        AcceptCase{"EmptyPieceBetweenRules", ">=1.8;;<9", "11", false},
        AcceptCase{"TwoCharacterLessBelow", "<9", "1.8", true},
        AcceptCase{"TwoCharacterLessAtBound", "<9", "9", false},
        AcceptCase{"TwoCharacterGreaterAtBound", ">9", "9", false},
        AcceptCase{"TwoCharacterGreaterAbove", ">9", "9.0.1", true},
        AcceptCase{"EqualMatches", "=17", "17", true},
        AcceptCase{"EqualRejectsPatch", "=17", "17.0.1", false},
        AcceptCase{"LessOrEqualAtBound", "<=17", "17", true},
        AcceptCase{"LessOrEqualRejectsPatch", "<=17", "17.0.1", false},
        AcceptCase{"StrictGreaterRejectsEqual", ">17", "17", false},
        AcceptCase{"CandidateOperatorIgnored", "1.8", "<17", true},
        AcceptCase{"LargeMajorAboveMinimum", "2200", "3000", true},
        AcceptCase{"LargeMajorBelowMinimum", "3000", "2200", false},
        AcceptCase{"LargeMajorBelowUpperBound", "<3000", "2200", true},
        AcceptCase{"SaturatedCandidateMeetsSaturatedRule", "=" + Nines255, "99999999999", true},
        AcceptCase{"SaturatedCandidateAboveRealRule", "<99", Nines255, false},
        AcceptCase{"OverlongCandidateFieldReadsAsZero", "1", Nines256, false}),
    CaseName<AcceptCase>);

TEST(RuleLists, NullRulesAcceptAll) { EXPECT_TRUE(VersionAccepted(nullptr, "1.0")); }

TEST(RuleLists, RulesTextIsNotCut) {
  char rules[] = ">=1.8;<9";
  EXPECT_FALSE(VersionAccepted(rules, "11"));
  EXPECT_STREQ(rules, ">=1.8;<9");
}

}  // namespace
