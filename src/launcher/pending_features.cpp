// Features this build does not have yet, kept in one place so that each can be removed when it lands.
// Each one tells the user that it is missing and answers failure, or does nothing where the feature
// itself never reports anything.
#include <cstdint>

#include "launcher/archives.h"
#include "ui/report.h"

// --- Carried archives ---
int32_t ArchiveCount = 0;

void ExtractArchives() {
  // Only an executable that carries archives would lose something here.
  if (FindResourceA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(10) /* RT_RCDATA */)) {
    ReportError("Carried archives are not part of this build yet; they are not extracted.");
  }
}

void CleanupChild(const char*) {}  // reports nothing by design; nothing was extracted

void SpawnCleanupChild() {}
