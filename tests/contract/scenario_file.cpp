#include "scenario_file.h"

#include <cstdio>
#include <set>
#include <utility>

#include "base/file_names.h"

namespace {

bool ValidName(const std::string& name) {
  if (name.empty() || name.size() > 80 || name.front() == '-') return false;
  for (char c : name) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
    if (!allowed) return false;
  }
  return true;
}

// A name for a file of the run's folder that means the same on Linux and under Wine (case, trailing
// dots, devices) and cannot leave the folder or clobber the test's own capture files.
bool CheckFileName(const std::string& name, std::string* fault) {
  bool allowed = !name.empty() && name.size() <= 64;
  for (char c : name) {
    allowed = allowed && ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.');
  }
  const char first = name.empty() ? '.' : name[0];
  const bool plainStart = (first >= 'a' && first <= 'z') || (first >= '0' && first <= '9');
  if (!allowed || !plainStart || name.back() == '.') {
    *fault = "file name '" + name + "' must be lower-case letters, digits, '-', '_' and '.', " +
             "start with a letter or digit and not end with '.'";
    return false;
  }
  // "nul.log" is the null device on Windows, a file on Linux.
  if (IsDeviceName(name.c_str())) {
    *fault = "file name '" + name + "' is a device on Windows";
    return false;
  }
  if (name == "stdout.txt" || name == "stderr.txt" || name == "transcript.txt") {
    *fault = "file name '" + name + "' is the test's own capture file";
    return false;
  }
  return true;
}

// "NAME append" or "NAME replace".
bool ParseStreamFile(const std::string& value, ScenarioStreamFile* out, std::string* fault) {
  const size_t space = value.find(' ');
  const std::string mode = space == std::string::npos ? "" : value.substr(space + 1);
  if (mode != "append" && mode != "replace") {
    *fault = "a stream's file must be 'NAME append' or 'NAME replace', not '" + value + "'";
    return false;
  }
  if (!CheckFileName(value.substr(0, space), fault)) return false;
  out->name = value.substr(0, space);
  out->append = mode == "append";
  return true;
}

bool AddEntryBefore(Scenario* s, EntryBefore entry, std::string* fault) {
  if (!CheckFileName(entry.name, fault)) return false;
  for (const EntryBefore& e : s->before) {
    if (e.name == entry.name) {
      *fault = "'" + entry.name + "' made twice before the run";
      return false;
    }
  }
  s->before.push_back(std::move(entry));
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Replaces each \xHH with its byte. A \x without two hex digits, or one giving byte 0 (which
// would end the text early), is refused.
bool DecodeBytes(const std::string& value, std::string* out, std::string* fault) {
  out->clear();
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size() && value[i + 1] == 'x') {
      const int high = i + 2 < value.size() ? HexDigit(value[i + 2]) : -1;
      const int low = i + 3 < value.size() ? HexDigit(value[i + 3]) : -1;
      if (high < 0 || low < 0) {
        *fault = "\\x needs two hex digits";
        return false;
      }
      const int byte = high * 16 + low;
      if (byte == 0) {
        *fault = "\\x00 cannot be part of a text";
        return false;
      }
      out->push_back(static_cast<char>(byte));
      i += 3;
      continue;
    }
    out->push_back(value[i]);
  }
  return true;
}

std::string TrimRight(std::string text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.pop_back();
  return text;
}

std::string TrimLeft(const std::string& text) {
  size_t start = 0;
  while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) ++start;
  return text.substr(start);
}

// Stores one "key = value" line into the scenario; false with `fault` for an unknown key, a
// repeated key or a bad value.
bool SetField(Scenario* s, std::set<std::string>* seen, const std::string& key, const std::string& value,
              std::string* fault) {
  const bool repeatable = key == "file-before" || key == "folder-before";
  if (!repeatable && !seen->insert(key).second) {
    *fault = "key '" + key + "' given twice";
    return false;
  }
  std::string decoded;
  if (!DecodeBytes(value, &decoded, fault)) return false;
  if (key == "about") {
    s->about = decoded;
  } else if (key == "vm") {
    s->vmOptions = decoded;
  } else if (key == "class") {
    if (decoded.empty()) {
      *fault = "class must not be empty";
      return false;
    }
    s->mainClass = decoded;
  } else if (key == "static") {
    s->staticOptions = decoded;
  } else if (key == "app") {
    s->appOptions = decoded;
  } else if (key == "args") {
    s->args = decoded;
  } else if (key == "second") {
    s->secondArgs = decoded;
  } else if (key == "fake") {
    s->fakeDiffers = decoded;
  } else if (key == "out") {
    return ParseStreamFile(decoded, &s->out, fault);
  } else if (key == "err") {
    return ParseStreamFile(decoded, &s->err, fault);
  } else if (key == "file-before") {
    const size_t colon = decoded.find(':');
    if (colon == std::string::npos) {
      *fault = "file-before must be 'NAME: TEXT', not '" + decoded + "'";
      return false;
    }
    EntryBefore file{TrimRight(decoded.substr(0, colon)), false, TrimLeft(decoded.substr(colon + 1))};
    return AddEntryBefore(s, std::move(file), fault);
  } else if (key == "folder-before") {
    return AddEntryBefore(s, EntryBefore{decoded, true, ""}, fault);
  } else if (key == "mode") {
    if (decoded == "main") {
      s->mode = ScenarioMode::Main;
    } else if (decoded == "service") {
      s->mode = ScenarioMode::Service;
    } else if (decoded == "attached") {
      s->mode = ScenarioMode::Attached;
    } else {
      *fault = "mode must be main, service or attached, not '" + decoded + "'";
      return false;
    }
  } else {
    *fault = "unknown key '" + key + "'";
    return false;
  }
  return true;
}

// A finished block must be complete: `second` belongs to attached mode and nowhere else.
bool CheckScenario(const Scenario& s, std::string* fault) {
  const bool attached = s.mode == ScenarioMode::Attached;
  if (attached && s.secondArgs.empty()) {
    *fault = "scenario '" + s.name + "' is attached but has no 'second'";
    return false;
  }
  if (!attached && !s.secondArgs.empty()) {
    *fault = "scenario '" + s.name + "' has 'second' but is not attached";
    return false;
  }
  return true;
}

}  // namespace

bool ParseScenarios(const std::string& text, std::vector<Scenario>* scenarios, std::string* error) {
  scenarios->clear();
  std::vector<Scenario> result;
  std::set<std::string> names;
  std::set<std::string> seen;
  std::string fault;
  int lineNumber = 0;
  size_t start = 0;
  auto fail = [&](const std::string& what) {
    *error = "line " + std::to_string(lineNumber) + ": " + what;
    return false;
  };
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = TrimRight(text.substr(start, end - start));
    start = end + 1;
    ++lineNumber;
    const std::string content = TrimLeft(line);
    if (content.empty() || content[0] == '#') continue;
    if (content[0] == '[') {
      if (content.back() != ']') return fail("a section line must end with ']'");
      const std::string name = content.substr(1, content.size() - 2);
      if (!ValidName(name)) return fail("scenario name '" + name + "' must be lower-case letters, digits and '-'");
      if (!names.insert(name).second) return fail("scenario '" + name + "' given twice");
      if (!result.empty() && !CheckScenario(result.back(), &fault)) return fail(fault);
      result.emplace_back();
      result.back().name = name;
      seen.clear();
      continue;
    }
    const size_t equals = content.find('=');
    if (equals == std::string::npos) return fail("expected 'key = value' or '[name]'");
    if (result.empty()) return fail("a value before the first '[name]'");
    const std::string key = TrimRight(content.substr(0, equals));
    const std::string value = TrimLeft(content.substr(equals + 1));
    if (!SetField(&result.back(), &seen, key, value, &fault)) return fail(fault);
  }
  if (!result.empty() && !CheckScenario(result.back(), &fault)) return fail(fault);
  if (result.empty()) {
    *error = "no scenario in the file";
    return false;
  }
  *scenarios = std::move(result);
  return true;
}

std::vector<std::string> RecordedFiles(const Scenario& s) {
  std::vector<std::string> names;
  auto add = [&](const std::string& name) {
    if (name.empty()) return;
    for (const std::string& n : names) {
      if (n == name) return;
    }
    names.push_back(name);
  };
  add(s.out.name);
  add(s.err.name);
  for (const EntryBefore& e : s.before) add(e.name);
  return names;
}

bool ReadScenarioFile(const std::string& path, std::vector<Scenario>* scenarios, std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *error = "cannot open " + path;
    return false;
  }
  std::string text;
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
  const bool readError = std::ferror(file) != 0;
  std::fclose(file);
  if (readError) {
    *error = "cannot read " + path;
    return false;
  }
  if (!ParseScenarios(text, scenarios, error)) {
    *error = path + ": " + *error;
    return false;
  }
  return true;
}
