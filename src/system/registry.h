// The machine registry on Linux: a text file in REGEDIT4 format holding the
// suite's key, for example
//
//   REGEDIT4
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Qorin]
//   "InstallPath"="/opt/merivane"
//   "DBServerName"="SRV01\\SQLEXPRESS"
//
// Key and value names compare without case, as on the original platform.
// Every call reads the file afresh, but parses it again only when its text
// changed; writes replace it atomically and change only the line of the value
// they set. A file that cannot be parsed is reported and never overwritten.
#ifndef MVUPDATE_SYSTEM_REGISTRY_H_
#define MVUPDATE_SYSTEM_REGISTRY_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "system/failure.h"

namespace mv {

enum RegistryType : uint32_t {
  kRegSz = 1,
  kRegBinary = 3,
  kRegDword = 4,
};

struct RegistryValue {
  std::string name;  // empty for the key's default value ("@")
  uint32_t type = kRegSz;
  // The stored bytes. A string read from the file carries its terminating
  // NUL, as the original registry stores strings imported from such a file.
  std::string data;
};

struct RegistryKey {
  std::string path;  // e.g. "HKEY_LOCAL_MACHINE\SOFTWARE\Qorin"
  std::vector<RegistryValue> values;
};

// The parsed contents of a registry file. The text is kept line by line as
// it was read, so that writing it back changes only the lines of the values
// set (comments, other keys, blank lines and line ends stay byte for byte).
// Look-ups go through maps: parsing and querying take time in proportion to
// the size of the file.
// The data of a value as a REGEDIT4 line writes it, e.g. dword:00000001.
std::string FormatRegistryData(const RegistryValue& value);

class RegistryImage {
 public:
  // Parses REGEDIT4 text; `origin` names the file in failure texts.
  static Result<RegistryImage> Parse(std::string_view text,
                                     std::string_view origin);
  // The text as read, with the changes made since.
  std::string Serialize() const;

  const RegistryKey* FindKey(std::string_view path) const;
  // The value that counts (the last line of that name), or nullptr.
  const RegistryValue* FindValue(std::string_view key,
                                 std::string_view name) const;
  // Adds the key at the end of the text when it is missing.
  void AddKey(std::string_view path);
  // Sets a value of an existing key: its line is rewritten in place, or a
  // line is added after the key's last value. False when the key is missing.
  bool SetValue(std::string_view key, const RegistryValue& value);
  const std::vector<RegistryKey>& keys() const { return keys_; }

 private:
  // Where a key or a value stands in lines_.
  struct Place {
    size_t first = 0;  // its first line
    size_t last = 0;   // its last line (continuations included)
  };
  struct KeyIndex {
    size_t last_line = 0;  // the header or the last value line
    std::unordered_map<std::string, size_t> values;  // folded name -> index
    std::vector<Place> places;                       // by value index
  };

  // The line end a new line takes: that of the first line ending in LF
  // (CR LF or LF), else CR LF.
  std::string LineEnd() const;
  // Ends `line` with a line end when it has none (the text's last line).
  void EndLine(std::string& line) const;
  // Inserts a line before lines_[at], keeping the places right.
  void InsertLine(size_t at, std::string line);

  std::vector<RegistryKey> keys_;
  std::vector<KeyIndex> index_;                      // by key index
  std::unordered_map<std::string, size_t> by_path_;  // folded path -> index
  // The text's lines, each with its line end (the last may have none); an
  // entry is empty after a continued value was rewritten on one line.
  std::vector<std::string> lines_;
  bool has_header_ = false;
};

class Registry {
 public:
  explicit Registry(std::string file) : file_(std::move(file)) {}

  // MVUPDATE_REGISTRY when set, else /etc/qorin/registry.reg. On Windows
  // the registry itself (HKEY_LOCAL_MACHINE's 32-bit view, where the
  // suite's 32-bit installer writes); `file` only names it in messages.
  static std::string DefaultFile();
  // False when the stand-in file is missing (it holds no key then); the
  // Windows registry is always there.
  bool Available() const;
  const std::string& file() const { return file_; }

  // Whether the key exists (RegOpenKey). A missing file holds no keys; an
  // unreadable or malformed one is a failure.
  Result<bool> KeyExists(std::string_view key) const;
  // The value's data, or nothing when the key or the value is missing.
  Result<std::optional<RegistryValue>> QueryValue(std::string_view key,
                                                  std::string_view name) const;
  // Sets a value of an existing key; fails when the key is missing.
  Status SetValue(std::string_view key, const RegistryValue& value);
  // Creates the key (and the file) when missing.
  Status CreateKey(std::string_view key);

 private:
  // The file's image, parsed again only when its text changed since the
  // last call.
  Result<const RegistryImage*> Load() const;
  Status Store(RegistryImage image);

  std::string file_;
  // The text last read or written, and its image.
  mutable std::optional<std::string> text_;
  mutable RegistryImage image_;
};

}  // namespace mv

#endif  // MVUPDATE_SYSTEM_REGISTRY_H_
