// A project file: the TOML file that says what goes into a launcher. Every key is checked; a bad
// one is reported with the file, its line, the key and the reason.
//
//   stub = "corvane-stub.exe"          # optional; else --stub, else next to corvane-build
//   output = "Lumera.exe"              # optional; else -o
//   [settings]                         # launcher settings by field name, typed
//   MainClass = "com.example.Main"     # plain text, stored scrambled
//   ClassPath = "Lumera.jar"           # text; "" means not set
//   AllowMultipleInstances = false     # flag
//   SplashSeconds = 0                  # number
//   [messages]                         # message texts 1..23 (English)
//   1 = "..."
//   [messages.translations.1031]       # the same table in further languages (Windows language ids)
//   1 = "..."
//   [archives]
//   files = ["lib/*.jar", { file = "build/app-1.0.jar", name = "app.jar" }]
//   [resources]
//   icon = "app.ico"                   # .ico with all its sizes
//   splash = "splash.png"              # .bmp or .png
//   [version]                          # version information
//   file_version = "1.2.3.4"  product_version = "1.2"  company = ""  description = ""
//   copyright = ""  original_filename = ""  product_name = ""  internal_name = ""
//   [manifest]
//   execution_level = "asInvoker"      # or "highestAvailable", "requireAdministrator"
//   dpi_awareness = "unaware"          # or "system", "per-monitor", "per-monitor-v2"
//   long_path_aware = false
//   utf8 = false                       # UTF-8 as the process code page
//   [launcher]
//   console = false                    # a console program (standard handles, reports on stderr)
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "archive_resource.h"
#include "error.h"
#include "resource_encoders.h"

namespace corvane::builder {

// The language of the launcher's own message table (English, Australia).
constexpr uint16_t EnglishMessages = 3081;

// Paths (stub, output, archives, icon, splash) are resolved against the folder of the project file
// that gives them, so that a scenario may override a base project in another folder.
struct Project {
  std::string stub;    // "" when not given
  std::string output;
  // Setting id -> the text stored in the string table ("1"/"0" for flags, "<null>" for an empty
  // text, the scrambled hex form for the main class, "\n" escapes in message texts).
  std::map<int, std::string> settings;
  // Message id -> stored text, English; translations by Windows language id.
  std::map<int, std::string> messages;
  std::map<uint16_t, std::map<int, std::string>> translations;
  std::optional<std::vector<ArchiveSource>> archives;
  std::string icon, splash;  // "" when not given
  std::optional<VersionInfo> version;
  std::optional<ManifestOptions> manifest;
  std::optional<bool> console;  // the image's subsystem; the stub's when not given
};

// Reads a project file over `project`: keys it gives replace what is there, keys it leaves out stay
// (so a scenario can override a base project). A refused file changes nothing.
Error ApplyProjectFile(const std::filesystem::path& file, Project& project);

// The same for a project's text; `origin` names it in errors, relative paths start at `directory`.
Error ApplyProjectText(const std::string& text, const std::string& origin, const std::filesystem::path& directory,
                       Project& project);

// How a message text is stored: each line break becomes the two characters \n, which the launcher
// turns back into a line break.
std::string StoredMessageText(const std::string& text);

// The printf conversions the launcher fills in message `id`: "%s" or nothing.
const char* MessageConversions(int id);

}  // namespace corvane::builder
