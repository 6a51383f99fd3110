#include "transport/ftp_component.h"

#include <cmath>

namespace mv {

std::string SecondsText(double seconds) {
  double tenths = std::round(seconds * 10);
  std::string text = std::to_string(static_cast<long long>(tenths / 10));
  long long digit = static_cast<long long>(std::fmod(tenths, 10));
  if (digit != 0) {
    text += '.';
    text += std::to_string(digit);
  }
  return text;
}

RemotePath RemotePath::Resolve(std::string_view path) const {
  RemotePath out = *this;
  if (!path.empty() && (path.front() == '\\' || path.front() == '/')) {
    out.names_.clear();
    out.absolute_ = true;
  }
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t end = path.find_first_of("\\/", pos);
    if (end == std::string_view::npos) end = path.size();
    std::string_view name = path.substr(pos, end - pos);
    pos = end + 1;
    if (name.empty() || name == ".") continue;
    if (name == ".." && !out.names_.empty() && out.names_.back() != "..") {
      out.names_.pop_back();
    } else if (name == ".." && out.absolute_) {
      // The root's parent is the root.
    } else {
      out.names_.emplace_back(name);
    }
  }
  return out;
}

std::string RemotePath::Display() const {
  std::string text = absolute_ ? "/" : "";
  for (size_t i = 0; i < names_.size(); ++i) {
    if (i > 0) text += "/";
    text += names_[i];
  }
  return text;
}

}  // namespace mv
