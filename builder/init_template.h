// The commented template project file that `corvane-build init` writes.
#pragma once

#include <string>

#include "error.h"

namespace corvane::builder {

// Every key with the stub's value (settings) or commented out with an example (the rest).
Error WriteProjectTemplate(const Bytes& stub, std::string& out);

// The README's table of settings: id, name, type, the description `init` writes, the stub's value.
// One source for both, so that they cannot drift apart.
Error WriteSettingsTable(const Bytes& stub, std::string& out);

// A TOML basic string for a text.
std::string TomlString(const std::string& text);

}  // namespace corvane::builder
