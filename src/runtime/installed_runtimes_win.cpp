// Digits 6 to 9: the runtimes that today's installers leave behind. Java 9 and later and the
// OpenJDK distributions write keys of their own, often with a home and no RuntimeLib; per-user
// installs write them under HKEY_CURRENT_USER; unzipped runtimes are only on PATH. Every candidate
// must pass the version rules and have a jvm.dll this 64-bit process can load, and the highest
// version of a digit wins, since people expect the newest matching runtime, not the first in
// registry order. Keys are read in the registry view of this 64-bit process, which is where 64-bit
// installers write; a 32-bit installer's keys (the other view) name runtimes we could not load.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "base/handles_win.h"
#include "base/launch_config.h"
#include "base/list_entries.h"
#include "base/text.h"
#include "base/trace.h"
#include "runtime/installed_runtimes_win.h"
#include "runtime/runtime_candidate.h"
#include "runtime/runtime_lookup_win.h"

namespace {

// A key whose subkeys are installed runtimes, one per version or product.
struct InstallerKey {
  const char* path;
  // Paths below a runtime's subkey that hold its values ("" the subkey itself; null ends the list).
  const char* valueKeys[3];
  const char* homeValue;
  // Whether "MajorVersion" and "MinorVersion" may state the version (else the subkey's name does).
  bool versionValues;
};

const InstallerKey JavaSoftKeys[] = {
    {"Software\\JavaSoft\\JDK", {""}, "JavaHome", false},
    {"Software\\JavaSoft\\JRE", {""}, "JavaHome", false},
};

// The MSI keys of the OpenJDK distributions, from their installers' documentation.
const InstallerKey DistributionKeys[] = {
    {"Software\\Eclipse Adoptium\\JDK", {"hotspot\\MSI", "openj9\\MSI"}, "Path", false},
    {"Software\\Eclipse Adoptium\\JRE", {"hotspot\\MSI", "openj9\\MSI"}, "Path", false},
    {"Software\\Eclipse Foundation\\JDK", {"hotspot\\MSI", "openj9\\MSI"}, "Path", false},
    {"Software\\Eclipse Foundation\\JRE", {"hotspot\\MSI", "openj9\\MSI"}, "Path", false},
    {"Software\\AdoptOpenJDK\\JDK", {"hotspot\\MSI", "openj9\\MSI"}, "Path", false},
    {"Software\\AdoptOpenJDK\\JRE", {"hotspot\\MSI", "openj9\\MSI"}, "Path", false},
    {"Software\\Microsoft\\JDK", {"hotspot\\MSI"}, "Path", false},
    {"Software\\Semeru\\JDK", {"openj9\\MSI"}, "Path", false},
    {"Software\\Semeru\\JRE", {"openj9\\MSI"}, "Path", false},
    {"Software\\Azul Systems\\Zulu", {""}, "InstallationPath", true},
    {"Software\\BellSoft\\Liberica", {""}, "InstallationPath", true},
};

// Where a runtime of Java 9 and later keeps its VM.
const char* const ServerSubpath = "bin\\server\\jvm.dll";

constexpr DWORD ShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE OpenForReading(const char* path, DWORD access) {
  return CreateFileA(path, access, ShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

enum class JvmImage { Loadable, NotAmd64, Unreadable };

// Whether the file is an image this 64-bit process can load. A 32-bit jvm.dll, or a file that is
// no image, would be found and then fail with a load error that does not say why.
JvmImage CheckJvmImage(const char* path) {
  UniqueFile file(OpenForReading(path, GENERIC_READ));
  if (!file.Valid()) return JvmImage::Unreadable;
  unsigned char dosHeader[DosHeaderSize];
  DWORD count = 0;
  if (!ReadFile(file.Get(), dosHeader, sizeof(dosHeader), &count, nullptr)) return JvmImage::Unreadable;
  const uint32_t offset = ImageHeaderOffset(dosHeader, count);
  if (offset == 0) return JvmImage::NotAmd64;
  LARGE_INTEGER at;
  at.QuadPart = offset;
  unsigned char signature[ImageSignatureSize];
  count = 0;
  if (!SetFilePointerEx(file.Get(), at, nullptr, FILE_BEGIN) ||
      !ReadFile(file.Get(), signature, sizeof(signature), &count, nullptr)) {
    return JvmImage::Unreadable;
  }
  return ImageMachine(signature, count) == ImageMachineAmd64 ? JvmImage::Loadable : JvmImage::NotAmd64;
}

bool IsLoadableJvm(const char* path) { return CheckJvmImage(path) == JvmImage::Loadable; }

// Why a home offers no jvm.dll this process can load, for the trace: the file a plain look finds
// (into `path`, PathCapacity characters) and what is wrong with it. Costs a second look, so only a
// trace asks.
const char* MissingJvmVerdict(const char* home, const char* runtimeLib, char* path) {
  if (!CopyIfFits(path, PathCapacity, runtimeLib) || !CanOpenFile(path)) {
    if (!FindRuntimeUnderHome(home, ServerSubpath, path, PathCapacity, nullptr)) return "no jvm.dll";
  }
  return CheckJvmImage(path) == JvmImage::Unreadable ? "unreadable: " : "not a 64-bit image: ";
}

// The JAVA_VERSION of home\release.
bool ReleaseVersionOf(const char* home, char* out, size_t size) {
  char path[PathCapacity];
  if (JoinPath(path, home, "release") == nullptr) return false;
  UniqueFile file(OpenForReading(path, GENERIC_READ));
  if (!file.Valid()) return false;
  // A release file holds a few hundred bytes; of a longer one, only the whole lines read count.
  char text[4096];
  DWORD count = 0;
  if (!ReadFile(file.Get(), text, sizeof(text), &count, nullptr)) return false;
  return ReleaseJavaVersion(text, count, count < sizeof(text), out, size);
}

// The home as the runtime's folder, without trailing backslashes (a drive's root keeps its own),
// so that %JAVA_HOME%\... names one path whichever form the installer wrote.
bool TrimHome(const char* text, char* home) {
  size_t length = std::strlen(text);
  while (length > 3 && text[length - 1] == '\\') --length;
  if (length == 0 || length >= PathCapacity) return false;
  std::memcpy(home, text, length);
  home[length] = '\0';
  return true;
}

// Where a candidate was named, for the trace: a registry key ("HKLM\\", path) or a PATH folder.
struct CandidateOrigin {
  const char* kind;
  const char* name;
};

// One installed runtime: its home, the RuntimeLib its key names ("" for none) and the version its
// key states ("" for none; the home's release file, where there is one, is the runtime's own word
// and counts instead). Kept when it passes the rules, outranks the choice so far and has a jvm.dll
// this process can load: its RuntimeLib, else one under the home as the old rows look for it.
void ConsiderRuntime(RuntimeChoice* choice, const CandidateOrigin& origin, const char* homeText,
                     const char* runtimeLib, const char* keyVersion, const char* keySource) {
  char home[PathCapacity];
  if (!TrimHome(homeText, home)) {
    Trace({"candidate ", origin.kind, origin.name, ", home \"", homeText, "\": names no folder"});
    return;
  }
  char released[PathCapacity];
  const bool fromRelease = ReleaseVersionOf(home, released, sizeof(released));
  const char* version = fromRelease ? released : keyVersion;
  int64_t rank = 0;
  const char* verdict = "refused by the version rule";
  char jvm[PathCapacity] = "";
  if (RankCandidateVersion(LaunchConfig.JvmVersion, version, &rank)) {
    const size_t libLength = std::strlen(runtimeLib);
    if (!OutranksChoice(*choice, rank)) {
      verdict = "passed over: not newer than the runtime kept";
    } else if ((libLength > 0 && libLength < sizeof(jvm) && IsLoadableJvm(runtimeLib) &&
                CopyIfFits(jvm, sizeof(jvm), runtimeLib)) ||
               FindRuntimeUnderHome(home, ServerSubpath, jvm, sizeof(jvm), IsLoadableJvm)) {
      verdict = OfferRuntime(choice, rank, jvm, home) ? "kept: " : "path too long: ";
    } else if (Tracing()) {
      verdict = MissingJvmVerdict(home, runtimeLib, jvm);
    }
  }
  Trace({"candidate ", origin.kind, origin.name, ", home ", home, ", version ", version[0] != '\0' ? version : "unknown",
         " (", fromRelease ? "release file" : version[0] != '\0' ? keySource : "none stated", "): ", verdict, jvm});
}

// A version number value, stored as a number or as text.
bool ReadVersionValue(HKEY parent, const char* subkey, const char* name, char* out, size_t size) {
  char text[32];
  DWORD type = REG_NONE;
  DWORD length = sizeof(text);
  if (RegGetValueA(parent, subkey, name, RRF_RT_REG_DWORD | RRF_RT_REG_SZ, &type, text, &length) != ERROR_SUCCESS) {
    return false;
  }
  if (type == REG_DWORD) {
    DWORD number;
    std::memcpy(&number, text, sizeof(number));
    // By hand: the C runtime's formatted output would add more to the stub than this whole search.
    char digits[12];
    size_t count = 0;
    do {
      digits[count++] = static_cast<char>('0' + number % 10);
      number /= 10;
    } while (number != 0);
    if (count >= size) return false;
    for (size_t i = 0; i < count; ++i) out[i] = digits[count - 1 - i];
    out[count] = '\0';
    return true;
  }
  const size_t textLength = std::strlen(text);  // RegGetValueA terminates strings
  if (textLength == 0 || textLength >= size) return false;
  std::memcpy(out, text, textLength + 1);
  return true;
}

// "Major.Minor" (or "Major") from the values of a runtime's key.
bool VersionFromValues(HKEY parent, const char* subkey, char* out, size_t size) {
  if (!ReadVersionValue(parent, subkey, "MajorVersion", out, size)) return false;
  char minor[32];
  const size_t length = std::strlen(out);
  if (ReadVersionValue(parent, subkey, "MinorVersion", minor, sizeof(minor)) &&
      length + 1 + std::strlen(minor) < size) {
    out[length] = '.';
    std::strcpy(out + length + 1, minor);
  }
  return true;
}

// The runtime whose values are in `parent`\name\valueKey.
void ConsiderInstallerSubkey(RuntimeChoice* choice, const char* rootName, HKEY parent, const char* name,
                             const char* valueKey, const InstallerKey& installer) {
  char subkey[RegistryKeyCapacity];
  const size_t nameLength = std::strlen(name);
  const size_t valueKeyLength = std::strlen(valueKey);
  if (nameLength + 1 + valueKeyLength >= sizeof(subkey)) return;
  std::memcpy(subkey, name, nameLength + 1);
  if (valueKeyLength > 0) {
    subkey[nameLength] = '\\';
    std::memcpy(subkey + nameLength + 1, valueKey, valueKeyLength + 1);
  }

  char keyName[PathCapacity] = "";
  if (Tracing()) JoinPath(keyName, installer.path, subkey);
  const CandidateOrigin origin{rootName, keyName};
  char home[PathCapacity];
  const int homeRead = QueryRegistryString(parent, subkey, installer.homeValue, home, sizeof(home));
  if (homeRead != 0) {
    // A key that is not there names no candidate; one without a readable home names one we cannot use.
    if (homeRead > 0) Trace({"candidate ", rootName, keyName, ": value ", installer.homeValue, " unreadable"});
    return;
  }
  char runtimeLib[PathCapacity];
  if (QueryRegistryString(parent, subkey, "RuntimeLib", runtimeLib, sizeof(runtimeLib)) != 0) runtimeLib[0] = '\0';
  char version[RegistryKeyCapacity];
  const bool fromValues = installer.versionValues && VersionFromValues(parent, subkey, version, sizeof(version));
  if (!fromValues && !KeyNameVersion(name, version, sizeof(version))) version[0] = '\0';
  ConsiderRuntime(choice, origin, home, runtimeLib, version, fromValues ? "MajorVersion value" : "key name");
}

void ConsiderInstallerKeys(RuntimeChoice* choice, HKEY root, const InstallerKey* keys, size_t count) {
  const char* rootName = root == HKEY_CURRENT_USER ? "HKCU\\" : "HKLM\\";
  for (size_t k = 0; k < count; ++k) {
    const InstallerKey& installer = keys[k];
    UniqueKey parent;
    if (RegOpenKeyExA(root, installer.path, 0, KEY_READ, parent.Receive()) != ERROR_SUCCESS) continue;
    for (DWORD index = 0;; ++index) {
      char name[RegistryKeyCapacity];
      DWORD nameLength = sizeof(name);
      const LONG status = RegEnumKeyExA(parent.Get(), index, name, &nameLength, nullptr, nullptr, nullptr, nullptr);
      if (status == ERROR_MORE_DATA) continue;  // longer than a key name can be: no candidate
      if (status != ERROR_SUCCESS) break;
      for (const char* valueKey : installer.valueKeys) {
        if (valueKey == nullptr) break;
        ConsiderInstallerSubkey(choice, rootName, parent.Get(), name, valueKey, installer);
      }
    }
  }
}

// The full path of java.exe with links resolved (a folder on PATH often holds only links to the
// runtime's own bin\java.exe), without the "\\?\" prefix.
bool ResolveJavaExe(const char* java, char* out) {
  UniqueFile file(OpenForReading(java, FILE_READ_ATTRIBUTES));
  if (!file.Valid()) return false;
  char resolved[PathCapacity + 8];
  DWORD length = GetFinalPathNameByHandleA(file.Get(), resolved, sizeof(resolved), FILE_NAME_NORMALIZED);
  const char* path = resolved;
  if (length == 0 || length >= sizeof(resolved)) {
    length = GetFullPathNameA(java, sizeof(resolved), resolved, nullptr);
    if (length == 0 || length >= sizeof(resolved)) return false;
  } else if (std::strncmp(resolved, "\\\\?\\UNC\\", 8) == 0) {
    path = resolved + 6;
    resolved[6] = '\\';  // \\?\UNC\server\share becomes \\server\share
  } else if (std::strncmp(resolved, "\\\\?\\", 4) == 0) {
    path = resolved + 4;
  }
  const size_t pathLength = std::strlen(path);
  if (pathLength >= PathCapacity) return false;
  std::memmove(out, path, pathLength + 1);
  return true;
}

// The home of a java.exe on PATH: the folder above its bin folder. A java.exe elsewhere belongs to
// no runtime layout we know.
bool HomeOfJavaExe(const char* folder, char* home) {
  char java[PathCapacity];
  if (JoinPath(java, folder, "java.exe") == nullptr || !ResolveJavaExe(java, home)) return false;
  char* name = std::strrchr(home, '\\');
  if (name == nullptr) return false;
  *name = '\0';
  char* bin = std::strrchr(home, '\\');
  if (bin == nullptr || lstrcmpiA(bin + 1, "bin") != 0) return false;
  *bin = '\0';
  return home[0] != '\0';
}

void ConsiderPathEntries(RuntimeChoice* choice) {
  const DWORD needed = GetEnvironmentVariableA("PATH", nullptr, 0);
  if (needed == 0) return;
  char* value = static_cast<char*>(std::malloc(needed));
  if (value == nullptr) return;
  const DWORD length = GetEnvironmentVariableA("PATH", value, needed);
  if (length != 0 && length < needed) {  // else gone or grown in between
    ForEachListEntry(value, [choice](const char* entry) {
      char folder[PathCapacity];
      char* out = folder;
      for (const char* in = entry; *in != '\0'; ++in) {
        if (*in != '"') *out++ = *in;
      }
      *out = '\0';
      char home[PathCapacity];
      if (folder[0] != '\0' && HomeOfJavaExe(folder, home)) {
        ConsiderRuntime(choice, {"java.exe in PATH folder ", folder}, home, "", "", "");
      }
      return false;  // every entry is a candidate
    });
  }
  std::free(value);
}

}  // namespace

bool SearchInstalledRuntimes(char digit, RuntimeFound* found) {
  RuntimeChoice choice{};
  switch (digit) {
    case '6':
      ConsiderInstallerKeys(&choice, HKEY_LOCAL_MACHINE, JavaSoftKeys, sizeof(JavaSoftKeys) / sizeof(JavaSoftKeys[0]));
      break;
    case '7':
      ConsiderInstallerKeys(&choice, HKEY_LOCAL_MACHINE, DistributionKeys,
                            sizeof(DistributionKeys) / sizeof(DistributionKeys[0]));
      break;
    case '8':
      ConsiderInstallerKeys(&choice, HKEY_CURRENT_USER, JavaSoftKeys, sizeof(JavaSoftKeys) / sizeof(JavaSoftKeys[0]));
      ConsiderInstallerKeys(&choice, HKEY_CURRENT_USER, DistributionKeys,
                            sizeof(DistributionKeys) / sizeof(DistributionKeys[0]));
      break;
    case '9':
      ConsiderPathEntries(&choice);
      break;
    default:
      return false;
  }
  if (!choice.chosen) return false;
  std::memcpy(found->jvmDll, choice.jvmDll, std::strlen(choice.jvmDll) + 1);
  std::memcpy(found->home, choice.home, std::strlen(choice.home) + 1);
  return true;
}
