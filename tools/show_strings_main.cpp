// cv-show-strings: prints the settings and messages a launcher carries, read back from its string
// tables with wrestool (icoutils), the main class descrambled.
//   cv-show-strings LAUNCHER.exe
#include <cstdio>
#include <string>

#include "launcher/scramble.h"
#include "launcher/setting_table.h"
#include "launcher/string_block.h"

namespace {

std::string ReadBlock(const std::string& exe, int block, int language) {
  const std::string command = "wrestool -x --raw --type=6 --name=" + std::to_string(block) +
                              " --language=" + std::to_string(language) + " '" + exe + "' 2>/dev/null";
  std::string data;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof(chunk), pipe)) > 0) data.append(chunk, n);
    pclose(pipe);
  }
  return data;
}

// The entry as UTF-8; nothing when the block or the entry is missing.
bool Entry(const std::string& exe, int id, int language, std::string& text) {
  const std::string block = ReadBlock(exe, id / 16 + 1, language);
  const auto* bytes = reinterpret_cast<const unsigned char*>(block.data());
  size_t offset = 0, units = 0;
  if (!FindStringBlockEntry(bytes, block.size(), static_cast<unsigned>(id % 16), &offset, &units) || units == 0) {
    return false;
  }
  text.clear();
  for (size_t i = 0; i < units; ++i) {
    char32_t unit = bytes[offset + 2 * i] | (bytes[offset + 2 * i + 1] << 8);
    if (unit < 0x80) {
      text += static_cast<char>(unit);
    } else if (unit < 0x800) {
      text += static_cast<char>(0xC0 | (unit >> 6));
      text += static_cast<char>(0x80 | (unit & 0x3F));
    } else {
      text += static_cast<char>(0xE0 | (unit >> 12));
      text += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
      text += static_cast<char>(0x80 | (unit & 0x3F));
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: cv-show-strings LAUNCHER.exe\n");
    return 2;
  }
  const std::string exe = argv[1];
  std::printf("Settings (string table, language neutral):\n");
  for (size_t i = 0; i < SettingCount; ++i) {
    const SettingInfo& info = SettingTable[i];
    std::string text;
    if (!Entry(exe, info.id, 0, text)) {
      std::printf("  %d %-27s (absent)\n", info.id, info.name);
    } else if (info.type == SettingType::Scrambled) {
      std::printf("  %d %-27s %s  (stored as %s)\n", info.id, info.name, DescrambleText(text.c_str()), text.c_str());
    } else {
      std::printf("  %d %-27s %s\n", info.id, info.name, text.c_str());
    }
  }
  std::printf("Messages (language %d):\n", MessageLanguage);
  for (int id = FirstMessageId; id <= LastMessageId; ++id) {
    std::string text;
    std::printf("  %2d %s\n", id, Entry(exe, id, MessageLanguage, text) ? text.c_str() : "(absent)");
  }
  return 0;
}
