// Entering the executable as a Windows service and removing it again.
#pragma once

// 1 installed, 0 not installed, -1 undetermined (the thread's last error says why).
int QueryServiceInstalled(const char* name);
// 0 success; -1 failure, already reported.
int InstallService(const char* name, const char* description);
// 0 success; -1 failure, already reported.
int UninstallService(const char* name);
