#include "archive_resource.h"

#include "archives/archive_layout.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace corvane::builder {
namespace {

namespace fs = std::filesystem;

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

bool HasWildcard(const std::string& text) { return text.find_first_of("*?") != std::string::npos; }

// * any run of characters, ? one character; letter case counts (file systems differ, the project
// file is the same everywhere). Backtracks only to the last *, so it stays linear in practice.
bool Matches(const std::string& pattern, const std::string& name) {
  size_t p = 0, n = 0, star = std::string::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++p, ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++, resume = n;
    } else if (star != std::string::npos) {
      p = star + 1, n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

void PutLittleEndian(Bytes& out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

uint64_t GetLittleEndian(std::span<const uint8_t> data, size_t at, int bytes) {
  uint64_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | data[at + static_cast<size_t>(i)];
  return value;
}

}  // namespace

Error CheckArchiveName(const std::string& name) {
  // The launcher applies the same rules when it extracts: one classification serves both.
  if (name.find('\0') != std::string::npos) return "the name holds a control character";
  switch (ClassifyArchiveName(name.c_str())) {
    case ArchiveNameProblem::None: return std::nullopt;
    case ArchiveNameProblem::Empty: return "the name is empty";
    case ArchiveNameProblem::TooLong: return "the name is longer than 200 bytes";
    case ArchiveNameProblem::ControlCharacter: return "the name holds a control character";
    case ArchiveNameProblem::NotBare: {
      const char bad = name[name.find_first_of("/\\:*?\"<>|")];
      return "the name \"" + name + "\" is not a bare file name (it holds \"" + std::string(1, bad) + "\")";
    }
    case ArchiveNameProblem::DotName: return "the name \"" + name + "\" is not a file name";
    case ArchiveNameProblem::TrailingDotOrBlank: return "the name \"" + name + "\" ends with a dot or a blank";
    case ArchiveNameProblem::Device: return "the name \"" + name + "\" is a Windows device name";
  }
  return "the name \"" + name + "\" cannot be used";
}

Error LastWriteFileTime(const fs::path& path, uint64_t& out) {
#ifdef _WIN32
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.wstring().c_str(), GetFileExInfoStandard, &data)) {
    return "cannot read the time of " + path.generic_string();
  }
  out = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
#else
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return "cannot read the time of " + path.generic_string();
  // 100-nanosecond units since 1601-01-01; 11644473600 seconds lie between 1601 and 1970.
  const int64_t ticks = (static_cast<int64_t>(info.st_mtim.tv_sec) + 11644473600LL) * 10000000LL +
                        info.st_mtim.tv_nsec / 100;
  out = ticks > 0 ? static_cast<uint64_t>(ticks) : 0;
#endif
  return std::nullopt;
}

Error ResolveArchives(const std::vector<ArchiveSource>& sources, std::vector<ArchiveFile>& out) {
  out.clear();
  uint64_t total = 0;
  std::vector<std::string> seen;
  for (const ArchiveSource& source : sources) {
    std::string text = source.file;
    std::replace(text.begin(), text.end(), '\\', '/');
    const fs::path pattern = fs::path(text);
    const std::string last = pattern.filename().string();
    if (HasWildcard(pattern.parent_path().string())) {
      return "\"" + source.file + "\": wildcards are allowed only in the file name";
    }
    std::vector<fs::path> matches;
    std::error_code error;
    if (HasWildcard(last)) {
      for (fs::directory_iterator it(pattern.parent_path(), error), end; !error && it != end; it.increment(error)) {
        if (it->is_regular_file(error) && Matches(last, it->path().filename().string())) {
          matches.push_back(it->path());
        }
      }
      std::sort(matches.begin(), matches.end(),
                [](const fs::path& a, const fs::path& b) { return a.filename().string() < b.filename().string(); });
      if (matches.empty()) return "\"" + source.file + "\" matches no file";
      if (!source.name.empty()) return "\"" + source.file + "\": a name can be given only to a single file";
    } else {
      if (!fs::is_regular_file(pattern, error)) return "archive \"" + source.file + "\" does not exist";
      matches.push_back(pattern);
    }
    for (const fs::path& path : matches) {
      ArchiveFile file;
      file.path = path;
      file.name = source.name.empty() ? path.filename().string() : source.name;
      if (Error bad = CheckArchiveName(file.name)) return "archive \"" + source.file + "\": " + *bad;
      const std::string folded = Lower(file.name);
      if (std::find(seen.begin(), seen.end(), folded) != seen.end()) {
        return "archive name \"" + file.name + "\" is used twice";
      }
      seen.push_back(folded);
      file.size = fs::file_size(path, error);
      if (error) return "cannot read the size of archive \"" + path.generic_string() + "\"";
      if (file.size > 0xFFFFFFFFull) return "archive \"" + path.generic_string() + "\" is 4 GiB or larger";
      total += file.size + file.name.size() + 13;
      if (total > MaxArchiveTotal) return "the archives are larger than a launcher can carry (2 GiB)";
      if (Error bad = LastWriteFileTime(path, file.fileTime)) return bad;
      out.push_back(std::move(file));
    }
  }
  return std::nullopt;
}

Error EncodeArchives(const std::vector<ArchiveFile>& files, Bytes& out) {
  out.clear();
  uint64_t total = 4;
  for (const ArchiveFile& file : files) total += file.name.size() + 13 + file.size;
  out.reserve(total);
  PutLittleEndian(out, files.size(), 4);
  for (const ArchiveFile& file : files) {
    out.insert(out.end(), file.name.begin(), file.name.end());
    out.push_back(0);
    PutLittleEndian(out, file.fileTime, 8);
    PutLittleEndian(out, file.size, 4);
    // Appended in pieces into the room reserved above: no zero-filling, no second copy.
    std::ifstream in(file.path, std::ios::binary);
    uint64_t left = file.size;
    static thread_local std::vector<uint8_t> piece(1 << 20);
    while (in && left > 0) {
      const std::streamsize want = static_cast<std::streamsize>(std::min<uint64_t>(left, piece.size()));
      in.read(reinterpret_cast<char*>(piece.data()), want);
      out.insert(out.end(), piece.data(), piece.data() + in.gcount());
      left -= static_cast<uint64_t>(in.gcount());
    }
    if (left != 0 || in.peek() != std::char_traits<char>::eof()) {
      return "archive \"" + file.path.generic_string() + "\" could not be read whole (did it change?)";
    }
  }
  return std::nullopt;
}

Error DecodeArchives(std::span<const uint8_t> data, std::vector<ArchiveInfo>& out) {
  out.clear();
  if (data.size() < 4) return "the archive resource is shorter than its count";
  const int32_t count = static_cast<int32_t>(GetLittleEndian(data, 0, 4));
  size_t position = 4;
  for (int32_t i = 0; i < count; ++i) {
    ArchiveInfo info;
    size_t end = position;
    while (end < data.size() && data[end] != 0) ++end;
    if (end >= data.size()) return "archive entry " + std::to_string(i + 1) + " has a name that runs past the data";
    info.name.assign(reinterpret_cast<const char*>(data.data() + position), end - position);
    position = end + 1;
    if (data.size() - position < 12) return "archive entry " + std::to_string(i + 1) + " is cut short";
    info.fileTime = GetLittleEndian(data, position, 8);
    info.size = static_cast<uint32_t>(GetLittleEndian(data, position + 8, 4));
    position += 12;
    if (info.size > data.size() - position) {
      return "archive entry " + std::to_string(i + 1) + " (" + info.name + ") claims more bytes than the data holds";
    }
    position += info.size;
    out.push_back(std::move(info));
  }
  return std::nullopt;
}

}  // namespace corvane::builder
