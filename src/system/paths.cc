#include "system/paths.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "system/config.h"

namespace mv {

namespace {}  // namespace

std::string UncRoot() {
  std::string root =
      DeploymentSetting("UNC_ROOT").value_or(MVUPDATE_DEFAULT_UNC_ROOT);
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

bool IsUncPath(std::string_view path) {
  return path.size() >= 2 && path[0] == '\\' && path[1] == '\\';
}

std::string NativePath(std::string_view path) {
  std::string out;
  std::string_view rest = path;
  if (IsUncPath(path)) {
    out = UncRoot();
    rest = path.substr(1);  // keep one separator before SERVER
  }
  out.reserve(out.size() + rest.size());
  for (char c : rest) out.push_back(c == '\\' ? '/' : c);
  return out;
}

std::string JoinPath(std::string_view folder, std::string_view tail) {
  std::string f(folder);
  std::string t = NativePath(tail);
  if (!f.empty() && f.back() == '/' && !t.empty() && t.front() == '/') {
    f.pop_back();
  } else if (!f.empty() && f.back() != '/' && !t.empty() && t.front() != '/') {
    f.push_back('/');
  }
  return f + t;
}

std::string ResolvePath(std::string_view path) {
  return ResolveCase(NativePath(path));
}

std::string ParentFolder(std::string_view native) {
  size_t slash = native.find_last_of('/');
  if (slash == std::string_view::npos) return "";
  if (slash == 0) return "/";
  return std::string(native.substr(0, slash));
}

std::string BaseName(std::string_view native) {
  size_t slash = native.find_last_of('/');
  return std::string(
      slash == std::string_view::npos ? native : native.substr(slash + 1));
}

std::string UncShareFolder(std::string_view native) {
  // Without a root, UNC paths stay as written ("//SERVER/Share/...").
  std::string root = UncRoot() + "/";
  if (root == "/") root = "//";
  if (native.substr(0, root.size()) != root) return "";
  size_t server_end = native.find('/', root.size());
  if (server_end == std::string_view::npos) return std::string(native);
  size_t share_end = native.find('/', server_end + 1);
  if (share_end == std::string_view::npos) return std::string(native);
  return std::string(native.substr(0, share_end));
}

}  // namespace mv
