// The escapes of the driver's line protocol, the same on both ends (cvdriver.exe under Wine, the
// harness on Linux): \\ for a backslash and \xHH for a control character, so that every record is one
// line.
#pragma once

#include <string>

inline std::string Escape(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (c == '\\') out += "\\\\";
    else if (c < 0x20 || c == 0x7F) out += {'\\', 'x', "0123456789ABCDEF"[c >> 4], "0123456789ABCDEF"[c & 15]};
    else out += static_cast<char>(c);
  }
  return out;
}

inline std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\\' && i + 1 < s.size()) {
      c = s[++i];
      if (c == 'x' && i + 2 < s.size()) c = static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)), i += 2;
    }
    out += c;
  }
  return out;
}
