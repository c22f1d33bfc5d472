// What the Windows-side tests share: a record of what the screen and the event log would have shown
// (the fakes are in reports_test.cpp), scratch folders (through the "\\?\" form, so that trees deeper
// than a path can name are possible), registry keys, and guards that put a setting back.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "base/launch_config.h"
#include "base/text.h"

struct ScreenRecord {
  std::string kind, text, details;  // kind: "info box", "error box", "error dialog", "info event", "error event"
  bool operator==(const ScreenRecord&) const = default;
};
inline std::vector<ScreenRecord>& ScreenRecords() {
  static std::vector<ScreenRecord> records;
  return records;
}
inline std::ostream& operator<<(std::ostream& out, const ScreenRecord& r) { return out << r.kind << ": " << r.text; }

namespace corvane::test {

inline std::wstring LongForm(const std::string& path) { return L"\\\\?\\" + std::wstring(path.begin(), path.end()); }

inline std::string ExecutableDirectory() {
  char path[MAX_PATH] = {};
  return std::string(path, GetModuleFileNameA(nullptr, path, sizeof(path))).substr(0, std::string(path).rfind('\\'));
}
inline bool MakeDirectories(const std::string& path) {
  for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
    CreateDirectoryW(LongForm(path.substr(0, at)).c_str(), nullptr);
  CreateDirectoryW(LongForm(path).c_str(), nullptr);
  const DWORD attributes = GetFileAttributesW(LongForm(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// A new, empty folder under the temporary folder; "" when it cannot be made.
inline std::string MakeScratchRoot() {
  static int serial = 0;
  char temp[MAX_PATH + 1];
  const std::string root = std::string(temp, GetTempPathA(sizeof(temp), temp)) + "cv" + std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(++serial);
  return MakeDirectories(root) ? root : "";
}

// A file holding `bytes`, with the folders it needs.
inline bool MakeFile(const std::string& path, const std::string& bytes = "") {
  HANDLE file = MakeDirectories(path.substr(0, path.rfind('\\')))
                    ? CreateFileW(LongForm(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr)
                    : INVALID_HANDLE_VALUE;
  DWORD written = 0;
  const bool ok = file != INVALID_HANDLE_VALUE && WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  return ok && written == bytes.size();
}

// Runs a Unix program in `directory` and waits, boundedly, until `path` exists or is gone as `exists`
// says: Wine starts Unix programs but gives no handle that waits for one.
inline bool RunUnix(const std::string& directory, std::string commandLine, const std::string& path, bool exists) {
  STARTUPINFOA startup{sizeof(startup)};
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, directory.c_str(), &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  for (int i = 0; i < 500; ++i, Sleep(20))
    if ((GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) == exists) return true;
  return false;
}

// A link `name` in `directory` to the folder `target` ("/"-separated, relative): Wine 8 cannot make
// junctions but shows a Unix link as a reparse point. False when none can be made here.
inline bool MakeDirectoryLink(const std::string& directory, const std::string& name, const std::string& target) {
  return RunUnix(directory, "Z:\\bin\\ln -s " + target + " " + name, directory + "\\" + name, true);
}

// Removes a tree. Links are removed by a Unix program: removing one through Windows under Wine
// removes the folder it names.
inline void RemoveTree(const std::string& path) {
  WIN32_FIND_DATAW entry;
  HANDLE listing = FindFirstFileW((LongForm(path) + L"\\*").c_str(), &entry);
  for (bool more = listing != INVALID_HANDLE_VALUE; more; more = FindNextFileW(listing, &entry)) {
    const std::wstring wide = entry.cFileName;
    const std::string name(wide.begin(), wide.end()), full = path + "\\" + name;
    if (name == "." || name == "..") continue;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) RunUnix(path, "Z:\\bin\\rm -f " + name, full, false);
    else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(full);
    else DeleteFileW(LongForm(full).c_str());
  }
  if (listing != INVALID_HANDLE_VALUE) FindClose(listing);
  RemoveDirectoryW(LongForm(path).c_str());
}

// A key below `root` (view KEY_WOW64_32KEY: the 32-bit registry) with values stored byte for byte.
struct RegistryValue {
  std::string name;
  DWORD type;
  std::string bytes;
};
inline std::string Sz(const std::string& text) { return text + std::string(1, '\0'); }
inline void WriteKey(HKEY root, const std::string& path, const std::vector<RegistryValue>& values, REGSAM view = 0) {
  // The last name is made below its parent: Wine refuses a long name within a long path at once.
  HKEY parent = nullptr, key = nullptr;
  RegCreateKeyExA(root, path.substr(0, path.rfind('\\')).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &parent, nullptr);
  RegCreateKeyExA(parent, path.substr(path.rfind('\\') + 1).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr);
  for (const RegistryValue& v : values)
    RegSetValueExA(key, v.name.c_str(), 0, v.type, (const BYTE*)v.bytes.data(), (DWORD)v.bytes.size());
  RegCloseKey(key);
  RegCloseKey(parent);
}

// Guards that set a text setting, a message or an environment variable (null: removed) for one test
// and put the old value back.
struct SettingText {
  char** field;
  char* saved;
  SettingText(char** f, const std::string& value) : field(f), saved(*f) { *f = CopyText(value.c_str()); }
  ~SettingText() { std::free(*field), *field = saved; }
};
struct MessageText {
  int id;
  std::string saved;
  MessageText(int i, const char* text) : id(i), saved(Message(i)) { SetMessage(i, CopyText(text)); }
  ~MessageText() { SetMessage(id, CopyText(saved.c_str())); }
};
struct EnvironmentVariable {
  std::string name, saved = std::string(32768, '\0');
  bool existed;
  EnvironmentVariable(const char* n, const char* value) : name(n) {
    const DWORD length = GetEnvironmentVariableA(n, saved.data(), (DWORD)saved.size());
    existed = length > 0 && length < saved.size();
    saved.resize(existed ? length : 0);
    SetEnvironmentVariableA(n, value);
  }
  ~EnvironmentVariable() { SetEnvironmentVariableA(name.c_str(), existed ? saved.c_str() : nullptr); }
};

}  // namespace corvane::test
