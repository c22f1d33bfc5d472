// ApplyIniOverrides: the INI file named by IniFile, read through the system's profile functions.
#include <windows.h>

#include "base/ini_override.h"
#include "base/ini_values.h"
#include "base/launch_config.h"
#include "base/text.h"
#include "base/trace.h"
#include "base/variables.h"

namespace {

size_t ReadProfileValue(void* context, const char* key, char* value, size_t capacity) {
  const char* path = static_cast<const char*>(context);
  return GetPrivateProfileStringA(IniSection, key, "", value, static_cast<DWORD>(capacity), path);
}

}  // namespace

void ApplyIniOverrides() {
  const char* iniFile = LaunchConfig.IniFile;
  if (iniFile == nullptr || iniFile[0] == '\0') return;
  if (!CanOpenFile(iniFile)) {
    Trace({"ini file ", iniFile, ": cannot be opened, no setting changed"});
    return;
  }
  // The profile functions look for a bare name in the Windows folder, so they get the full path: the
  // current directory (the executable's at this point) joined with the name, or the name itself when
  // it is absolute already. A path that does not fit is not cut into another file's name.
  char path[PathCapacity];
  const DWORD length = GetFullPathNameA(iniFile, sizeof(path), path, nullptr);
  if (length == 0 || length >= sizeof(path)) {
    Trace({"ini file ", iniFile, ": its full path is too long, no setting changed"});
    return;
  }
  Trace({"ini file ", path});
  ApplyIniValues(&EditLaunchConfig(), ReadProfileValue, path, ExpandVariables);
}
