#include "service/service_options.h"

#include <cstring>

#include "base/text.h"

namespace {

constexpr char Authority[] = "NT AUTHORITY\\";

}  // namespace

const char* ParseRestartDelays(const char* text, RestartDelays* out) {
  out->count = 0;
  if (*text == '\0') return nullptr;
  size_t count = 0;
  for (const char* item = text;; ++item) {
    if (*item < '0' || *item > '9') {
      return "must be whole milliseconds separated by \";\", such as \"5000;30000;60000\"";
    }
    if (count == MaxRestartDelays) return "holds more than 8 delays";
    uint64_t value = 0;
    for (; *item >= '0' && *item <= '9'; ++item) {
      value = value * 10 + static_cast<uint64_t>(*item - '0');
      if (value > UINT32_MAX) return "holds a delay over 4294967295 milliseconds";
    }
    out->milliseconds[count++] = static_cast<uint32_t>(value);
    if (*item == '\0') break;
    if (*item != ';') return "must be whole milliseconds separated by \";\", such as \"5000;30000;60000\"";
  }
  out->count = count;
  return nullptr;
}

const char* CheckServiceAccount(const char* account, bool hasPassword, AccountKind* kind) {
  *kind = AccountKind::LocalSystem;
  if (*account == '\0') return hasPassword ? "a password needs a user account" : nullptr;
  if (std::strchr(account, '"') != nullptr) return "an account may not hold a double quote";
  const char* separator = std::strchr(account, '\\');
  if (separator == nullptr || separator == account || separator[1] == '\0' ||
      std::strchr(separator + 1, '\\') != nullptr) {
    return "an account is \".\\name\", \"DOMAIN\\name\", \"NT AUTHORITY\\LocalService\" or "
           "\"NT AUTHORITY\\NetworkService\"";
  }
  if (EqualsIgnoringCase(account, "NT AUTHORITY\\LocalService") ||
      EqualsIgnoringCase(account, "NT AUTHORITY\\NetworkService")) {
    *kind = AccountKind::BuiltIn;
    return hasPassword ? "a built-in account takes no password" : nullptr;
  }
  if (EqualsIgnoringCase(account, static_cast<size_t>(separator + 1 - account), Authority)) {
    return "NT AUTHORITY offers only LocalService and NetworkService (LocalSystem is the empty account)";
  }
  *kind = AccountKind::User;
  return nullptr;
}
