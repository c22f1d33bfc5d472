// The archives a launcher carries: raw-data resource 1, a signed 32-bit count followed by the
// entries back to back, each a bare file name and its zero byte, the file's last-write time (a
// FILETIME, 8 bytes), its size (4 bytes) and its bytes; all integers little-endian.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "error.h"

namespace corvane::builder {

// An archive as the project names it: a path or a pattern with * and ? in its last part, and
// optionally the name it gets in the launcher.
struct ArchiveSource {
  std::string file;
  std::string name;  // empty: the file's own name
};

struct ArchiveFile {
  std::filesystem::path path;
  std::string name;
  uint64_t fileTime = 0;  // last-write time as a FILETIME (100 ns units since 1601-01-01 UTC)
  uint64_t size = 0;
};

// The largest total of archive bytes a launcher may carry (Windows does not load larger images).
constexpr uint64_t MaxArchiveTotal = (uint64_t{1} << 31) - (uint64_t{64} << 20);

// Finds the files of the sources, in order (the matches of one pattern sorted by name), and checks
// them: every pattern matches at least one file, names are bare file names that Windows accepts,
// no name twice (letter case ignored), no file of 4 GiB or more, and not too much in total.
Error ResolveArchives(const std::vector<ArchiveSource>& sources, std::vector<ArchiveFile>& out);

// The resource bytes of the files, read now (a file that changed size since it was resolved is an
// error).
Error EncodeArchives(const std::vector<ArchiveFile>& files, Bytes& out);

struct ArchiveInfo {
  std::string name;
  uint64_t fileTime = 0;
  uint32_t size = 0;
};
// The entries of an archive resource; counts, names and sizes that run past the data are an error.
Error DecodeArchives(std::span<const uint8_t> data, std::vector<ArchiveInfo>& out);

// Why a name cannot be an archive's file name in the launcher's temporary folder, or nothing.
Error CheckArchiveName(const std::string& name);

// The last-write time of a file as a FILETIME.
Error LastWriteFileTime(const std::filesystem::path& path, uint64_t& out);

}  // namespace corvane::builder
