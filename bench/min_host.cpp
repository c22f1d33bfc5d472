// The least a program can do to start a Java VM: load jvm.dll by its path and call
// JNI_CreateJavaVM with the given options and the three hooks a launcher sets. The start-up
// benchmark measures the launcher against it.
//   cvminhost.exe JVM_DLL [OPTION ...]
#include <windows.h>

#include <jni.h>

#include <cstdarg>
#include <vector>

namespace {

jint JNICALL VfprintfHook(FILE*, const char*, va_list) { return 0; }
void JNICALL ExitHook(jint status) { ExitProcess(static_cast<UINT>(status)); }
void JNICALL AbortHook() { ExitProcess(3); }

using CreateJavaVm = jint(JNICALL*)(JavaVM**, void**, void*);

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const HMODULE jvm = LoadLibraryA(argv[1]);
  if (jvm == nullptr) return 3;
  const auto create = reinterpret_cast<CreateJavaVm>(GetProcAddress(jvm, "JNI_CreateJavaVM"));
  if (create == nullptr) return 4;
  std::vector<JavaVMOption> options;
  for (int i = 2; i < argc; ++i) options.push_back({argv[i], nullptr});
  options.push_back({const_cast<char*>("vfprintf"), reinterpret_cast<void*>(VfprintfHook)});
  options.push_back({const_cast<char*>("exit"), reinterpret_cast<void*>(ExitHook)});
  options.push_back({const_cast<char*>("abort"), reinterpret_cast<void*>(AbortHook)});
  JavaVMInitArgs arguments{JNI_VERSION_1_2, static_cast<jint>(options.size()), options.data(), JNI_FALSE};
  JavaVM* vm = nullptr;
  void* env = nullptr;
  return create(&vm, &env, &arguments) == JNI_OK ? 0 : 1;
}
