// Reads the version resource of Windows program files (PE32 and PE32+,
// executables and libraries) on any platform. Every offset, size and count
// taken from a file is checked against the bytes at hand before it is used:
// a damaged or hostile file gives "no version information", never a read
// outside the file.
#ifndef MVUPDATE_TOOLS_PE_VERSION_H_
#define MVUPDATE_TOOLS_PE_VERSION_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mv {

// The fixed part of a version resource (the 52-byte VS_FIXEDFILEINFO).
struct FixedFileInfo {
  uint32_t signature = 0;  // 0xFEEF04BD in a well-formed record
  uint32_t struc_version = 0;
  uint32_t file_version_ms = 0;
  uint32_t file_version_ls = 0;
  uint32_t product_version_ms = 0;
  uint32_t product_version_ls = 0;
  uint32_t file_flags_mask = 0;
  uint32_t file_flags = 0;
  uint32_t file_os = 0;
  uint32_t file_type = 0;
  uint32_t file_subtype = 0;
  uint32_t file_date_ms = 0;
  uint32_t file_date_ls = 0;
};

// One version resource: a tree of nodes, each with a UTF-16 key, a value
// (binary or UTF-16 text) and children ("StringFileInfo" > "040904B0" >
// "CompanyName"; "VarFileInfo" > "Translation").
class VersionInfo {
 public:
  // Copies a version resource; nullopt when its root node is malformed.
  static std::optional<VersionInfo> FromBlock(std::string_view block);

  struct Value {
    std::string_view bytes;  // inside the block, clipped to its node
    bool text = false;       // UTF-16 text rather than binary data
  };
  // Finds a node by its path of keys, as the platform's VerQueryValue does:
  // "\" is the root, "\VarFileInfo\Translation" the translation table,
  // "\StringFileInfo\040904B0\CompanyName" a string. Keys compare without
  // ASCII case. nullopt when no node has that path or its value is empty.
  std::optional<Value> Query(std::string_view sub_block) const;

  // The root's value read as the fixed record; zeros when the value is
  // shorter than a record.
  FixedFileInfo Fixed() const;
  // The 32-bit entries of "\VarFileInfo\Translation": the low 16 bits are a
  // language identifier, the high 16 bits a code page. Empty when missing.
  std::vector<uint32_t> Translations() const;
  // A text value in UTF-8, up to its first zero character (unpaired
  // surrogates become U+FFFD); nullopt as for Query.
  std::optional<std::string> QueryString(std::string_view sub_block) const;

  const std::string& block() const { return block_; }

 private:
  explicit VersionInfo(std::string block) : block_(std::move(block)) {}
  std::string block_;
};

// Finds the version resource in the bytes of a PE file. With several
// version resources (one per language) it takes the one in English (United
// States), else a language-neutral one, else the first. nullopt when the
// bytes are no PE file, hold no version resource or point outside
// themselves.
std::optional<std::string_view> FindVersionResource(std::string_view image);

// Maps the file read-only and reads its version resource; only the pages
// the resource walk needs are read from disk. nullopt when the file is
// missing, unreadable, not an ordinary file, or has no version resource.
std::optional<VersionInfo> ReadVersionInfo(const std::string& native_path);

}  // namespace mv

#endif  // MVUPDATE_TOOLS_PE_VERSION_H_
