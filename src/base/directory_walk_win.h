// Walking a folder tree as the class-path folders and the search for jvm.dll both do: depth first,
// in listing order, never into a junction or link (it may lead back up the tree), and never to a
// path that would not fit PathCapacity (every level makes paths longer, which also bounds the depth).
#pragma once

enum class WalkResult {
  Completed,      // every file was visited (an empty or missing folder has none)
  Stopped,        // the visitor asked to stop
  ListingFailed,  // a folder could not be listed (the thread's last error says why)
  ReadingFailed,  // a listing broke off (the thread's last error says why)
};

using FileVisitor = bool (*)(const char* folder, const char* name, void* context);

// Calls `visit` with the folder (as joined from `directory`, whose text is kept) and the name of each
// file below `directory`; it answers true to stop. With `stopOnFailure` the first folder that cannot
// be listed or read ends the walk with that failure; without, such a folder is passed over.
WalkResult WalkDirectory(const char* directory, bool stopOnFailure, FileVisitor visit, void* context);

template <typename Visit>
WalkResult WalkDirectory(const char* directory, bool stopOnFailure, Visit visit) {
  return WalkDirectory(
      directory, stopOnFailure,
      [](const char* folder, const char* name, void* context) { return (*static_cast<Visit*>(context))(folder, name); },
      &visit);
}
