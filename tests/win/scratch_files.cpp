// Scratch files and folders for the Windows-side tests.
#include "scratch_files.h"

namespace corvane::test {

std::wstring LongForm(const std::string& path) {
  std::wstring wide(path.size(), L'\0');
  for (size_t i = 0; i < path.size(); ++i) wide[i] = static_cast<unsigned char>(path[i]);
  return L"\\\\?\\" + wide;
}

std::string ExecutableDirectory() {
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
  if (length == 0 || length >= sizeof(path)) return "";
  const std::string file(path, length);
  return file.substr(0, file.rfind('\\'));
}

std::string MakeScratchRoot(const char* prefix) {
  char temp[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof(temp), temp);
  if (length == 0 || length >= sizeof(temp)) return "";
  static int serial = 0;
  const std::string root =
      std::string(temp) + prefix + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
  return MakeDirectories(root) ? root : "";
}

bool MakeDirectories(const std::string& path) {
  for (size_t at = path.find('\\', 3);; at = path.find('\\', at + 1)) {
    CreateDirectoryW(LongForm(at == std::string::npos ? path : path.substr(0, at)).c_str(), nullptr);
    if (at == std::string::npos) break;
  }
  const DWORD attributes = GetFileAttributesW(LongForm(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// An empty file, with the folders it needs.
bool MakeFile(const std::string& path) {
  if (!MakeDirectories(path.substr(0, path.rfind('\\')))) return false;
  HANDLE file = CreateFileW(LongForm(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

// Never through a link: under Wine, removing a link to a folder removes the folder it names.
void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW entry;
  HANDLE listing = FindFirstFileW((path + L"\\*").c_str(), &entry);
  if (listing != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) continue;
      if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RemoveTree(path + L"\\" + name);
      } else {
        DeleteFileW((path + L"\\" + name).c_str());
      }
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
  }
  RemoveDirectoryW(path.c_str());
}

// Waits, boundedly, until `exists` of the path is as wanted.
bool AwaitPresence(const std::string& path, bool exists) {
  for (int i = 0; i < 500; ++i) {
    if ((GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) == exists) return true;
    Sleep(20);
  }
  return false;
}

// Runs a Unix program in `directory`. Wine 8 cannot make junctions (FSCTL_SET_REPARSE_POINT is not
// supported), but it shows a Unix symbolic link as a folder that is a reparse point, and it starts
// Unix programs; it gives no handle to wait on, hence AwaitPresence.
static bool RunUnixProgram(const std::string& directory, std::string commandLine) {
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, directory.c_str(), &startup,
                      &process)) {
    return false;
  }
  if (process.hThread != nullptr) CloseHandle(process.hThread);
  if (process.hProcess != nullptr) CloseHandle(process.hProcess);
  return true;
}

// A link `name` in `directory` to the folder `target` (relative, "/"-separated); false when this
// system cannot make one.
bool MakeDirectoryLink(const std::string& directory, const std::string& name, const std::string& target) {
  return RunUnixProgram(directory, "Z:\\bin\\ln -s " + target + " " + name) &&
         AwaitPresence(directory + "\\" + name, true);
}

void RemoveDirectoryLink(const std::string& directory, const std::string& name) {
  if (RunUnixProgram(directory, "Z:\\bin\\rm -f " + name)) AwaitPresence(directory + "\\" + name, false);
}

}  // namespace corvane::test
