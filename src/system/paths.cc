#include "system/paths.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "system/config.h"

namespace mv {

namespace {

// `text` with each separator written as kSeparator.
std::string WithSeparators(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (IsSeparator(c)) c = kSeparator;
  }
  return out;
}

// A suite path's separators ("\\", and "/" where the platform takes it) as
// kSeparator.
std::string SuiteSeparators(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '\\' || IsSeparator(c)) c = kSeparator;
  }
  return out;
}

size_t LastSeparator(std::string_view native) {
  for (size_t i = native.size(); i-- > 0;) {
    if (IsSeparator(native[i])) return i;
  }
  return std::string_view::npos;
}

size_t NextSeparator(std::string_view native, size_t from) {
  for (size_t i = from; i < native.size(); ++i) {
    if (IsSeparator(native[i])) return i;
  }
  return std::string_view::npos;
}

}  // namespace

std::string UncRoot() {
  std::string root = WithSeparators(
      DeploymentSetting("UNC_ROOT").value_or(MVUPDATE_DEFAULT_UNC_ROOT));
  while (root.size() > 1 && root.back() == kSeparator) root.pop_back();
  return root;
}

bool IsUncPath(std::string_view path) {
  return path.size() >= 2 && path[0] == '\\' && path[1] == '\\';
}

std::string NativePath(std::string_view path) {
  if (!IsUncPath(path)) return SuiteSeparators(path);
  // One separator is kept before SERVER; without a root, both.
  std::string root = UncRoot();
  std::string_view rest = path.substr(root.empty() ? 0 : 1);
  return root + SuiteSeparators(rest);
}

std::string JoinPath(std::string_view folder, std::string_view tail) {
  std::string f = WithSeparators(folder);
  std::string t = NativePath(tail);
  if (!f.empty() && f.back() == kSeparator && !t.empty() &&
      t.front() == kSeparator) {
    f.pop_back();
  } else if (!f.empty() && f.back() != kSeparator && !t.empty() &&
             t.front() != kSeparator) {
    f.push_back(kSeparator);
  }
  return f + t;
}

std::string JoinName(std::string_view folder, std::string_view name) {
  std::string out(folder);
  if (!out.empty() && !IsSeparator(out.back())) out += kSeparator;
  out += name;
  return out;
}

std::string ResolvePath(std::string_view path) {
  return ResolveCase(NativePath(path));
}

std::string ParentFolder(std::string_view native) {
  size_t slash = LastSeparator(native);
  if (slash == std::string_view::npos) return "";
  if (slash == 0) return std::string(1, native[0]);
  return std::string(native.substr(0, slash));
}

std::string BaseName(std::string_view native) {
  size_t slash = LastSeparator(native);
  return std::string(
      slash == std::string_view::npos ? native : native.substr(slash + 1));
}

std::string UncShareFolder(std::string_view native) {
  // Without a root (or with "/"), UNC paths stay as written (\\SERVER\...).
  std::string root = UncRoot();
  root = root.empty() || root == std::string(1, kSeparator)
             ? std::string(2, kSeparator)
             : root + kSeparator;
  if (native.substr(0, root.size()) != root) return "";
  size_t server_end = NextSeparator(native, root.size());
  if (server_end == std::string_view::npos) return std::string(native);
  size_t share_end = NextSeparator(native, server_end + 1);
  if (share_end == std::string_view::npos) return std::string(native);
  return std::string(native.substr(0, share_end));
}

}  // namespace mv
