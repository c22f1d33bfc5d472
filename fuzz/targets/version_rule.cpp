// Java version rules: ParseVersion, SatisfiesRule and VersionAccepted. A rule list of one rule
// must judge like that rule; a version must meet "=", ">=" and "<=" rules of itself and fail "<"
// and ">" ones. Input: the rule text, a zero byte, the candidate's version text.
#include <string>

#include "fuzz_support.h"
#include "runtime/version_rule.h"

namespace {

// Four saturated fields, weighted: the largest number a version can have.
constexpr int64_t LargestVersion = 2147483647LL * (1000000 + 10000 + 100 + 1);

VersionRule Checked(const std::string& text) {
  const VersionRule rule = ParseVersion(text.c_str());
  FUZZ_CHECK(rule.op >= VersionGreater && rule.op <= VersionLessOrEqual);
  FUZZ_CHECK(rule.number >= 0 && rule.number <= LargestVersion);
  return rule;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto pieces = Pieces(data, size, 2);
  const std::string rules = CText(pieces[0]), candidate = CText(pieces[1]);

  const VersionRule rule = Checked(rules);
  const int64_t version = Checked(candidate).number;
  const bool accepted = VersionAccepted(rules.c_str(), candidate.c_str());
  if (!rules.empty() && rules.find(';') == std::string::npos) {
    FUZZ_CHECK(accepted == SatisfiesRule(version, rule));
  }
  if (rules.empty()) FUZZ_CHECK(accepted);

  // The candidate against rules of its own version (an operator in front would change the rule).
  if (!candidate.empty() && candidate.find(';') == std::string::npos &&
      std::string("=<>").find(candidate[0]) == std::string::npos) {
    FUZZ_CHECK(VersionAccepted(("=" + candidate).c_str(), candidate.c_str()));
    FUZZ_CHECK(VersionAccepted((">=" + candidate).c_str(), candidate.c_str()));
    FUZZ_CHECK(VersionAccepted(("<=" + candidate).c_str(), candidate.c_str()));
    FUZZ_CHECK(!VersionAccepted(("<" + candidate).c_str(), candidate.c_str()));
    FUZZ_CHECK(!VersionAccepted((">" + candidate).c_str(), candidate.c_str()));
    // Every rule of a list must hold: adding a rule the version fails turns the answer to no.
    FUZZ_CHECK(!VersionAccepted((rules + ";>" + candidate).c_str(), candidate.c_str()));
  }
  return 0;
}
