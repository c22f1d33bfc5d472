#include "app/run_sequence.h"

#include <cstring>

#include "app/jni_calls.h"
#include "base/launch_config.h"
#include "base/trace.h"
#include "ui/report_api.h"

namespace {

struct Property {
  const char* key;
  const char* value;
  bool required;  // a failure to set it ends the run
};

bool SetAll(JNIEnv* env, const Property* properties, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const Property& p = properties[i];
    if (p.value == nullptr) continue;
    if (!SetSystemProperty(env, p.key, p.value) && p.required) return false;
  }
  return true;
}

// Splits an option text and expands each token (a token that cannot be expanded stays as it is).
void ExpandedTokens(const char* text, ExpandToken expand, int* count, char*** items) {
  SplitCommandLine(text, count, items, false);
  for (int i = 0; i < *count; ++i) {
    char* expanded = expand != nullptr ? expand((*items)[i]) : nullptr;
    if (expanded == nullptr) continue;
    std::free((*items)[i]);
    (*items)[i] = expanded;
  }
}

}  // namespace

bool SetLauncherProperties(JNIEnv* env, const LauncherProperties& v) {
  const Property common[] = {
      {"user.dir", v.userDir, true},
      {"corvane.exe.path", v.exePath, true},
      {"corvane.csidl.appdata", v.appData, true},
      {"corvane.csidl.local.appdata", v.localAppData, true},
      {"corvane.csidl.personal", v.personal, true},
      {"corvane.extract.path", v.extractPath != nullptr ? v.extractPath : "", false},
      {"corvane.appini.showconsole", v.showConsole ? "true" : "false", false},
  };
  if (!SetAll(env, common, sizeof(common) / sizeof(common[0]))) return false;
  if (!v.serviceMode) return true;
  const Property service[] = {
      {"corvane.service.name", v.serviceName != nullptr ? v.serviceName : "", true},
      {"corvane.service.description", v.serviceDescription != nullptr ? v.serviceDescription : "", true},
      {"corvane.service.starttype", v.serviceManualStart ? "0" : "1", true},
  };
  return SetAll(env, service, sizeof(service) / sizeof(service[0]));
}

bool AssembleMainArguments(const char* staticOptions, const char* appOptions, int count, char* const* args,
                           ExpandToken expand, ArgumentList* out) {
  int staticCount = 0, optionCount = 0;
  char **statics = nullptr, **options = nullptr;
  ExpandedTokens(staticOptions != nullptr ? staticOptions : "", expand, &staticCount, &statics);
  // AppOptions stand in for an empty command line; given arguments are never expanded.
  const bool useAppOptions = count == 0 && appOptions != nullptr && appOptions[0] != '\0';
  if (useAppOptions) ExpandedTokens(appOptions, expand, &optionCount, &options);
  const int tail = useAppOptions ? optionCount : count;
  const long long total = static_cast<long long>(staticCount) + tail;
  char** items = static_cast<char**>(std::calloc(static_cast<size_t>(total) + 1, sizeof(char*)));
  bool complete = items != nullptr;
  for (int i = 0; complete && i < staticCount; ++i) {
    items[i] = statics[i];
    statics[i] = nullptr;
  }
  for (int i = 0; complete && i < tail; ++i) {
    if (useAppOptions) {
      items[staticCount + i] = options[i];
      options[i] = nullptr;
    } else {
      items[staticCount + i] = CopyText(args[i]);
      complete = items[staticCount + i] != nullptr;
    }
  }
  FreeArgumentArray(staticCount, statics);
  FreeArgumentArray(optionCount, options);
  if (!complete) {
    FreeArgumentArray(static_cast<int>(total), items);
    return false;
  }
  out->count = static_cast<int>(total);
  out->items = items;
  return true;
}

bool RunMain(JNIEnv* env, const char* mainClass, const char* staticOptions, const char* appOptions, int count,
             char* const* args, ExpandToken expand) {
  ArgumentList arguments;
  if (!AssembleMainArguments(staticOptions, appOptions, count, args, expand, &arguments)) {
    ReportError(Message(MessageObject), "java/lang/String[]");
    return false;
  }
  if (Tracing()) {
    for (int i = 0; i < arguments.count; ++i) {
      Trace({"main argument ", DecimalText(i).text, ": ", arguments.items[i]});
    }
  }
  return CallMain(env, mainClass, arguments.items, arguments.count);
}
