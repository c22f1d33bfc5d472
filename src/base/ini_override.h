// Lets an INI file beside the executable override a few compiled settings.
#pragma once

// Applies section "Application Configuration" of IniFile to LaunchConfig. A missing file changes
// nothing and is not reported.
void ApplyIniOverrides();
