// The service's recovery and account settings: checked before anything is created. Portable.
#pragma once

#include <cstddef>
#include <cstdint>

// The failure actions hold at most this many restarts; the last one repeats for later failures.
constexpr size_t MaxRestartDelays = 8;

struct RestartDelays {
  uint32_t milliseconds[MaxRestartDelays];
  size_t count;  // 0: no failure actions
};

// "5000;30000;60000": whole milliseconds separated by ";", "" for none. Null when the list is
// right, else why not (`out` then holds no delays).
const char* ParseRestartDelays(const char* text, RestartDelays* out);

enum class AccountKind { LocalSystem, BuiltIn, User };

// "" (LocalSystem), "NT AUTHORITY\LocalService", "NT AUTHORITY\NetworkService" (any letter case),
// or a user account ".\name" or "DOMAIN\name", which alone takes a password. Null when the account
// could be right, else why it cannot.
const char* CheckServiceAccount(const char* account, bool hasPassword, AccountKind* kind);
