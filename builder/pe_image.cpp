#include "pe_image.h"

#include "byte_order.h"

#include <algorithm>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace corvane::builder {

namespace {

constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kMagicPe32 = 0x10B;
constexpr uint16_t kMagicPe32Plus = 0x20B;
constexpr size_t kCoffHeader = 20;
constexpr size_t kOptionalFixed = 112;  // the PE32+ optional header before its data directories
constexpr size_t kSectionHeader = 40;

// COFF header fields, from its start.
constexpr size_t kCoffSectionCount = 2;
constexpr size_t kCoffTimeDateStamp = 4;
constexpr size_t kCoffSymbolTable = 8;
constexpr size_t kCoffSymbolCount = 12;
constexpr size_t kCoffOptionalSize = 16;

// Optional header fields, from its start.
constexpr size_t kOptSizeOfInitializedData = 8;
constexpr size_t kOptEntryPoint = 16;
constexpr size_t kOptSectionAlignment = 32;
constexpr size_t kOptFileAlignment = 36;
constexpr size_t kPageSize = 4096;
constexpr size_t kOptSizeOfImage = 56;
constexpr size_t kOptSizeOfHeaders = 60;
constexpr size_t kOptCheckSum = 64;
constexpr size_t kOptSubsystem = 68;
constexpr size_t kOptDirectoryCount = 108;

constexpr uint32_t kDirResource = 2;
constexpr uint32_t kDirSecurity = 4;  // holds a file offset, not an RVA
constexpr uint32_t kDirBaseRelocation = 5;

constexpr uint32_t kScnCode = 0x20;
constexpr uint32_t kScnInitializedData = 0x40;
constexpr uint32_t kScnExecute = 0x20000000;
constexpr uint32_t kScnRead = 0x40000000;

const char* const kDirectoryNames[] = {"export table", "import table", "resource table", "exception table",
                                       "certificate table", "base relocation table", "debug directory",
                                       "architecture data", "global pointer", "TLS table",
                                       "load configuration", "bound import table", "import address table",
                                       "delay import table", "CLR header", "reserved directory"};

bool IsPowerOfTwo(uint32_t v) { return v != 0 && (v & (v - 1)) == 0; }

struct Section {
  std::string name;
  uint32_t virtualSize = 0, virtualAddress = 0, rawSize = 0, rawPointer = 0, characteristics = 0;
  size_t header = 0;  // file offset of its section table entry
  // Bytes it occupies in memory (a VirtualSize of 0 means the raw size).
  uint64_t Extent() const { return virtualSize != 0 ? virtualSize : rawSize; }
  // Bytes of it that come from the file.
  uint32_t Mapped() const { return virtualSize != 0 ? std::min(virtualSize, rawSize) : rawSize; }
  bool Holds(uint64_t rva) const { return rva >= virtualAddress && rva < virtualAddress + Extent(); }
  bool Overlaps(uint64_t rva, uint64_t size) const {
    const uint64_t end = rva + std::max<uint64_t>(size, 1);
    return rva < virtualAddress + Extent() && end > virtualAddress;
  }
};

struct Directory {
  uint32_t rva = 0, size = 0;
  bool Present() const { return rva != 0 && size != 0; }
};

struct Headers {
  size_t coff = 0, optional = 0, sectionTable = 0;
  uint16_t optionalSize = 0;
  uint32_t directoryCount = 0, fileAlignment = 0, sectionAlignment = 0, sizeOfHeaders = 0, entryPoint = 0;
  std::vector<Section> sections;

  size_t DirectoryAt(uint32_t index) const { return optional + kOptionalFixed + 8 * static_cast<size_t>(index); }
  Directory Get(std::span<const uint8_t> file, uint32_t index) const {
    if (index >= directoryCount) return {};
    return {Le32(file, DirectoryAt(index)), Le32(file, DirectoryAt(index) + 4)};
  }
  const Section* SectionHolding(uint64_t rva) const {
    for (const auto& s : sections) {
      if (s.Holds(rva)) return &s;
    }
    return nullptr;
  }
};

Error ReadHeaders(std::span<const uint8_t> f, Headers& h) {
  if (f.size() < 0x40) return "the file is too short to be a Windows executable (" + std::to_string(f.size()) + " bytes)";
  if (f[0] != 'M' || f[1] != 'Z') return std::string("the file has no \"MZ\" signature: it is not a Windows executable");
  const uint32_t peOffset = Le32(f, 0x3C);
  if (!Fits(f.size(), peOffset, 4 + kCoffHeader)) {
    return "the PE header offset (" + Hex(peOffset) + ") lies past the end of the file";
  }
  if (f[peOffset] != 'P' || f[peOffset + 1] != 'E' || f[peOffset + 2] != 0 || f[peOffset + 3] != 0) {
    return "the file has no \"PE\" signature at offset " + Hex(peOffset) + ": it is not a Windows executable";
  }
  h.coff = peOffset + 4;
  const uint16_t machine = Le16(f, h.coff);
  if (machine != kMachineAmd64) return "the executable is for machine " + Hex(machine) + ", not x64 (0x8664)";
  h.optionalSize = Le16(f, h.coff + kCoffOptionalSize);
  h.optional = h.coff + kCoffHeader;
  if (!Fits(f.size(), h.optional, h.optionalSize)) return std::string("the optional header runs past the end of the file");
  if (h.optionalSize < 2) return std::string("the executable has no optional header");
  const uint16_t magic = Le16(f, h.optional);
  if (magic == kMagicPe32) return std::string("the executable is a 32-bit (PE32) image, not a 64-bit (PE32+) one");
  if (magic != kMagicPe32Plus) return "the optional header has an unknown magic number (" + Hex(magic) + ")";
  if (h.optionalSize < kOptionalFixed) {
    return "the optional header (" + std::to_string(h.optionalSize) + " bytes) is too short for a PE32+ image";
  }
  h.directoryCount = Le32(f, h.optional + kOptDirectoryCount);
  if (h.directoryCount > (h.optionalSize - kOptionalFixed) / 8) {
    return "the optional header claims " + std::to_string(h.directoryCount) + " data directories but has room for " +
           std::to_string((h.optionalSize - kOptionalFixed) / 8);
  }
  h.sectionAlignment = Le32(f, h.optional + kOptSectionAlignment);
  h.fileAlignment = Le32(f, h.optional + kOptFileAlignment);
  if (!IsPowerOfTwo(h.fileAlignment) || !IsPowerOfTwo(h.sectionAlignment) || h.fileAlignment > h.sectionAlignment) {
    return "the alignments (file " + Hex(h.fileAlignment) + ", section " + Hex(h.sectionAlignment) +
           ") are not powers of two with the file's no larger than the section's";
  }
  h.sizeOfHeaders = Le32(f, h.optional + kOptSizeOfHeaders);
  h.entryPoint = Le32(f, h.optional + kOptEntryPoint);

  const uint16_t count = Le16(f, h.coff + kCoffSectionCount);
  h.sectionTable = h.optional + h.optionalSize;
  if (!Fits(f.size(), h.sectionTable, kSectionHeader * count)) {
    return "the section table (" + std::to_string(count) + " sections) runs past the end of the file";
  }
  if (h.sectionTable + kSectionHeader * count > h.sizeOfHeaders || h.sizeOfHeaders > f.size()) {
    return "SizeOfHeaders (" + Hex(h.sizeOfHeaders) + ") does not cover the section table or lies past the end of the file";
  }
  h.sections.clear();
  uint64_t memoryEnd = 0;
  for (uint16_t i = 0; i < count; ++i) {
    const size_t at = h.sectionTable + kSectionHeader * i;
    Section s;
    for (size_t c = 0; c < 8 && f[at + c] != 0; ++c) s.name += static_cast<char>(f[at + c]);
    s.virtualSize = Le32(f, at + 8);
    s.virtualAddress = Le32(f, at + 12);
    s.rawSize = Le32(f, at + 16);
    s.rawPointer = Le32(f, at + 20);
    s.characteristics = Le32(f, at + 36);
    s.header = at;
    if (s.rawSize != 0 && !Fits(f.size(), s.rawPointer, s.rawSize)) {
      return "the data of section \"" + s.name + "\" (offset " + Hex(s.rawPointer) + ", " + std::to_string(s.rawSize) +
             " bytes) runs past the end of the file";
    }
    if (s.virtualAddress < memoryEnd || s.virtualAddress + s.Extent() > 0xFFFFFFFFull) {
      return "section \"" + s.name + "\" (RVA " + Hex(s.virtualAddress) +
             ") overlaps the one before it or lies past 4 GiB: sections must follow each other in memory";
    }
    memoryEnd = s.virtualAddress + s.Extent();
    h.sections.push_back(std::move(s));
  }
  return std::nullopt;
}

// The bytes of the image at an RVA, taken from the section holding it; empty when they are not all
// in one section's file data.
std::span<const uint8_t> BytesAt(std::span<const uint8_t> f, const Headers& h, uint32_t rva, uint32_t size) {
  const Section* s = h.SectionHolding(rva);
  if (s == nullptr || !Fits(s->Mapped(), rva - s->virtualAddress, size)) return {};
  return f.subspan(s->rawPointer + (rva - s->virtualAddress), size);
}

// Refuses base relocations that patch bytes at or after `firstMovedRva`: those bytes are about to be
// replaced or moved, and the loader would patch the new resources instead.
Error CheckRelocations(std::span<const uint8_t> f, const Headers& h, uint64_t firstMovedRva) {
  const Directory dir = h.Get(f, kDirBaseRelocation);
  if (!dir.Present()) return std::nullopt;
  const auto blocks = BytesAt(f, h, dir.rva, dir.size);
  if (blocks.empty()) return "the base relocation table (RVA " + Hex(dir.rva) + ") lies outside every section's data";
  size_t at = 0;
  while (at < blocks.size()) {
    if (!Fits(blocks.size(), at, 8)) return std::string("the base relocation table ends in a partial block");
    const uint32_t page = Le32(blocks, at);
    const uint32_t blockSize = Le32(blocks, at + 4);
    if (blockSize < 8 || !Fits(blocks.size(), at, blockSize)) {
      return "the base relocation block at " + Hex(dir.rva + at) + " has a size (" + std::to_string(blockSize) +
             ") that does not fit the table";
    }
    for (size_t e = at + 8; e + 2 <= at + blockSize; e += 2) {
      const uint16_t entry = Le16(blocks, e);
      const unsigned type = entry >> 12;
      if (type == 0) continue;  // padding
      const uint64_t width = type == 10 ? 8 : type == 3 ? 4 : (type == 1 || type == 2) ? 2 : 8;
      const uint64_t target = static_cast<uint64_t>(page) + (entry & 0xFFF);
      if (target + width > firstMovedRva) {
        return "a base relocation patches RVA " + Hex(target) + ", in or after the resource section";
      }
    }
    at += blockSize;
  }
  return std::nullopt;
}

// Refuses to drop or move a section that anything but its own directory refers to.
Error CheckMovable(std::span<const uint8_t> f, const Headers& h, const Section& s, uint32_t ownDirectory) {
  if (s.characteristics & (kScnCode | kScnExecute)) return "section \"" + s.name + "\" holds code";
  if (s.Holds(h.entryPoint)) return "the entry point lies in section \"" + s.name + "\"";
  for (uint32_t i = 0; i < h.directoryCount; ++i) {
    if (i == ownDirectory || i == kDirSecurity) continue;
    const Directory dir = h.Get(f, i);
    if (dir.rva != 0 && s.Overlaps(dir.rva, dir.size)) {
      const std::string what = i < std::size(kDirectoryNames) ? kDirectoryNames[i] : "data directory " + std::to_string(i);
      return "section \"" + s.name + "\" also holds the " + what;
    }
  }
  return std::nullopt;
}

void WriteSectionHeader(Bytes& out, size_t at, const Section& s) {
  std::fill(out.begin() + static_cast<ptrdiff_t>(at), out.begin() + static_cast<ptrdiff_t>(at + kSectionHeader), 0);
  for (size_t c = 0; c < 8 && c < s.name.size(); ++c) out[at + c] = static_cast<uint8_t>(s.name[c]);
  Put32(out, at + 8, s.virtualSize);
  Put32(out, at + 12, s.virtualAddress);
  Put32(out, at + 16, s.rawSize);
  Put32(out, at + 20, s.rawPointer);
  Put32(out, at + 36, s.characteristics);
}

}  // namespace

Error PeImage::Parse(Bytes file, PeImage& out) {
  Headers h;
  if (auto e = ReadHeaders(file, h)) return e;
  out.file_ = std::move(file);
  return std::nullopt;
}

Error PeImage::ReadResources(ResourceTree& out) const {
  Headers h;
  if (auto e = ReadHeaders(file_, h)) return e;
  const Directory dir = h.Get(file_, kDirResource);
  if (dir.rva == 0) {
    out = ResourceTree{};
    return std::nullopt;
  }
  const Section* s = h.SectionHolding(dir.rva);
  if (s == nullptr) return "the resource directory (RVA " + Hex(dir.rva) + ") lies in no section";
  // A section without file data may give any raw pointer: only one with data was checked.
  const auto bytes = s->Mapped() != 0 ? std::span<const uint8_t>(file_).subspan(s->rawPointer, s->Mapped())
                                      : std::span<const uint8_t>();
  ResourceTree tree;
  if (auto e = ParseResources(bytes, s->virtualAddress, dir.rva, tree)) return e;
  out = std::move(tree);
  return std::nullopt;
}

Error PeImage::ReplaceResources(const ResourceTree& tree) {
  Headers h;
  if (auto e = ReadHeaders(file_, h)) return e;
  if (h.directoryCount <= kDirResource) return std::string("the optional header has no entry for resources");
  if (auto e = CheckResourceLayout(tree)) return e;
  const std::span<const uint8_t> f(file_);
  const size_t count = h.sections.size();

  // The resource section, and the relocation section that may follow it: both go.
  size_t cut = count;  // sections before this one stay where they are
  std::optional<size_t> resourceIndex, relocationIndex;
  const Directory resourceDir = h.Get(f, kDirResource);
  if (resourceDir.rva != 0) {
    const Section* s = h.SectionHolding(resourceDir.rva);
    if (s == nullptr) return "the resource directory (RVA " + Hex(resourceDir.rva) + ") lies in no section";
    resourceIndex = static_cast<size_t>(s - h.sections.data());
    if (auto e = CheckMovable(f, h, *s, kDirResource)) return *e + ": it cannot be replaced";
    cut = *resourceIndex;
    const Directory relocationDir = h.Get(f, kDirBaseRelocation);
    for (size_t i = cut + 1; i < count; ++i) {
      const Section& next = h.sections[i];
      const bool isRelocation = i == cut + 1 && (next.name == ".reloc" || (relocationDir.rva != 0 && next.Holds(relocationDir.rva)));
      if (!isRelocation) return "section \"" + next.name + "\" follows the resource section";
      if (auto e = CheckMovable(f, h, next, kDirBaseRelocation)) return *e + ": it cannot be moved";
      relocationIndex = i;
    }
  }

  uint64_t keptMemoryEnd = AlignUp(h.sizeOfHeaders, h.sectionAlignment);
  uint64_t keptRawEnd = h.sizeOfHeaders;
  for (size_t i = 0; i < cut; ++i) {
    const Section& s = h.sections[i];
    keptMemoryEnd = std::max(keptMemoryEnd, AlignUp(s.virtualAddress + s.Extent(), h.sectionAlignment));
    if (s.rawSize != 0) keptRawEnd = std::max<uint64_t>(keptRawEnd, static_cast<uint64_t>(s.rawPointer) + s.rawSize);
  }
  const uint64_t firstMovedRva = resourceIndex ? h.sections[*resourceIndex].virtualAddress : keptMemoryEnd;
  if (auto e = CheckRelocations(f, h, firstMovedRva)) return e;

  // What follows the sections in the file: a certificate table goes; anything else but zero padding
  // would be cut off or land inside the new sections, so it is refused.
  uint64_t rawEnd = h.sizeOfHeaders;
  for (const auto& s : h.sections) {
    if (s.rawSize != 0) rawEnd = std::max<uint64_t>(rawEnd, static_cast<uint64_t>(s.rawPointer) + s.rawSize);
  }
  const Directory certificates = h.Get(f, kDirSecurity);
  if (certificates.Present()) {
    if (!Fits(f.size(), certificates.rva, certificates.size)) {
      return "the certificate table (offset " + Hex(certificates.rva) + ", " + std::to_string(certificates.size) +
             " bytes) runs past the end of the file";
    }
    if (certificates.rva < rawEnd) return std::string("the certificate table lies inside the image's sections");
  }
  uint64_t overlay = 0;
  for (uint64_t at = rawEnd; at < f.size(); ++at) {
    const bool inCertificates = certificates.Present() && at >= certificates.rva && at - certificates.rva < certificates.size;
    if (!inCertificates && f[at] != 0) ++overlay;
  }
  if (overlay != 0) {
    return "the file has data after its last section (" + std::to_string(f.size() - rawEnd) +
           " bytes: appended data or debug symbols) that would be lost";
  }

  // The new file: headers and kept sections as they are, then relocations, then resources.
  Bytes out(file_.begin(), file_.begin() + static_cast<ptrdiff_t>(keptRawEnd));
  uint64_t memoryEnd = keptMemoryEnd;
  std::vector<Section> added;
  uint64_t removedInitialized = 0, addedInitialized = 0;
  auto place = [&](Section s, std::span<const uint8_t> data) {
    out.resize(AlignUp(out.size(), h.fileAlignment), 0);
    s.virtualAddress = static_cast<uint32_t>(memoryEnd);  // checked against 4 GiB below
    s.rawSize = static_cast<uint32_t>(AlignUp(data.size(), h.fileAlignment));
    s.rawPointer = s.rawSize != 0 ? static_cast<uint32_t>(out.size()) : 0;
    out.insert(out.end(), data.begin(), data.end());
    out.resize(out.size() + (s.rawSize - data.size()), 0);
    memoryEnd = AlignUp(memoryEnd + s.Extent(), h.sectionAlignment);
    if (s.characteristics & kScnInitializedData) addedInitialized += s.rawSize;
    added.push_back(std::move(s));
  };
  for (size_t i = cut; i < count; ++i) {
    if (h.sections[i].characteristics & kScnInitializedData) removedInitialized += h.sections[i].rawSize;
  }

  Directory relocationDir = h.Get(f, kDirBaseRelocation);
  if (relocationIndex) {
    const Section& old = h.sections[*relocationIndex];
    place(old, old.rawSize != 0 ? f.subspan(old.rawPointer, old.rawSize) : std::span<const uint8_t>());
    if (relocationDir.rva != 0 && old.Holds(relocationDir.rva)) {
      relocationDir.rva = relocationDir.rva - old.virtualAddress + added.back().virtualAddress;
    }
  }
  Directory newResourceDir;
  if (!tree.All().empty()) {
    Section s;
    s.name = ".rsrc";
    s.characteristics = kScnInitializedData | kScnRead;
    if (resourceIndex) {
      const Section& old = h.sections[*resourceIndex];
      s.name = old.name;
      s.characteristics = (old.characteristics & ~(kScnCode | kScnExecute)) | kScnInitializedData | kScnRead;
    }
    if (memoryEnd > 0xFFFFFFFFull) return std::string("the image would grow past 4 GiB");
    // Written straight into the new file, so that large resources (carried archives) are copied once.
    // Starting on a page boundary lets a loader map the section from the file instead of reading it
    // whole at every start (Wine reads any section whose file offset is not page-aligned).
    out.resize(AlignUp(out.size(), std::max<size_t>(h.fileAlignment, kPageSize)), 0);
    const size_t start = out.size();
    const size_t size = AppendResources(tree, static_cast<uint32_t>(memoryEnd), h.fileAlignment, out);
    if (size == 0) return std::string("the resources do not fit below 4 GiB");
    s.virtualSize = static_cast<uint32_t>(size);
    s.virtualAddress = static_cast<uint32_t>(memoryEnd);
    s.rawSize = static_cast<uint32_t>(out.size() - start);
    s.rawPointer = static_cast<uint32_t>(start);
    memoryEnd = AlignUp(memoryEnd + s.Extent(), h.sectionAlignment);
    addedInitialized += s.rawSize;
    added.push_back(std::move(s));
    newResourceDir = {added.back().virtualAddress, added.back().virtualSize};
  }
  if (memoryEnd > 0xFFFFFFFFull || out.size() > 0xFFFFFFFFull) return std::string("the image would grow past 4 GiB");

  // Section table: the entries from `cut` on are rewritten; one more entry needs unused header room.
  const size_t newCount = cut + added.size();
  if (newCount > 0xFFFF) return std::string("the image would have too many sections");
  const size_t oldTableEnd = h.sectionTable + kSectionHeader * count;
  const size_t newTableEnd = h.sectionTable + kSectionHeader * newCount;
  if (newTableEnd > oldTableEnd) {
    uint64_t firstRaw = h.sizeOfHeaders;
    for (const auto& s : h.sections) {
      if (s.rawSize != 0) firstRaw = std::min<uint64_t>(firstRaw, s.rawPointer);
    }
    const bool room = newTableEnd <= firstRaw &&
                      std::all_of(f.begin() + static_cast<ptrdiff_t>(oldTableEnd),
                                  f.begin() + static_cast<ptrdiff_t>(newTableEnd), [](uint8_t b) { return b == 0; });
    if (!room) return std::string("the section table has no room for a resource section");
  }
  std::fill(out.begin() + static_cast<ptrdiff_t>(h.sectionTable + kSectionHeader * cut),
            out.begin() + static_cast<ptrdiff_t>(std::max(oldTableEnd, newTableEnd)), 0);
  for (size_t i = 0; i < added.size(); ++i) WriteSectionHeader(out, h.sectionTable + kSectionHeader * (cut + i), added[i]);
  Put16(out, h.coff + kCoffSectionCount, static_cast<uint16_t>(newCount));
  // A symbol table in the dropped part of the file is gone (only zeros could be there).
  if (Le32(f, h.coff + kCoffSymbolTable) >= keptRawEnd) {
    Put32(out, h.coff + kCoffSymbolTable, 0);
    Put32(out, h.coff + kCoffSymbolCount, 0);
  }

  Put32(out, h.optional + kOptSizeOfImage, static_cast<uint32_t>(memoryEnd));
  const uint32_t oldInitialized = Le32(f, h.optional + kOptSizeOfInitializedData);
  uint64_t initialized = 0;
  if (oldInitialized >= removedInitialized) {
    // Keep the linker's own sum and change only the part that changed.
    initialized = oldInitialized - removedInitialized + addedInitialized;
  } else {
    for (size_t i = 0; i < cut; ++i) {
      if (h.sections[i].characteristics & kScnInitializedData) initialized += h.sections[i].rawSize;
    }
    initialized += addedInitialized;
  }
  Put32(out, h.optional + kOptSizeOfInitializedData, static_cast<uint32_t>(std::min<uint64_t>(initialized, 0xFFFFFFFF)));
  Put32(out, h.DirectoryAt(kDirResource), newResourceDir.rva);
  Put32(out, h.DirectoryAt(kDirResource) + 4, newResourceDir.size);
  if (h.directoryCount > kDirSecurity) {
    Put32(out, h.DirectoryAt(kDirSecurity), 0);
    Put32(out, h.DirectoryAt(kDirSecurity) + 4, 0);
  }
  if (h.directoryCount > kDirBaseRelocation) Put32(out, h.DirectoryAt(kDirBaseRelocation), relocationDir.rva);

  PeImage rewritten;
  if (auto e = Parse(std::move(out), rewritten)) return "the rewritten image does not read back: " + *e;
  *this = std::move(rewritten);
  return std::nullopt;
}

bool PeImage::HasSignature() const {
  Headers h;
  if (ReadHeaders(file_, h)) return false;
  return h.Get(file_, kDirSecurity).Present();
}

uint16_t PeImage::Subsystem() const {
  Headers h;
  if (ReadHeaders(file_, h)) return 0;
  return Le16(file_, h.optional + kOptSubsystem);
}

void PeImage::SetSubsystem(uint16_t subsystem) {
  Headers h;
  if (ReadHeaders(file_, h)) return;
  Put16(file_, h.optional + kOptSubsystem, subsystem);
}

uint32_t PeImage::TimeDateStamp() const {
  Headers h;
  if (ReadHeaders(file_, h)) return 0;
  return Le32(file_, h.coff + kCoffTimeDateStamp);
}

void PeImage::SetTimeDateStamp(uint32_t stamp) {
  Headers h;
  if (ReadHeaders(file_, h)) return;
  Put32(file_, h.coff + kCoffTimeDateStamp, stamp);
}

Bytes PeImage::Serialize() const {
  Headers h;
  if (ReadHeaders(file_, h)) return {};
  Bytes out = file_;
  Put32(out, h.optional + kOptCheckSum, PeChecksum(out, h.optional + kOptCheckSum));
  return out;
}

Bytes PeImage::TakeSerialized() && {
  Headers h;
  if (ReadHeaders(file_, h)) return {};
  Put32(file_, h.optional + kOptCheckSum, PeChecksum(file_, h.optional + kOptCheckSum));
  return std::move(file_);
}

uint32_t PeChecksum(const Bytes& file, size_t checksumOffset) {
  // A one's-complement sum of 16-bit little-endian words: the carries can be added back at the end,
  // so the words are summed plainly and the checksum field's own bytes taken out again.
  const size_t size = file.size();
  uint64_t sum = 0;
  for (size_t i = 0; i + 1 < size; i += 2) sum += file[i] | (static_cast<uint32_t>(file[i + 1]) << 8);
  if (size % 2 != 0) sum += file[size - 1];
  for (size_t i = checksumOffset; i < checksumOffset + 4 && i < size; ++i) {
    sum -= static_cast<uint64_t>(file[i]) << (i % 2 == 0 ? 0 : 8);
  }
  while ((sum >> 16) != 0) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum + size);
}

}  // namespace corvane::builder
