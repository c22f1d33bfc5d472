// The options the VM is created with: JvmOptions, the class path with the archives of its folders
// and of the launcher's carried archives, and the launcher's three hooks. Portable, so that the
// contract tests create HotSpot with the same options.
#pragma once

#include <jni.h>

#include <cstdarg>
#include <cstdio>

#include "base/text.h"

// The functions handed to the VM as its "vfprintf", "exit" and "abort" options.
struct JvmHooks {
  jint(JNICALL* vfprintfHook)(FILE* stream, const char* format, va_list arguments);
  void(JNICALL* exitHook)(jint status);
  void(JNICALL* abortHook)();
};

// The class path once the carried archives are extracted: the configured entries, then ";" (unless
// the configured text is empty or already ends with one), then `carried` ("path;" per archive)
// without its final ";". An empty or null `carried` leaves the configured text as it is. Answers a
// malloc'd text, null when memory runs out.
char* ExtendClassPath(const char* configured, const char* carried);

// How the assembly learns about folders on the class path: whether an entry is a folder, and the
// archives below a folder, each appended as "path;" (false after a reported failure).
struct ClassPathFolders {
  bool (*isFolder)(const char* entry);
  bool (*collectArchives)(TextBuffer* classPath, const char* folder);
};

enum class OptionAssembly { Assembled, FolderFailed, OutOfMemory };

// The option text: `jvmOptions`, then, when the class path has entries, one option
// "-Djava.class.path=..." in quotes made of the entries (";"-separated, empty ones left out), each
// folder followed by the archives below it. A final backslash would escape the closing quote when
// the text is split, so "." is added after it (it names the same folder). Variables are left as
// they are.
OptionAssembly AssembleJvmOptionText(const char* jvmOptions, const char* classPath, const ClassPathFolders& folders,
                                     TextBuffer* out);

struct JvmOptionList {
  JavaVMOption* options;
  int count;
};

// The option array: the hooks in the order "vfprintf", "abort", "exit", then `text` split like a
// command line. The strings and the array are malloc'd and never freed: the VM may
// keep pointers to them. False when memory runs out.
bool BuildJvmOptionList(const char* text, const JvmHooks& hooks, JvmOptionList* out);
