// A 64-bit Windows executable (PE32+) held in memory, for replacing its resources. Every header
// field read from the file is checked against the file's size: the input may be any file.
#pragma once

#include <cstdint>

#include "error.h"
#include "resource_tree.h"

namespace corvane::builder {

// The optional header's subsystem: a launcher is the same code as either kind.
constexpr uint16_t GuiSubsystem = 2, ConsoleSubsystem = 3;

class PeImage {
 public:
  // Checks and takes a file's bytes: "MZ" and "PE\0\0" signatures, machine AMD64, an optional header
  // of the PE32+ kind, section table and every section's raw data inside the file.
  static Error Parse(Bytes file, PeImage& out);

  // The image's resources (an empty tree when it has none).
  Error ReadResources(ResourceTree& out) const;

  // Makes `tree` the image's resources. The old resource section goes, and with it a base-relocation
  // section that follows it (moved up, its directory entry fixed); the new resource section becomes
  // the last section. Data directories, section table, SizeOfImage and SizeOfInitializedData follow.
  // Any Authenticode signature (security directory and certificate table) is removed, and the file
  // ends with the new resource section. Bytes after the last section other than the certificate
  // table (appended data, debug symbols) would be lost or misplaced, so they make this fail unless
  // they are all zero (padding). An empty tree leaves the image without a resource section.
  // Fails (image unchanged) when other sections follow the resource section, the resource or
  // relocation section holds anything else the image refers to, a base relocation patches bytes at
  // or after the resource section, or the section table has no room for a new entry.
  Error ReplaceResources(const ResourceTree& tree);

  // True when the image carries a certificate table (security directory).
  bool HasSignature() const;
  uint16_t Subsystem() const;
  void SetSubsystem(uint16_t subsystem);
  uint32_t TimeDateStamp() const;
  void SetTimeDateStamp(uint32_t stamp);

  // The file's bytes, with the optional header's checksum recomputed.
  Bytes Serialize() const;
  // The same without a copy; the image is left empty.
  Bytes TakeSerialized() &&;

 private:
  Bytes file_;
};

// The PE checksum of a file whose checksum field lies at `checksumOffset` (the field counts as 0).
uint32_t PeChecksum(const Bytes& file, size_t checksumOffset);

}  // namespace corvane::builder
