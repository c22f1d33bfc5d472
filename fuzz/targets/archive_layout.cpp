// The carried-archive resource as the launcher reads it (ReadArchiveLayout) and as corvane-build
// inspects it (DecodeArchives): what the launcher uses the builder reads alike, every entry lies
// inside it, and a name the launcher would write is one the builder accepts. Input: its bytes.
#include <cstring>

#include "archive_resource.h"
#include "archives/archive_layout.h"
#include "fuzz_support.h"

using namespace corvane::builder;

namespace {
struct Visit { const uint8_t *begin, *end; size_t entries; };
bool Check(const ArchiveEntryView& entry, void* context) {
  auto* visit = static_cast<Visit*>(context);
  FUZZ_CHECK(entry.data >= visit->begin && entry.data <= visit->end && entry.size <= size_t(visit->end - entry.data));
  FUZZ_CHECK(reinterpret_cast<const uint8_t*>(entry.name) >= visit->begin && entry.name + std::strlen(entry.name) < (const char*)visit->end);
  FUZZ_CHECK((ClassifyArchiveName(entry.name) == ArchiveNameProblem::None) == !CheckArchiveName(entry.name));
  return ++visit->entries, true;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Visit visit{data, data + size, 0};
  int32_t count = -1;
  const ArchiveLayoutResult result = ReadArchiveLayout(data, size, &count, Check, &visit);
  std::vector<ArchiveInfo> decoded;
  const bool refused = DecodeArchives(std::span<const uint8_t>(data, size), decoded).has_value();
  FUZZ_CHECK(result != ArchiveLayoutResult::Damaged || refused);  // a shorter resource may be empty to the launcher
  FUZZ_CHECK(result != ArchiveLayoutResult::Complete || (!refused && decoded.size() == visit.entries));
  FUZZ_CHECK(result == ArchiveLayoutResult::Complete || visit.entries == 0);
  return 0;
}
