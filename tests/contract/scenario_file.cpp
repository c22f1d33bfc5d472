#include "scenario_file.h"

#include <algorithm>
#include <fstream>

#include "base/file_names.h"

namespace {

bool OnlyOf(const std::string& text, const std::string& others) {
  for (char c : text)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || others.find(c) != std::string::npos)) return false;
  return !text.empty() && text.size() <= 80;
}

// A name of the run's folder that means the same on Linux and under Wine and cannot leave it.
bool PlainFileName(const std::string& name) {
  return OnlyOf(name, "-_.") && name[0] != '.' && name[0] != '-' && name.back() != '.' && !IsDeviceName(name.c_str());
}

std::string Trim(const std::string& text) {
  const size_t start = text.find_first_not_of(" \t\r");
  return start == std::string::npos ? "" : text.substr(start, text.find_last_not_of(" \t\r") + 1 - start);
}

// Replaces each \xHH with its byte; false for a \x without two hex digits or giving byte 0.
bool DecodeBytes(const std::string& value, std::string* out) {
  out->clear();
  for (size_t i = 0; i < value.size(); ++i) {
    if (value.compare(i, 2, "\\x") != 0) {
      out->push_back(value[i]);
      continue;
    }
    const std::string hex = value.substr(i + 2, 2);
    if (hex.size() != 2 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos || hex == "00") return false;
    out->push_back(static_cast<char>(std::stoi(hex, nullptr, 16)));
    i += 3;
  }
  return true;
}

// Stores one "key = value" line into the scenario; the fault when the key or value is wrong.
std::string SetField(Scenario* s, const std::string& key, const std::string& raw) {
  std::string value;
  if (!DecodeBytes(raw, &value)) return "\\x needs two hex digits other than 00";
  const std::pair<const char*, std::string*> texts[] = {
      {"about", &s->about},    {"vm", &s->vmOptions}, {"class", &s->mainClass},  {"static", &s->staticOptions},
      {"app", &s->appOptions}, {"args", &s->args},    {"second", &s->secondArgs}, {"second-method", &s->secondMethod}};
  for (const auto& [name, field] : texts)
    if (key == name) return *field = value, "";
  if (key == "mode") {
    const char* modes[] = {"main", "service", "attached", "second-start"};
    const auto found = std::find(std::begin(modes), std::end(modes), value);
    s->mode = static_cast<ScenarioMode>(found - std::begin(modes));
    return found != std::end(modes) ? "" : "mode must be main, service, attached or second-start";
  }
  if (key == "ignore-unrecognized") {
    s->ignoreUnrecognized = value == "true";
    return value == "true" || value == "false" ? "" : "ignore-unrecognized must be true or false";
  }
  if (key == "code-page") return (s->utf8 = value == "utf-8") ? "" : "code-page must be utf-8";
  if (key == "out" || key == "err") {
    ScenarioStreamFile& file = key == "out" ? s->out : s->err;
    const size_t space = value.find(' ');
    file.name = value.substr(0, space);
    file.append = space != std::string::npos && value.substr(space + 1) == "append";
    const bool replace = space != std::string::npos && value.substr(space + 1) == "replace";
    return PlainFileName(file.name) && (file.append || replace) ? "" : "a stream's file must be 'NAME append' or 'NAME replace'";
  }
  EntryBefore entry{value, key == "folder-before", ""};
  if (key == "file-before") {
    const size_t colon = value.find(':');
    if (colon == std::string::npos) return "file-before must be 'NAME: TEXT'";
    entry = EntryBefore{Trim(value.substr(0, colon)), false, Trim(value.substr(colon + 1))};
  } else if (key == "jar" || key == "cd") {
    (key == "jar" ? s->jar : s->folder) = value;
    return PlainFileName(value) ? "" : "'" + value + "' is no plain name of the run's folder";
  } else if (key != "folder-before") {
    return "unknown key '" + key + "'";
  }
  if (!PlainFileName(entry.name)) return "'" + entry.name + "' is no plain name of the run's folder";
  s->before.push_back(entry);
  return "";
}

}  // namespace

std::vector<std::string> RecordedFiles(const Scenario& s) {
  std::vector<std::string> names, all = {s.out.name, s.err.name};
  for (const EntryBefore& e : s.before) all.push_back(e.name);
  for (const std::string& name : all)
    if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  return names;
}

bool ReadScenarioFile(const std::string& path, std::vector<Scenario>* scenarios, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return *error = "cannot read " + path, false;
  scenarios->clear();
  std::string line, fault;
  for (int number = 1; fault.empty() && std::getline(in, line); ++number) {
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    const size_t equals = line.find('=');
    if (line[0] == '[' && line.back() == ']') {
      scenarios->emplace_back().name = line.substr(1, line.size() - 2);
      if (!OnlyOf(scenarios->back().name, "-")) fault = "a scenario name is lower-case letters, digits and '-'";
    } else if (equals == std::string::npos || scenarios->empty()) {
      fault = "expected '[name]' or, after it, 'key = value'";
    } else {
      fault = SetField(&scenarios->back(), Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)));
    }
    if (!fault.empty()) *error = path + ":" + std::to_string(number) + ": " + fault;
  }
  for (const Scenario& s : *scenarios) {
    const bool secondStart = s.mode == ScenarioMode::SecondStart;
    if (fault.empty() && ((s.mode == ScenarioMode::Attached || secondStart) == s.secondArgs.empty() ||
                          secondStart == s.secondMethod.empty()))
      *error = fault = path + ": scenario " + s.name +
                       ": 'second' belongs to attached and second-start mode, 'second-method' to second-start mode";
  }
  if (fault.empty() && scenarios->empty()) *error = fault = path + ": no scenario";
  return fault.empty();
}
