#include "runtime/version_rule.h"

#include <cstddef>
#include <cstring>

namespace {

// A field this long was never a version number; it reads as empty, as it always has.
constexpr size_t FieldLengthLimit = 256;
// Each field saturates here, so that a·1000000 + b·10000 + c·100 + d stays far inside 64 bits.
constexpr int64_t FieldMaximum = 2147483647;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int64_t ReadField(const char* digits, size_t length) {
  if (length >= FieldLengthLimit) return 0;
  int64_t value = 0;
  for (size_t i = 0; i < length && IsDigit(digits[i]); ++i) {
    value = value * 10 + (digits[i] - '0');
    if (value >= FieldMaximum) return FieldMaximum;
  }
  return value;
}

// Reads `length` characters of `text`, which need not be terminated there (a piece of a rule list).
VersionRule ParseVersionPiece(const char* text, size_t length) {
  VersionRule rule{VersionGreaterOrEqual, 0};
  size_t at = 0;
  if (length >= 1 && text[0] == '=') {
    rule.op = VersionEqual;
    at = 1;
  } else if (length >= 2 && (text[0] == '>' || text[0] == '<')) {
    // Also for two characters: "<9" means below 9, not the first field of ">=0.9".
    const bool orEqual = text[1] == '=';
    if (text[0] == '>') {
      rule.op = orEqual ? VersionGreaterOrEqual : VersionGreater;
    } else {
      rule.op = orEqual ? VersionLessOrEqual : VersionLess;
    }
    at = orEqual ? 2 : 1;
  }

  static constexpr int64_t Weights[4] = {1000000, 10000, 100, 1};
  for (int field = 0; field < 4 && at < length; ++field) {
    const size_t start = at;
    while (at < length && IsDigit(text[at])) ++at;
    rule.number += ReadField(text + start, at - start) * Weights[field];
    ++at;  // behind the character that ended the field
  }
  return rule;
}

}  // namespace

VersionRule ParseVersion(const char* text) {
  if (text == nullptr) text = "";
  return ParseVersionPiece(text, std::strlen(text));
}

bool SatisfiesRule(int64_t candidate, const VersionRule& rule) {
  switch (rule.op) {
    case VersionGreater:
      return candidate > rule.number;
    case VersionGreaterOrEqual:
      return candidate >= rule.number;
    case VersionEqual:
      return candidate == rule.number;
    case VersionLess:
      return candidate < rule.number;
    case VersionLessOrEqual:
      return candidate <= rule.number;
    default:
      return false;
  }
}

bool VersionAccepted(const char* rules, const char* candidateVersion) {
  const int64_t candidate = ParseVersion(candidateVersion).number;
  if (rules == nullptr) return true;
  // Pieces are read in place; empty pieces (";;", a trailing ";") are no rule.
  const char* piece = rules;
  while (*piece != '\0') {
    const char* end = std::strchr(piece, ';');
    const size_t length = end != nullptr ? static_cast<size_t>(end - piece) : std::strlen(piece);
    if (length > 0 && !SatisfiesRule(candidate, ParseVersionPiece(piece, length))) return false;
    if (end == nullptr) break;
    piece = end + 1;
  }
  return true;
}
