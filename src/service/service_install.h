// Entering the executable as a Windows service and removing it again.
#pragma once

// 1 installed, 0 not installed, -1 undetermined (the thread's last error says why).
int QueryServiceInstalled(const char* name);
// 0 success; -1 failure, already reported. `password` (null: none given) is for a user account in
// ServiceAccount; without one it is asked for on the console. Never stored or traced.
int InstallService(const char* name, const char* description, const char* password);
// 0 removed; 1 stopped (waiting up to 30 seconds) and removed; -1 failure, already reported.
int UninstallService(const char* name);

// Characters of a password, terminator included.
constexpr unsigned PasswordCapacity = 256;
// Asks for the password of `account` on the console (the launcher's own, or that of the program
// that started it) without echoing it, into `out` (PasswordCapacity). False, reported, when there
// is no console to ask on or no line comes.
bool AskPassword(const char* account, char* out);
