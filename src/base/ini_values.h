// The keys an INI file may set and how each value changes LaunchConfig. Portable: the file is read
// through a reader passed in (the system's profile functions on Windows).
#pragma once

#include <cstddef>

#include "base/launch_config.h"

constexpr char IniSection[] = "Application Configuration";

// Characters of a value's buffer, terminator included. A longer value is not used at all: cut, an
// option or a path would silently name something else.
constexpr size_t IniValueCapacity = 4096;

// Reads the value of `key` into `value` (room for `capacity` characters, terminator included) the way
// GetPrivateProfileStringA does: answers the number of characters stored, 0 for an absent key, and
// capacity - 1 when the value had to be cut.
using IniValueReader = size_t (*)(void* context, const char* key, char* value, size_t capacity);

// Expands the variables of a value; answers a malloc'd text, null when memory runs out.
using IniValueExpander = char* (*)(const char* text);

// Applies one key's value as read from the file: an empty value changes nothing; any other is expanded
// and then applied by the key's rule. An unknown key changes nothing. Answers false when the value was
// not applied (empty, unknown key, memory ran out).
bool ApplyIniValue(LaunchConfigRecord* config, const char* key, const char* value, IniValueExpander expand);

// Reads every key, in the fixed order in which later keys may build on earlier ones (JvmOptionsAppend
// after JvmOptions, ShowConsole after the two stream files), and applies each value that fits.
void ApplyIniValues(LaunchConfigRecord* config, IniValueReader read, void* context, IniValueExpander expand);
