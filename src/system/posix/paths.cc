#include "system/paths.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
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

extern const char kSeparator = '/';

bool IsSeparator(char c) { return c == '/'; }

std::string DefaultConfigFile() { return MVUPDATE_DEFAULT_CONFIG; }

bool IsAbsolutePath(std::string_view native) {
  return !native.empty() && native[0] == '/';
}

bool IsRootFolder(std::string_view native) { return native == "/"; }

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

}  // namespace mv
