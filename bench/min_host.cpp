// The least a program can do to run a Java application: load jvm.dll by its path, call
// JNI_CreateJavaVM with the given options and the three hooks a launcher sets, call the main class's
// main with no arguments and destroy the VM, as a launcher does. The start-up benchmark measures the
// launcher against it.
//   cvminhost.exe JVM_DLL MAIN_CLASS [OPTION ...]      (MAIN_CLASS with '/', e.g. corvane/test/App)
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
  if (argc < 3) return 2;
  const HMODULE jvm = LoadLibraryA(argv[1]);
  if (jvm == nullptr) return 3;
  const auto create = reinterpret_cast<CreateJavaVm>(GetProcAddress(jvm, "JNI_CreateJavaVM"));
  if (create == nullptr) return 4;
  std::vector<JavaVMOption> options;
  for (int i = 3; i < argc; ++i) options.push_back({argv[i], nullptr});
  options.push_back({const_cast<char*>("vfprintf"), reinterpret_cast<void*>(VfprintfHook)});
  options.push_back({const_cast<char*>("exit"), reinterpret_cast<void*>(ExitHook)});
  options.push_back({const_cast<char*>("abort"), reinterpret_cast<void*>(AbortHook)});
  JavaVMInitArgs arguments{JNI_VERSION_1_2, static_cast<jint>(options.size()), options.data(), JNI_FALSE};
  JavaVM* vm = nullptr;
  JNIEnv* env = nullptr;
  if (create(&vm, reinterpret_cast<void**>(&env), &arguments) != JNI_OK) return 1;
  const jclass app = env->FindClass(argv[2]);
  const jclass string = env->FindClass("java/lang/String");
  const jmethodID main = app != nullptr ? env->GetStaticMethodID(app, "main", "([Ljava/lang/String;)V") : nullptr;
  const jobjectArray args = string != nullptr ? env->NewObjectArray(0, string, nullptr) : nullptr;
  if (main == nullptr || args == nullptr) return 5;
  env->CallStaticVoidMethod(app, main, args);
  const bool thrown = env->ExceptionCheck() == JNI_TRUE;
  vm->DestroyJavaVM();
  return thrown ? 6 : 0;
}
