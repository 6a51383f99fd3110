#include "system/registry.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "system/config.h"
#include "system/files.h"
#include "system/text.h"

namespace mv {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reads a quoted string with \\ and \" escapes starting at s[0] == '"'.
// Gives the text and the number of characters used, or nothing.
std::optional<std::pair<std::string, size_t>> ReadQuoted(std::string_view s) {
  if (s.empty() || s[0] != '"') return std::nullopt;
  std::string out;
  for (size_t i = 1; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\\') {
      if (i + 1 >= s.size()) return std::nullopt;
      char e = s[++i];
      if (e != '\\' && e != '"') return std::nullopt;
      out.push_back(e);
    } else if (c == '"') {
      return std::make_pair(out, i + 1);
    } else {
      out.push_back(c);
    }
  }
  return std::nullopt;
}

std::optional<std::string> ReadHexBytes(std::string_view s) {
  std::string out;
  s = TrimSpacesAndTabs(s);
  if (s.empty()) return out;
  size_t pos = 0;
  while (pos <= s.size()) {
    size_t comma = s.find(',', pos);
    std::string_view byte = TrimSpacesAndTabs(
        s.substr(pos, comma == std::string_view::npos ? std::string_view::npos
                                                      : comma - pos));
    if (byte.size() != 2 || HexDigit(byte[0]) < 0 || HexDigit(byte[1]) < 0) {
      return std::nullopt;
    }
    out.push_back(
        static_cast<char>(HexDigit(byte[0]) * 16 + HexDigit(byte[1])));
    if (comma == std::string_view::npos) break;
    pos = comma + 1;
  }
  return out;
}

// Parses the text after "=" of a value line.
std::optional<RegistryValue> ReadData(std::string_view s) {
  RegistryValue v;
  s = TrimSpacesAndTabs(s);
  if (!s.empty() && s[0] == '"') {
    auto q = ReadQuoted(s);
    if (!q || !TrimSpacesAndTabs(s.substr(q->second)).empty())
      return std::nullopt;
    v.type = kRegSz;
    v.data = q->first + '\0';
    return v;
  }
  if (s.substr(0, 6) == "dword:") {
    std::string_view digits = s.substr(6);
    if (digits.size() != 8) return std::nullopt;
    uint32_t n = 0;
    for (char c : digits) {
      if (HexDigit(c) < 0) return std::nullopt;
      n = n * 16 + static_cast<uint32_t>(HexDigit(c));
    }
    v.type = kRegDword;
    for (int i = 0; i < 4; ++i)
      v.data.push_back(static_cast<char>(n >> (8 * i)));
    return v;
  }
  if (s.substr(0, 4) == "hex:" || s.substr(0, 4) == "hex(") {
    size_t colon = s.find(':');
    v.type = kRegBinary;
    if (s[3] == '(') {
      std::string_view t =
          s.substr(4, colon == std::string_view::npos ? 0 : colon - 5);
      if (colon == std::string_view::npos || s[colon - 1] != ')' || t.empty() ||
          t.size() > 8) {
        return std::nullopt;
      }
      uint32_t type = 0;
      for (char c : t) {
        if (HexDigit(c) < 0) return std::nullopt;
        type = type * 16 + static_cast<uint32_t>(HexDigit(c));
      }
      v.type = type;
    }
    auto bytes = ReadHexBytes(s.substr(colon + 1));
    if (!bytes) return std::nullopt;
    v.data = *bytes;
    return v;
  }
  return std::nullopt;
}

std::string Quote(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out + "\"";
}

}  // namespace

std::string FormatRegistryData(const RegistryValue& v) {
  if (v.type == kRegSz) {
    std::string_view text = v.data;
    if (!text.empty() && text.back() == '\0') text.remove_suffix(1);
    if (text.find_first_of(std::string_view("\0\r\n", 3)) ==
        std::string_view::npos) {
      return Quote(text);
    }
  }
  if (v.type == kRegDword && v.data.size() == 4) {
    uint32_t n = 0;
    for (int i = 3; i >= 0; --i) {
      n = n * 256 + static_cast<unsigned char>(v.data[static_cast<size_t>(i)]);
    }
    char buf[20];
    std::snprintf(buf, sizeof buf, "dword:%08x", n);
    return buf;
  }
  char head[24];
  if (v.type == kRegBinary) {
    std::snprintf(head, sizeof head, "hex:");
  } else {
    std::snprintf(head, sizeof head, "hex(%x):", v.type);
  }
  std::string out = head;
  for (size_t i = 0; i < v.data.size(); ++i) {
    char b[4];
    std::snprintf(b, sizeof b, "%02x", static_cast<unsigned char>(v.data[i]));
    if (i > 0) out.push_back(',');
    out += b;
  }
  return out;
}

Result<RegistryImage> RegistryImage::Parse(std::string_view text,
                                           std::string_view origin) {
  RegistryImage image;
  if (text.find('\0') != std::string_view::npos) {
    return ParseFailure(origin, 1, "not a text file");
  }
  // The physical lines with their ends, split as SplitLines splits.
  for (size_t pos = 0; pos < text.size();) {
    size_t nl = text.find('\n', pos);
    size_t end = nl == std::string_view::npos ? text.size() : nl + 1;
    image.lines_.emplace_back(text.substr(pos, end - pos));
    pos = end;
  }
  // Logical lines: hex data may continue on the next line after a "\".
  struct Logical {
    Place place;
    std::string text;
  };
  std::vector<Logical> lines;
  std::string pending;
  for (size_t i = 0; i < image.lines_.size(); ++i) {
    std::string_view raw = image.lines_[i];
    while (!raw.empty() && (raw.back() == '\n' || raw.back() == '\r')) {
      raw.remove_suffix(1);
    }
    std::string_view line = pending.empty() ? raw : TrimSpacesAndTabs(raw);
    if (pending.empty()) lines.push_back({{i, i}, ""});
    lines.back().place.last = i;
    bool continues =
        !line.empty() && line.back() == '\\' &&
        (!pending.empty() || line.find("=hex") != std::string_view::npos);
    if (continues) {
      pending.append(line.substr(0, line.size() - 1));
      continue;
    }
    pending.append(line);
    lines.back().text = std::move(pending);
    pending.clear();
  }
  if (!pending.empty()) lines.back().text = std::move(pending);

  size_t key = SIZE_MAX;
  for (const Logical& logical : lines) {
    size_t n = logical.place.first + 1;
    std::string_view line = TrimSpacesAndTabs(logical.text);
    if (line.empty() || line[0] == ';') continue;
    if (!image.has_header_) {
      if (line != "REGEDIT4") {
        return ParseFailure(origin, n, "the first line must be REGEDIT4");
      }
      image.has_header_ = true;
      continue;
    }
    if (line[0] == '[') {
      if (line.back() != ']' || line.size() < 3 || line[1] == '-') {
        return ParseFailure(origin, n, "malformed key line");
      }
      std::string_view path = line.substr(1, line.size() - 2);
      auto [it, added] =
          image.by_path_.try_emplace(ToUpperAscii(path), image.keys_.size());
      if (added) {
        image.keys_.push_back(RegistryKey{std::string(path), {}});
        image.index_.emplace_back();
      }
      key = it->second;
      image.index_[key].last_line = logical.place.last;
      continue;
    }
    if (key == SIZE_MAX) return ParseFailure(origin, n, "value outside a key");
    std::string name;
    size_t used;
    if (line[0] == '@') {
      used = 1;
    } else {
      auto q = ReadQuoted(line);
      if (!q) return ParseFailure(origin, n, "malformed value name");
      name = q->first;
      used = q->second;
    }
    std::string_view rest = TrimSpacesAndTabs(line.substr(used));
    if (rest.empty() || rest[0] != '=') {
      return ParseFailure(origin, n, "expected = after the value name");
    }
    std::optional<RegistryValue> v = ReadData(rest.substr(1));
    if (!v) return ParseFailure(origin, n, "malformed value data");
    v->name = name;
    RegistryKey& k = image.keys_[key];
    KeyIndex& index = image.index_[key];
    index.last_line = logical.place.last;
    // A later line of the same name replaces the value where it stands.
    auto [it, added] =
        index.values.try_emplace(ToUpperAscii(name), k.values.size());
    if (added) {
      k.values.push_back(std::move(*v));
      index.places.push_back(logical.place);
    } else {
      k.values[it->second] = std::move(*v);
      index.places[it->second] = logical.place;
    }
  }
  if (!image.has_header_ && !text.empty()) {
    return ParseFailure(origin, 1, "the first line must be REGEDIT4");
  }
  return image;
}

std::string RegistryImage::Serialize() const {
  std::string out;
  for (const std::string& line : lines_) out += line;
  return out;
}

std::string RegistryImage::LineEnd() const {
  // Only a line that ends in LF shows the text's line end (the last line
  // may end in a CR alone); more CRs before the LF count as one.
  for (const std::string& line : lines_) {
    if (line.empty() || line.back() != '\n') continue;
    return line.size() > 1 && line[line.size() - 2] == '\r' ? "\r\n" : "\n";
  }
  return "\r\n";
}

void RegistryImage::EndLine(std::string& line) const {
  if (!line.empty() && line.back() == '\n') return;
  std::string eol = LineEnd();
  if (eol == "\r\n" && !line.empty() && line.back() == '\r') eol = "\n";
  line += eol;
}

const RegistryKey* RegistryImage::FindKey(std::string_view path) const {
  auto it = by_path_.find(ToUpperAscii(path));
  return it == by_path_.end() ? nullptr : &keys_[it->second];
}

const RegistryValue* RegistryImage::FindValue(std::string_view key,
                                              std::string_view name) const {
  auto k = by_path_.find(ToUpperAscii(key));
  if (k == by_path_.end()) return nullptr;
  const KeyIndex& index = index_[k->second];
  auto v = index.values.find(ToUpperAscii(name));
  return v == index.values.end() ? nullptr
                                 : &keys_[k->second].values[v->second];
}

void RegistryImage::AddKey(std::string_view path) {
  if (FindKey(path) != nullptr) return;
  std::string eol = LineEnd();
  if (!has_header_) {
    InsertLine(0, "REGEDIT4" + eol);
    has_header_ = true;
  }
  // The text ends with a line end and a blank line before the new key.
  auto last = std::find_if(lines_.rbegin(), lines_.rend(),
                           [](const std::string& l) { return !l.empty(); });
  EndLine(*last);
  if (!TrimWhitespace(*last).empty()) lines_.push_back(eol);
  by_path_.emplace(ToUpperAscii(path), keys_.size());
  keys_.push_back(RegistryKey{std::string(path), {}});
  // Appended: "[" + std::string makes g++ 12 at -O3 report a false
  // -Wrestrict (GCC bug 105329).
  std::string header = "[";
  header += path;
  header += ']';
  header += eol;
  lines_.push_back(std::move(header));
  index_.push_back(KeyIndex{lines_.size() - 1, {}, {}});
}

bool RegistryImage::SetValue(std::string_view key, const RegistryValue& value) {
  auto k = by_path_.find(ToUpperAscii(key));
  if (k == by_path_.end()) return false;
  RegistryKey& entry = keys_[k->second];
  KeyIndex& index = index_[k->second];
  std::string text =
      (value.name.empty() ? std::string("@") : Quote(value.name)) + "=" +
      FormatRegistryData(value);
  auto [it, added] =
      index.values.try_emplace(ToUpperAscii(value.name), entry.values.size());
  if (!added) {
    // The value's line, and any continuation lines, become the one new line
    // with the line end its last line had.
    Place place = index.places[it->second];
    const std::string& last = lines_[place.last];
    size_t end = last.find_first_of("\r\n", last.find_last_not_of("\r\n") + 1);
    std::string eol = end == std::string::npos ? "" : last.substr(end);
    for (size_t i = place.first + 1; i <= place.last; ++i) lines_[i].clear();
    lines_[place.first] = text + eol;
    entry.values[it->second].type = value.type;
    entry.values[it->second].data = value.data;
    return true;
  }
  size_t at = index.last_line;
  EndLine(lines_[at]);
  InsertLine(at + 1, text + LineEnd());
  entry.values.push_back(value);
  index.places.push_back({at + 1, at + 1});
  return true;
}

void RegistryImage::InsertLine(size_t at, std::string line) {
  lines_.insert(lines_.begin() + static_cast<ptrdiff_t>(at), std::move(line));
  auto shift = [at](size_t& n) {
    if (n >= at) ++n;
  };
  for (KeyIndex& index : index_) {
    shift(index.last_line);
    for (Place& place : index.places) {
      shift(place.first);
      shift(place.last);
    }
  }
}

}  // namespace mv
