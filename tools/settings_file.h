// Raw settings files: "Name = value" lines that give string-table entries by their LaunchConfig
// field name (or MessageN for message N) exactly as stored, for test launchers whose tables a project
// file cannot describe (unset flags and numbers, absent entries, odd texts). Host tool code.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace corvane::tools {

// Raw overrides by string-table id: the stored text, or "<absent>" for an entry left out.
using RawEntries = std::map<int, std::string>;

// Reads one settings file and applies it over `entries` (later files override earlier ones).
// MainClass is given in plain text and stored scrambled. Answers an error text naming the file and
// line, or nothing on success.
std::optional<std::string> ApplySettingsFile(const std::string& path, RawEntries& entries);

// Parses the text of a settings file (`origin` names it in errors); see ApplySettingsFile.
std::optional<std::string> ApplySettingsText(const std::string& text, const std::string& origin,
                                             RawEntries& entries);

}  // namespace corvane::tools
