#include "base/directory_walk_win.h"

#include <windows.h>

#include <cstring>

#include "base/handles_win.h"
#include "base/text.h"

WalkResult WalkDirectory(const char* directory, bool stopOnFailure, FileVisitor visit, void* context) {
  // One trailing separator of the folder's text is left out of the pattern only: the paths handed
  // on keep the text as it was given.
  char base[PathCapacity], pattern[PathCapacity];
  const size_t length = std::strlen(directory);
  if (length >= sizeof(base)) return WalkResult::Completed;  // past the path limit: nothing we can name
  std::memcpy(base, directory, length + 1);
  if (length > 0 && (base[length - 1] == '\\' || base[length - 1] == '/')) base[length - 1] = '\0';
  if (JoinPath(pattern, base, "*.*") == nullptr) return WalkResult::Completed;

  WIN32_FIND_DATAA found;
  const UniqueFind listing(FindFirstFileA(pattern, &found));
  if (!listing.Valid()) {
    const DWORD error = GetLastError();
    if (error == ERROR_NO_MORE_FILES || error == ERROR_FILE_NOT_FOUND) return WalkResult::Completed;
    return stopOnFailure ? WalkResult::ListingFailed : WalkResult::Completed;
  }
  do {
    const char* name = found.cFileName;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      if (visit(directory, name, context)) return WalkResult::Stopped;
      continue;
    }
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 ||
        (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      continue;
    }
    char below[PathCapacity];
    if (JoinPath(below, directory, name) == nullptr) continue;
    const WalkResult inner = WalkDirectory(below, stopOnFailure, visit, context);
    if (inner != WalkResult::Completed) return inner;
  } while (FindNextFileA(listing.Get(), &found));
  if (GetLastError() != ERROR_NO_MORE_FILES && stopOnFailure) return WalkResult::ReadingFailed;
  return WalkResult::Completed;
}
