#include "runtime/jvm_options.h"

#include <cstdlib>
#include <cstring>

char* ExtendClassPath(const char* configured, const char* carried) {
  if (carried == nullptr) carried = "";
  const size_t configuredLength = std::strlen(configured);
  size_t carriedLength = std::strlen(carried);
  if (carriedLength > 0 && carried[carriedLength - 1] == ';') --carriedLength;
  const bool separator = carriedLength > 0 && configuredLength > 0 && configured[configuredLength - 1] != ';';
  const size_t length = configuredLength + (separator ? 1 : 0) + carriedLength;
  char* result = static_cast<char*>(std::malloc(length + 1));
  if (result == nullptr) return nullptr;
  std::memcpy(result, configured, configuredLength);
  if (separator) result[configuredLength] = ';';
  std::memcpy(result + configuredLength + (separator ? 1 : 0), carried, carriedLength);
  result[length] = '\0';
  return result;
}

OptionAssembly AssembleJvmOptionText(const char* jvmOptions, const char* classPath, const ClassPathFolders& folders,
                                     TextBuffer* out) {
  if (!AppendText(out, jvmOptions)) return OptionAssembly::OutOfMemory;
  if (classPath == nullptr || classPath[0] == '\0') return OptionAssembly::Assembled;
  ScopedTextBuffer entries;
  HeapText copy(CopyText(classPath));
  if (!copy) return OptionAssembly::OutOfMemory;
  char* position = nullptr;
  for (char* entry = NextToken(copy.get(), ";", &position); entry != nullptr;
       entry = NextToken(copy.get(), ";", &position)) {
    if (!AppendText(&entries, entry) || !AppendText(&entries, ";")) return OptionAssembly::OutOfMemory;
    if (folders.isFolder(entry) && !folders.collectArchives(&entries, entry)) return OptionAssembly::FolderFailed;
  }
  if (entries.length == 0) return OptionAssembly::Assembled;
  entries.text[--entries.length] = '\0';
  if (entries.text[entries.length - 1] == '\\' && !AppendText(&entries, ".")) return OptionAssembly::OutOfMemory;
  if (!AppendText(out, " \"-Djava.class.path=") || !AppendText(out, entries.text) || !AppendText(out, "\"")) {
    return OptionAssembly::OutOfMemory;
  }
  return OptionAssembly::Assembled;
}

bool BuildJvmOptionList(const char* text, const JvmHooks& hooks, JvmOptionList* out) {
  int count = 0;
  char** strings = nullptr;
  if (!SplitCommandLine(text, &count, &strings, false)) return false;
  auto* options = static_cast<JavaVMOption*>(std::calloc(static_cast<size_t>(count) + 3, sizeof(JavaVMOption)));
  if (options == nullptr) {
    FreeArgumentArray(count, strings);
    return false;
  }
  // The hooks come first: the VM takes its options in order, and only what it says after its
  // "vfprintf" option reaches the hook, so that a complaint about a configured option ("Unrecognized
  // option: ...") is kept for the error report instead of going to a standard error nobody sees.
  options[0] = {const_cast<char*>("vfprintf"), reinterpret_cast<void*>(hooks.vfprintfHook)};
  options[1] = {const_cast<char*>("abort"), reinterpret_cast<void*>(hooks.abortHook)};
  options[2] = {const_cast<char*>("exit"), reinterpret_cast<void*>(hooks.exitHook)};
  for (int i = 0; i < count; ++i) options[3 + i].optionString = strings[i];
  std::free(strings);  // the strings now belong to the options
  out->options = options;
  out->count = count + 3;
  return true;
}
