// Reading the string table of the executable into LaunchConfig.
#pragma once

// A setting's text (malloc'd), converted from UTF-16 with the ANSI code page: "" for "<null>", for
// an absent entry, or when nothing could be read; null when memory runs out.
char* LoadConfigString(int id);

// A message text (malloc'd), converted from UTF-16 with the ANSI code page, with "\n" escapes turned
// into line breaks; "" when its block is missing, the entry does not fit its block, or it cannot be
// converted.
char* LoadMessageString(int id);

// Fills LaunchConfig from the string table (not the INI override) and loads every message but 2;
// applies the priority class. Ends the process when memory runs out.
void LoadLaunchConfig(const char* appName);
