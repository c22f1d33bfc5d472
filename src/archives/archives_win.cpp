// Carried archives: written into TempDir at start-up, put on the class path, and removed by a
// clean-up child once the application has ended. The resource may have been edited by anybody, so
// its layout is checked whole before use and only bare file names are ever joined to TempDir.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "archives/archive_layout.h"
#include "archives/archives.h"
#include "base/handles_win.h"
#include "base/launch_config.h"
#include "base/process_state_win.h"
#include "base/start_paths.h"
#include "base/text.h"
#include "base/trace.h"
#include "ui/report_win.h"

int32_t ArchiveCount = 0;

namespace {

struct ArchiveBytes {
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// The archive resource when it exists, holds at least 2 bytes and can be locked.
bool FindArchiveResource(ArchiveBytes* out) {
  const HMODULE module = GetModuleHandleA(nullptr);
  const HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(10) /* RT_RCDATA */);
  if (info == nullptr) return false;
  const DWORD size = SizeofResource(module, info);
  const HGLOBAL loaded = size >= 2 ? LoadResource(module, info) : nullptr;
  const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (data == nullptr) return false;
  out->data = static_cast<const uint8_t*>(data);
  out->size = size;
  return true;
}

// A link or junction in the place of TempDir would send writes and deletions elsewhere. "." is the
// application's own folder, which the launcher trusts as it trusts its own executable.
bool TempDirIsOurs() {
  if (TempDir[0] == '\0') return false;
  if (std::strcmp(TempDir, ".") == 0) return true;
  const DWORD attributes = GetFileAttributesA(TempDir);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

enum class Existing { Missing, UpToDate, Different, InUse };

// Compares the file at `path` with the entry by size and exact last-write time. A link is never
// opened through: it counts as different and is replaced by the rename.
Existing CompareExisting(const char* path, const ArchiveEntryView& entry) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return Existing::Missing;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return Existing::Different;
  UniqueFile file(CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  // Held open by another launcher or the JVM of a running instance, or a folder: it stays as it is.
  if (!file.Valid()) return Existing::InUse;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file.Get(), &size)) {
    ReportLastError("Internal error RC000006");
    return Existing::Different;
  }
  FILETIME written;
  const FILETIME wanted{entry.timeLow, entry.timeHigh};
  if (size.QuadPart == entry.size && GetFileTime(file.Get(), nullptr, nullptr, &written) &&
      CompareFileTime(&written, &wanted) == 0) {
    return Existing::UpToDate;
  }
  return Existing::Different;
}

// A name for the file being written, unique to this process and entry, short enough for any TempDir
// that fits a path with a name in it.
bool TemporaryPath(char* out, uint32_t index) {
  char name[48] = "~corvane-";
  char* at = name + std::strlen(name);
  for (uint32_t value : {static_cast<uint32_t>(GetCurrentProcessId()), index}) {
    for (int shift = 28; shift >= 0; shift -= 4) *at++ = "0123456789abcdef"[(value >> shift) & 0xF];
    *at++ = '-';
  }
  std::strcpy(at - 1, ".tmp");
  return JoinPath(out, TempDir, name) != nullptr;
}

enum class WriteResult { Written, Skipped, Failed };

// Writes the entry under a temporary name and renames it into place, so that another launcher never
// loads a half-written archive. On Failed the last error holds the reason.
WriteResult WriteArchive(const char* path, const ArchiveEntryView& entry, uint32_t index) {
  char temporary[PathCapacity];
  if (!TemporaryPath(temporary, index)) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return WriteResult::Failed;
  }
  // CREATE_NEW never writes through a link planted under the temporary name; a leftover of an
  // earlier run (or such a link) is removed first.
  DeleteFileA(temporary);
  UniqueFile file(CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) {
    const DWORD error = GetLastError();
    if (Exists(path)) return WriteResult::Skipped;
    SetLastError(error);
    return WriteResult::Failed;
  }
  DWORD written = 0;
  const FILETIME time{entry.timeLow, entry.timeHigh};
  bool ok = WriteFile(file.Get(), entry.data, entry.size, &written, nullptr) != 0;
  if (ok && written != entry.size) {
    SetLastError(ERROR_WRITE_FAULT);
    ok = false;
  }
  ok = ok && SetFileTime(file.Get(), nullptr, nullptr, &time) != 0;
  file.Reset();
  if (ok && MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING)) return WriteResult::Written;
  const DWORD error = GetLastError();
  DeleteFileA(temporary);
  // A file that exists but cannot be replaced (held open elsewhere) stays as it is, unreported.
  if (ok && Exists(path)) return WriteResult::Skipped;
  SetLastError(error);
  return WriteResult::Failed;
}

struct Extraction {
  ScopedTextBuffer list;  // "path;" per archive on the class path
  uint32_t index = 0;
  bool badNameReported = false;
  bool failed = false;
};

bool ExtractEntry(const ArchiveEntryView& entry, void* context) {
  auto* state = static_cast<Extraction*>(context);
  const uint32_t index = state->index++;
  if (ClassifyArchiveName(entry.name) != ArchiveNameProblem::None) {
    Trace({"archive \"", entry.name, "\": not a plain file name, skipped"});
    if (!state->badNameReported) {
      ReportError("The carried archive \"%s\" was not extracted: its name is not a plain file name.", entry.name);
      state->badNameReported = true;
    }
    return true;
  }
  char path[PathCapacity];
  if (JoinPath(path, TempDir, entry.name) == nullptr) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    ReportLastError(Message(MessageFileWrite), entry.name);
    state->failed = true;
    return false;
  }
  if (!AppendText(&state->list, path) || !AppendText(&state->list, ";")) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    ReportLastError(Message(MessageFileWrite), path);
    state->failed = true;
    return false;
  }
  const Existing existing = CompareExisting(path, entry);
  if (existing == Existing::UpToDate || existing == Existing::InUse) {
    Trace({"archive ", path, existing == Existing::UpToDate ? ": unchanged, skipped" : ": in use, left as it is"});
    return true;
  }
  const WriteResult written = WriteArchive(path, entry, index);
  if (written == WriteResult::Failed) {
    Trace({"archive ", path, ": cannot be written"});
    ReportLastError(Message(MessageFileWrite), path);
    state->failed = true;
    return false;
  }
  Trace({"archive ", path, written == WriteResult::Written ? ": written" : ": in use, left as it is"});
  return true;
}

// Calls `visit` for each entry of a usable, undamaged resource; answers the layout's result.
ArchiveLayoutResult ReadResource(int32_t* count, bool (*visit)(const ArchiveEntryView&, void*), void* context) {
  *count = 0;
  ArchiveBytes resource;
  if (!FindArchiveResource(&resource)) return ArchiveLayoutResult::Empty;
  return ReadArchiveLayout(resource.data, resource.size, count, visit, context);
}

}  // namespace

char* ExtractArchives() {
  int32_t count = 0;
  // The layout is checked whole before any entry is looked at, so nothing is read past its end.
  if (ReadResource(&count, [](const ArchiveEntryView&, void*) { return false; }, nullptr) ==
      ArchiveLayoutResult::Damaged) {
    ReportError("The carried archives were not extracted: the program's archive resource is damaged.");
    return nullptr;
  }
  // Without a temporary folder (already reported) nothing is written, and nothing is to be removed.
  if (count <= 0 || TempDir[0] == '\0') {
    if (count > 0) Trace({"archives: none written, there is no temporary folder"});
    return nullptr;
  }
  if (Tracing()) Trace({"archives: ", DecimalText(count).text, " carried, folder ", TempDir});
  ArchiveCount = count;
  // A folder that cannot be made is reported by the first archive that cannot be written into it.
  if (std::strcmp(TempDir, ".") != 0) CreateDirectoryA(TempDir, nullptr);
  const DWORD attributes = std::strcmp(TempDir, ".") != 0 ? GetFileAttributesA(TempDir) : FILE_ATTRIBUTE_DIRECTORY;
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    SetLastError(ERROR_CANT_ACCESS_FILE);
    ReportLastError(Message(MessageFileWrite), TempDir);
    return nullptr;
  }
  Extraction state;
  ReadResource(&count, ExtractEntry, &state);
  if (state.failed || state.list.text == nullptr) return nullptr;
  char* carried = state.list.text;
  state.list.text = nullptr;  // handed to the caller
  return carried;
}

void CleanupChild(const char* parentProcessId) {
  char* end = nullptr;
  const unsigned long id = std::strtoul(parentProcessId, &end, 10);
  const UniqueProcess parent((end != parentProcessId && *end == '\0') ? OpenProcess(SYNCHRONIZE, FALSE, id) : nullptr);
  // A parent that cannot be opened has ended already (or never was): nothing to wait for.
  if (parent.Valid()) WaitForSingleObject(parent.Get(), 30000);
  if (!TempDirIsOurs()) return;
  int32_t count = 0;
  ReadResource(
      &count,
      [](const ArchiveEntryView& entry, void*) {
        char path[PathCapacity];
        // Only the files the resource names, and only inside TempDir: a link is removed, not followed.
        if (ClassifyArchiveName(entry.name) == ArchiveNameProblem::None && JoinPath(path, TempDir, entry.name)) {
          DeleteFileA(path);
        }
        return true;
      },
      nullptr);
  if (std::strcmp(TempDir, ".") != 0) RemoveDirectoryA(TempDir);
}

void SpawnCleanupChild() {
  char executable[PathCapacity];
  if (!GetExecutablePath(executable)) return;
  char directory[PathCapacity];
  ExecutableDirectory(executable, directory);
  char command[PathCapacity + sizeof(CleanupSwitch) + 16];
  FormatText(command, sizeof(command), "\"%s\" %s %lu", executable, CleanupSwitch, GetCurrentProcessId());
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  // Started in the executable's folder, so that a relative TempDir names the folder the archives
  // were extracted into (not the application's working folder); it inherits no handles.
  // Nobody waits for the child or could tell the user more than that the archives stay: a child
  // that cannot start leaves them for the next start to reuse.
  if (CreateProcessA(nullptr, command, nullptr, nullptr, FALSE,
                     CREATE_DEFAULT_ERROR_MODE | CREATE_NO_WINDOW | DETACHED_PROCESS, nullptr, directory, &startup,
                     &process)) {
    const UniqueThread thread(process.hThread);
    const UniqueProcess child(process.hProcess);
  }
}
