// The driver's OS wall on Windows: LoadLibraryExA/GetProcAddress and ExitProcess.
#include <windows.h>

#include "contract_platform.h"

namespace {

std::string LastErrorText() {
  const DWORD code = GetLastError();
  char* text = nullptr;
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = length > 0 && text != nullptr ? std::string(text, length) : "error " + std::to_string(code);
  if (text != nullptr) LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' ')) result.pop_back();
  return result;
}

}  // namespace

CreateJavaVmFunction LoadJvmLibrary(const char* path, LoadFault* fault, std::string* reason) {
  // Altered search path: the runtime's own DLLs beside jvm.dll are found as a launcher finds them.
  HMODULE library = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (library == nullptr) {
    *reason = LastErrorText();
    *fault = LoadFault::Library;
    return nullptr;
  }
  FARPROC entry = GetProcAddress(library, "JNI_CreateJavaVM");
  if (entry == nullptr) {
    *reason = LastErrorText();
    *fault = LoadFault::Entry;
    return nullptr;
  }
  *fault = LoadFault::None;
  return reinterpret_cast<CreateJavaVmFunction>(reinterpret_cast<void*>(entry));
}

void EndProcessNow(int status) { ExitProcess(static_cast<UINT>(status)); }
