#include "system/registry.h"

#include <cctype>
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

std::string FormatData(const RegistryValue& v) {
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

}  // namespace

Result<RegistryImage> RegistryImage::Parse(std::string_view text,
                                           std::string_view origin) {
  RegistryImage image;
  if (text.find('\0') != std::string_view::npos) {
    return ParseFailure(origin, 1, "not a text file");
  }
  // Split into logical lines, joining hex continuations ending in "\".
  std::vector<std::pair<size_t, std::string>> lines;
  size_t number = 0;
  std::string pending;
  size_t pending_line = 0;
  for (std::string_view raw : SplitLines(text)) {
    ++number;
    std::string_view line = pending.empty() ? raw : TrimSpacesAndTabs(raw);
    if (pending.empty()) pending_line = number;
    bool continues =
        !line.empty() && line.back() == '\\' &&
        (!pending.empty() || line.find("=hex") != std::string_view::npos);
    if (continues) {
      pending.append(line.substr(0, line.size() - 1));
      continue;
    }
    pending.append(line);
    lines.emplace_back(pending_line, std::move(pending));
    pending.clear();
  }
  if (!pending.empty()) lines.emplace_back(pending_line, std::move(pending));

  bool header = false;
  RegistryKey* key = nullptr;
  for (auto& [n, line_text] : lines) {
    std::string_view line = TrimSpacesAndTabs(line_text);
    if (line.empty() || line[0] == ';') continue;
    if (!header) {
      if (line != "REGEDIT4") {
        return ParseFailure(origin, n, "the first line must be REGEDIT4");
      }
      header = true;
      continue;
    }
    if (line[0] == '[') {
      if (line.back() != ']' || line.size() < 3 || line[1] == '-') {
        return ParseFailure(origin, n, "malformed key line");
      }
      key = &image.AddKey(line.substr(1, line.size() - 2));
      continue;
    }
    if (key == nullptr) return ParseFailure(origin, n, "value outside a key");
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
    bool replaced = false;
    for (RegistryValue& old : key->values) {
      if (EqualsIgnoreCase(old.name, name)) {
        old = *v;
        replaced = true;
      }
    }
    if (!replaced) key->values.push_back(std::move(*v));
  }
  if (!header && !text.empty()) {
    return ParseFailure(origin, 1, "the first line must be REGEDIT4");
  }
  return image;
}

std::string RegistryImage::Serialize() const {
  std::string out = "REGEDIT4\r\n";
  for (const RegistryKey& key : keys_) {
    out += "\r\n[" + key.path + "]\r\n";
    for (const RegistryValue& v : key.values) {
      out += (v.name.empty() ? std::string("@") : Quote(v.name)) + "=" +
             FormatData(v) + "\r\n";
    }
  }
  return out;
}

RegistryKey* RegistryImage::FindKey(std::string_view path) {
  for (RegistryKey& k : keys_) {
    if (EqualsIgnoreCase(k.path, path)) return &k;
  }
  return nullptr;
}

const RegistryKey* RegistryImage::FindKey(std::string_view path) const {
  return const_cast<RegistryImage*>(this)->FindKey(path);
}

RegistryKey& RegistryImage::AddKey(std::string_view path) {
  if (RegistryKey* k = FindKey(path)) return *k;
  keys_.push_back(RegistryKey{std::string(path), {}});
  return keys_.back();
}

std::string Registry::DefaultFile() {
  return DeploymentSetting("REGISTRY").value_or(MVUPDATE_DEFAULT_REGISTRY);
}

Result<RegistryImage> Registry::Load() const {
  if (!PathExists(file_)) return RegistryImage();
  Result<std::string> text = ReadWholeFile(file_);
  if (!text.ok()) return text.failure();
  return RegistryImage::Parse(text.value(), file_);
}

Status Registry::Store(const RegistryImage& image) {
  return WriteFileAtomically(file_, image.Serialize());
}

Result<bool> Registry::KeyExists(std::string_view key) const {
  Result<RegistryImage> image = Load();
  if (!image.ok()) return image.failure();
  return image.value().FindKey(key) != nullptr;
}

Result<std::optional<RegistryValue>> Registry::QueryValue(
    std::string_view key, std::string_view name) const {
  Result<RegistryImage> image = Load();
  if (!image.ok()) return image.failure();
  const RegistryKey* k = image.value().FindKey(key);
  if (k == nullptr) return std::optional<RegistryValue>();
  for (const RegistryValue& v : k->values) {
    if (EqualsIgnoreCase(v.name, name)) return std::optional<RegistryValue>(v);
  }
  return std::optional<RegistryValue>();
}

Status Registry::SetValue(std::string_view key, const RegistryValue& value) {
  Result<RegistryImage> image = Load();
  if (!image.ok()) return image.failure();
  RegistryKey* k = image.value().FindKey(key);
  if (k == nullptr) return Failure(kPathFileAccessError);
  for (RegistryValue& old : k->values) {
    if (EqualsIgnoreCase(old.name, value.name)) {
      if (old.type == value.type && FormatData(old) == FormatData(value)) {
        return Status::Ok();  // unchanged: leave the file as it is
      }
      old.type = value.type;
      old.data = value.data;
      return Store(image.value());
    }
  }
  k->values.push_back(value);
  return Store(image.value());
}

Status Registry::CreateKey(std::string_view key) {
  Result<RegistryImage> image = Load();
  if (!image.ok()) return image.failure();
  if (image.value().FindKey(key) != nullptr) return Status::Ok();
  image.value().AddKey(key);
  return Store(image.value());
}

}  // namespace mv
