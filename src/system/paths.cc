#include "system/paths.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "system/config.h"

namespace mv {

namespace {

bool Exists(const std::string& p) {
  struct stat st;
  return ::lstat(p.c_str(), &st) == 0;
}

// The entry of `folder` that equals `name` without case, or "" when none.
std::string FindWithoutCase(const std::string& folder,
                            const std::string& name) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(
      ::opendir(folder.empty() ? "." : folder.c_str()), ::closedir);
  if (!dir) return "";
  std::vector<std::string> matches;
  while (dirent* e = ::readdir(dir.get())) {
    if (::strcasecmp(e->d_name, name.c_str()) == 0) {
      matches.emplace_back(e->d_name);
    }
  }
  if (matches.empty()) return "";
  return *std::min_element(matches.begin(), matches.end());
}

}  // namespace

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

std::string ResolveCase(std::string_view native) {
  if (native.empty()) return "";
  std::string done;  // resolved prefix
  size_t pos = 0;
  if (native[0] == '/') {
    done.push_back('/');
    pos = 1;
  }
  bool missing = false;  // once a folder is missing, nothing below exists
  while (pos <= native.size()) {
    size_t next = native.find('/', pos);
    if (next == std::string_view::npos) next = native.size();
    std::string part(native.substr(pos, next - pos));
    if (!part.empty()) {
      std::string candidate = done + part;
      if (!missing && part != "." && part != ".." && !Exists(candidate)) {
        std::string match = FindWithoutCase(done, part);
        if (!match.empty()) {
          candidate = done + match;
        } else {
          missing = true;
        }
      }
      done = candidate;
    }
    if (next < native.size()) {
      if (done.empty() || done.back() != '/') done.push_back('/');
    }
    pos = next + 1;
  }
  return done;
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
  std::string root = UncRoot() + "/";
  if (native.substr(0, root.size()) != root) return "";
  size_t server_end = native.find('/', root.size());
  if (server_end == std::string_view::npos) return std::string(native);
  size_t share_end = native.find('/', server_end + 1);
  if (share_end == std::string_view::npos) return std::string(native);
  return std::string(native.substr(0, share_end));
}

}  // namespace mv
