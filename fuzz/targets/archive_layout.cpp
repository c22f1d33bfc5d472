// The carried-archive resource (raw data 1) as the launcher reads it (ReadArchiveLayout) and as
// corvane-build inspects it (DecodeArchives): both must accept the same resources and see the same
// entries, every entry inside the resource. The names also go through the shared name rules, and
// the class path is extended with them. Input: the resource's bytes.
#include <cstring>
#include <string>
#include <vector>

#include "archive_resource.h"
#include "archives/archive_layout.h"
#include "base/text.h"
#include "fuzz_support.h"
#include "runtime/jvm_options.h"

using namespace corvane::builder;

namespace {

struct Visit {
  const uint8_t* begin;
  size_t size;
  std::vector<ArchiveEntryView> entries;
};

bool Collect(const ArchiveEntryView& entry, void* context) {
  auto* visit = static_cast<Visit*>(context);
  const uint8_t* end = visit->begin + visit->size;
  const auto* name = reinterpret_cast<const uint8_t*>(entry.name);
  FUZZ_CHECK(name >= visit->begin && name < end);
  FUZZ_CHECK(std::memchr(name, 0, static_cast<size_t>(end - name)) != nullptr);
  FUZZ_CHECK(entry.data >= visit->begin && entry.data <= end && entry.size <= static_cast<size_t>(end - entry.data));
  visit->entries.push_back(entry);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Visit visit{data, size, {}};
  int32_t count = -1;
  const ArchiveLayoutResult result = ReadArchiveLayout(data, size, &count, Collect, &visit);
  std::vector<ArchiveInfo> decoded;
  const Error refused = DecodeArchives(std::span<const uint8_t>(data, size), decoded);

  if (result != ArchiveLayoutResult::Complete) FUZZ_CHECK(visit.entries.empty());
  switch (result) {
    case ArchiveLayoutResult::Empty:
      FUZZ_CHECK(count <= 0);
      FUZZ_CHECK(decoded.empty());
      break;
    case ArchiveLayoutResult::Damaged:
      FUZZ_CHECK(refused.has_value());
      break;
    case ArchiveLayoutResult::Complete:
      FUZZ_CHECK(!refused.has_value());
      FUZZ_CHECK(count > 0 && visit.entries.size() == static_cast<size_t>(count));
      FUZZ_CHECK(decoded.size() == visit.entries.size());
      for (size_t i = 0; i < decoded.size(); ++i) {
        const ArchiveEntryView& entry = visit.entries[i];
        FUZZ_CHECK(decoded[i].name == entry.name && decoded[i].size == entry.size);
        FUZZ_CHECK(decoded[i].fileTime == (uint64_t{entry.timeHigh} << 32 | entry.timeLow));
      }
      break;
  }

  // Every name the launcher would extract: the builder applies the same rules to the same name.
  std::string extracted;
  for (const ArchiveEntryView& entry : visit.entries) {
    const bool usable = ClassifyArchiveName(entry.name) == ArchiveNameProblem::None;
    FUZZ_CHECK(usable == !CheckArchiveName(entry.name).has_value());
    if (usable) {
      FUZZ_CHECK(std::strlen(entry.name) <= MaxArchiveNameLength);
      FUZZ_CHECK(std::strpbrk(entry.name, "/\\:") == nullptr && std::strcmp(entry.name, "..") != 0);
      extracted += std::string("T\\") + entry.name + ";";
    }
  }
  const std::string configured = CText(std::string(reinterpret_cast<const char*>(data), size));
  char* classPath = ExtendClassPath(configured.c_str(), extracted.c_str());
  FUZZ_CHECK(classPath != nullptr);
  const size_t length = std::strlen(classPath);
  FUZZ_CHECK(length <= configured.size() + extracted.size());
  FUZZ_CHECK(std::strncmp(classPath, configured.c_str(), configured.size()) == 0);
  std::free(classPath);
  return 0;
}
