// Archives carried in the executable: written into TempDir at start and put on the class path, and
// removed again by a clean-up child process once the application has ended.
#pragma once

#include <cstdint>

// Number of entries of the archive resource once extraction has read it, else 0.
extern int32_t ArchiveCount;

// Writes the carried archives into TempDir. Answers what they add to the class path ("path;" per
// archive, malloc'd), or null when nothing is to be added: no archives, no TempDir, or a failure
// that has been reported. Never stops the launch.
char* ExtractArchives();

// The clean-up child: waits for the parent (decimal process id) to end, then deletes the archives
// and TempDir. Reports nothing.
void CleanupChild(const char* parentProcessId);

// Starts the clean-up child for this process; its result is not used.
void SpawnCleanupChild();
