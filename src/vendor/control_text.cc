#include "vendor/control_text.h"

#include "system/text.h"
#include "update/control_file.h"

namespace mv {

std::vector<std::string> ControlLines(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::vector<std::string> lines;
  while (!text.empty()) {
    size_t end = text.find('\r');
    if (end == std::string_view::npos) end = text.size();
    lines.emplace_back(text.substr(0, end));
    text.remove_prefix(end);
    if (!text.empty()) text.remove_prefix(text.substr(0, 2) == "\r\n" ? 2 : 1);
  }
  return lines;
}

std::optional<int32_t> AnnouncedUpdate(std::string_view first_line) {
  if (ToUpperAscii(first_line.substr(0, 11)) != "LASTUPDATE=") {
    return std::nullopt;
  }
  Result<int32_t> n = ControlNumber(MidFrom(first_line, 12));
  if (!n.ok()) return std::nullopt;
  return n.value();
}

std::optional<int32_t> SectionNumber(std::string_view line, bool* unreadable) {
  std::string clean = StripCharacter(line, "\t");
  if (ToUpperAscii(TrimSpaces(clean)).rfind("[UPDATE", 0) != 0) {
    return std::nullopt;
  }
  Result<int32_t> n = ControlNumber(MidFrom(clean, 9));
  if (!n.ok()) {
    if (unreadable) *unreadable = true;
    return std::nullopt;
  }
  return n.value();
}

}  // namespace mv
