#include "base/launch_config.h"

#include <cstdlib>

#include "base/text.h"

namespace {
LaunchConfigRecord Settings;
char* MessageTexts[LastMessageId + 1];
}  // namespace

const LaunchConfigRecord& LaunchConfig = Settings;

LaunchConfigRecord& EditLaunchConfig() { return Settings; }

const char* Message(int id) {
  if (id < FirstMessageId || id > LastMessageId || MessageTexts[id] == nullptr) return "";
  return MessageTexts[id];
}

void SetMessage(int id, char* text) {
  if (id < FirstMessageId || id > LastMessageId) {
    std::free(text);
    return;
  }
  std::free(MessageTexts[id]);
  MessageTexts[id] = text;
}

bool ReplaceConfigText(char** field, const char* value) {
  char* copy = CopyText(value);
  if (copy == nullptr) return false;
  std::free(*field);
  *field = copy;
  return true;
}
