// Paths as the suite writes them ("\" separators, "\\SERVER\Share\rest" for
// another machine's share) turned into paths of this machine.
#ifndef MVUPDATE_SYSTEM_PATHS_H_
#define MVUPDATE_SYSTEM_PATHS_H_

#include <string>
#include <string_view>

namespace mv {

// The separator of this platform's own paths: "/" on Linux, "\" on Windows.
extern const char kSeparator;
// True for a character that separates folders in a native path: "/" on
// Linux, "\" and "/" on Windows.
bool IsSeparator(char c);

// Folder below which \\SERVER\Share is mounted: MVUPDATE_UNC_ROOT, else the
// build's default (/mnt/unc).
std::string UncRoot();

// True for "\\SERVER\..." (either separator after the two backslashes).
bool IsUncPath(std::string_view path);

// Turns a suite path into a path of this machine: "\" and "/" become
// kSeparator, and a UNC path is placed below UncRoot() (without a root it
// stays "\\SERVER\Share\..." on Windows, "//SERVER/Share/..." on Linux).
// The case of the components is kept; see ResolveCase for the lookup that
// ignores it.
std::string NativePath(std::string_view path);

// Joins a native folder and a suite-style tail such as "\Download\*.*",
// with kSeparator throughout (an install path written "C:/Merivane" in the
// registry gives "C:\Merivane\Download\*.*" on Windows).
std::string JoinPath(std::string_view folder, std::string_view tail);

// A native folder and one name in it ("" for the current folder).
std::string JoinName(std::string_view folder, std::string_view name);

// The original file system ignores case and vendor files name files in any
// case. For each component of `native` that does not exist as written, takes
// an existing entry of its folder that matches it without case (the first in
// name order). Components that match nothing are kept as given, so new files
// get the case the caller wrote.
std::string ResolveCase(std::string_view native);

// True for a path that names its place from the root: "/..." on Linux;
// "C:/...", "C:\..." or "\\SERVER\Share\..." on Windows.
bool IsAbsolutePath(std::string_view native);
// True for the root of a file system: "/" on Linux; "C:", "C:/" or a
// share's own folder on Windows.
bool IsRootFolder(std::string_view native);

// NativePath followed by ResolveCase.
std::string ResolvePath(std::string_view path);

// Folder part of a native path without the final separator ("" for a bare
// name, "/" for a file in the root folder).
std::string ParentFolder(std::string_view native);

// Last component of a native path.
std::string BaseName(std::string_view native);

// For a native path below UncRoot(): the "root/SERVER/Share" prefix (with
// kSeparator); empty for other paths.
std::string UncShareFolder(std::string_view native);

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_PATHS_H_
