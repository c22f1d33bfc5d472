// Settings files: "Name = value" lines that give string-table entries by their LaunchConfig field
// name (or MessageN for message N). Used to write the string tables of the stub and of the test
// launchers. Host tool code.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace corvane::tools {

// Entries by string-table id. A value of "<absent>" means the entry is not written at all.
using StringEntries = std::map<int, std::string>;

// Reads one settings file and applies it over `entries` (later files override earlier ones).
// MainClass is given in plain text and stored scrambled. Answers an error text naming the file and
// line, or nothing on success.
std::optional<std::string> ApplySettingsFile(const std::string& path, StringEntries& entries);

// Parses the text of a settings file (`origin` names it in errors); see ApplySettingsFile.
std::optional<std::string> ApplySettingsText(const std::string& text, const std::string& origin,
                                             StringEntries& entries);

// The resource script of the two string tables: settings (language neutral) and messages (3081).
std::string WriteStringTablesRc(const StringEntries& entries);

}  // namespace corvane::tools
