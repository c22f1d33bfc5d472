// Java version rules: "17", ">=1.8", "<9", several separated by ";" that must all hold. Versions
// are read as up to four numeric fields a.b.c.d (1.8.0_202 is 1, 8, 0, 202) and compared as one
// number a*1000000 + b*10000 + c*100 + d. Portable.
#pragma once

#include <cstdint>

// Operator codes.
enum VersionOperator : int {
  VersionGreater = 0,
  VersionGreaterOrEqual = 1,  // the default
  VersionEqual = 2,
  VersionLess = 3,
  VersionLessOrEqual = 4,
};

struct VersionRule {
  int op;
  int64_t number;  // computed in 64 bits, each field saturated, so that nothing overflows
};

VersionRule ParseVersion(const char* text);

// Whether a candidate's version number satisfies one rule.
bool SatisfiesRule(int64_t candidate, const VersionRule& rule);

// Whether the version text of a candidate (its operator is ignored) satisfies every rule of the
// ";"-separated rule text; an empty rule text accepts every version.
bool VersionAccepted(const char* rules, const char* candidateVersion);
