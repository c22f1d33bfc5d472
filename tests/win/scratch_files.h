// Scratch files and folders for the Windows-side tests. Made through the "\\?\\" form, so that trees
// deeper than a path can name are possible.
#pragma once

#include <windows.h>

#include <string>

namespace corvane::test {

std::wstring LongForm(const std::string& path);
// The folder of the test program (where %APPDIR% points).
std::string ExecutableDirectory();
// A new, empty folder under the temporary folder, named by `prefix`, the process and a counter;
// "" when it cannot be made.
std::string MakeScratchRoot(const char* prefix);
// The folder and every missing parent; true when it exists afterwards.
bool MakeDirectories(const std::string& path);
// An empty file, with the folders it needs.
bool MakeFile(const std::string& path);
// Removes a tree, never through a link: under Wine, removing a link to a folder removes the folder
// it names.
void RemoveTree(const std::wstring& path);
// Waits, boundedly, until the path exists (or is gone).
bool AwaitPresence(const std::string& path, bool exists);
// A link `name` in `directory` to the folder `target` (relative, "/"-separated), made by a Unix
// program; false when this system cannot make one.
bool MakeDirectoryLink(const std::string& directory, const std::string& name, const std::string& target);
void RemoveDirectoryLink(const std::string& directory, const std::string& name);

}  // namespace corvane::test
