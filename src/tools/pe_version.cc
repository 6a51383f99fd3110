#include "tools/pe_version.h"

#include <array>

#include "system/mapped_file.h"
#include "system/unicode.h"

namespace mv {

namespace {

// Little-endian reads that fail instead of reading past the end. Offsets are
// 64-bit so that sums of 32-bit fields from the file cannot wrap.
std::optional<uint16_t> U16(std::string_view b, uint64_t off) {
  if (off > b.size() || b.size() - off < 2) return std::nullopt;
  auto p = reinterpret_cast<const unsigned char*>(b.data() + off);
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

std::optional<uint32_t> U32(std::string_view b, uint64_t off) {
  if (off > b.size() || b.size() - off < 4) return std::nullopt;
  auto p = reinterpret_cast<const unsigned char*>(b.data() + off);
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint64_t Align4(uint64_t off) { return (off + 3) & ~uint64_t{3}; }

// ---------------------------------------------------------------------------
// The version resource block.

// Every node starts with wLength, wValueLength and wType, then the key.
constexpr uint64_t kNodeHeader = 6;

struct Node {
  uint64_t start = 0;
  uint64_t end = 0;  // clipped to the parent
  uint64_t key = 0;  // offset of the key's first UTF-16 unit
  uint64_t key_units = 0;
  uint64_t value = 0;
  uint64_t value_end = 0;  // clipped to the node
  uint64_t children = 0;
  bool text = false;
};

// Reads the node at `start`, which must end by `limit`. A node claiming more
// room than its parent is cut at the parent's end.
std::optional<Node> ParseNode(std::string_view b, uint64_t start,
                              uint64_t limit) {
  if (limit > b.size() || start > limit || limit - start < kNodeHeader) {
    return std::nullopt;
  }
  uint16_t length = *U16(b, start);
  uint16_t value_length = *U16(b, start + 2);
  uint16_t type = *U16(b, start + 4);
  if (length < kNodeHeader) return std::nullopt;
  Node n;
  n.start = start;
  n.end = std::min<uint64_t>(start + length, limit);
  n.text = type == 1;
  n.key = start + kNodeHeader;
  uint64_t p = n.key;
  for (;; p += 2) {
    std::optional<uint16_t> unit = U16(b, p);
    if (!unit || p + 2 > n.end) return std::nullopt;  // key not terminated
    if (*unit == 0) break;
    ++n.key_units;
  }
  n.value = std::min(Align4(p + 2), n.end);
  uint64_t value_bytes = n.text ? uint64_t{value_length} * 2 : value_length;
  n.value_end = std::min(n.value + value_bytes, n.end);
  n.children = std::min(Align4(n.value + value_bytes), n.end);
  return n;
}

uint32_t LowerAscii(uint32_t c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

// Keys are UTF-16; the names asked for are ASCII.
bool KeyEquals(std::string_view b, const Node& n, std::string_view name) {
  if (n.key_units != name.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    uint16_t unit = *U16(b, n.key + 2 * i);
    auto c = static_cast<unsigned char>(name[i]);
    if (LowerAscii(unit) != LowerAscii(c)) return false;
  }
  return true;
}

std::optional<Node> FindChild(std::string_view b, const Node& parent,
                              std::string_view name) {
  uint64_t pos = parent.children;
  while (pos < parent.end) {
    std::optional<Node> child = ParseNode(b, pos, parent.end);
    if (!child) return std::nullopt;  // padding or damage ends the list
    if (KeyEquals(b, *child, name)) return child;
    // wLength is at least the header, so the walk always moves on.
    pos = Align4(pos + *U16(b, pos));
  }
  return std::nullopt;
}

// ---------------------------------------------------------------------------
// The PE file.

constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint32_t kVersionResourceType = 16;  // RT_VERSION
constexpr uint32_t kVersionResourceName = 1;   // VS_VERSION_INFO
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kHighBit = 0x80000000u;
constexpr uint16_t kEnglishUnitedStates = 0x0409;

// Where the bytes of a virtual address lie in the file.
struct Span {
  uint64_t begin = 0;
  uint64_t end = 0;  // end of the section's bytes that the file holds
};

class PeImage {
 public:
  explicit PeImage(std::string_view image) : b_(image) {}

  std::optional<std::string_view> VersionResource();

 private:
  bool ReadHeaders();
  std::optional<Span> MapRva(uint32_t rva) const;

  struct Entry {
    uint32_t name;    // an id, or an offset to a name when the high bit is set
    uint32_t target;  // a subdirectory when the high bit is set, else a leaf
  };
  // The entries of the directory at `offset` in the resource section, or
  // nullopt when it lies outside the section or was met before (a loop).
  std::optional<std::vector<Entry>> Directory(uint32_t offset);

  std::string_view b_;
  uint64_t sections_ = 0;
  uint32_t section_count_ = 0;
  uint32_t resource_rva_ = 0;
  Span resource_;
  std::vector<uint32_t> visited_;
};

bool PeImage::ReadHeaders() {
  if (b_.size() < 0x40 || b_[0] != 'M' || b_[1] != 'Z') return false;
  uint64_t pe = *U32(b_, 0x3C);
  std::optional<uint32_t> signature = U32(b_, pe);
  if (!signature || *signature != 0x00004550) return false;  // "PE\0\0"
  uint64_t coff = pe + 4;
  std::optional<uint16_t> count = U16(b_, coff + 2);
  std::optional<uint16_t> optional_size = U16(b_, coff + 16);
  if (!count || !optional_size) return false;
  uint64_t opt = coff + 20;
  std::optional<uint16_t> magic = U16(b_, opt);
  if (!magic) return false;
  uint64_t count_field, directories;
  if (*magic == kPe32Magic) {
    count_field = 92;
    directories = 96;
  } else if (*magic == kPe32PlusMagic) {
    count_field = 108;
    directories = 112;
  } else {
    return false;
  }
  // The resource directory entry must be among the declared entries and
  // inside the optional header as its size field states.
  std::optional<uint32_t> declared = U32(b_, opt + count_field);
  uint64_t entry = directories + 8 * kResourceDirectoryIndex;
  if (!declared || *declared <= kResourceDirectoryIndex ||
      entry + 8 > *optional_size) {
    return false;
  }
  std::optional<uint32_t> rva = U32(b_, opt + entry);
  if (!rva || *rva == 0) return false;
  resource_rva_ = *rva;
  sections_ = opt + *optional_size;
  section_count_ = *count;
  std::optional<Span> where = MapRva(resource_rva_);
  if (!where) return false;
  resource_ = *where;
  return true;
}

std::optional<Span> PeImage::MapRva(uint32_t rva) const {
  for (uint32_t i = 0; i < section_count_; ++i) {
    uint64_t s = sections_ + uint64_t{i} * kSectionHeaderSize;
    std::optional<uint32_t> va = U32(b_, s + 12);
    std::optional<uint32_t> raw_size = U32(b_, s + 16);
    std::optional<uint32_t> raw_offset = U32(b_, s + 20);
    if (!va || !raw_size || !raw_offset) return std::nullopt;
    if (rva < *va || rva - *va >= *raw_size) continue;
    Span span{uint64_t{*raw_offset} + (rva - *va),
              uint64_t{*raw_offset} + *raw_size};
    span.end = std::min<uint64_t>(span.end, b_.size());
    if (span.begin >= span.end) return std::nullopt;
    return span;
  }
  return std::nullopt;
}

std::optional<std::vector<PeImage::Entry>> PeImage::Directory(uint32_t offset) {
  for (uint32_t seen : visited_) {
    if (seen == offset) return std::nullopt;
  }
  visited_.push_back(offset);
  uint64_t at = resource_.begin + offset;
  if (at + 16 > resource_.end) return std::nullopt;
  uint64_t count = uint64_t{*U16(b_, at + 12)} + *U16(b_, at + 14);
  if (at + 16 + count * 8 > resource_.end) return std::nullopt;
  std::vector<Entry> entries;
  entries.reserve(count);
  for (uint64_t i = 0; i < count; ++i) {
    uint64_t e = at + 16 + i * 8;
    entries.push_back({*U32(b_, e), *U32(b_, e + 4)});
  }
  return entries;
}

std::optional<std::string_view> PeImage::VersionResource() {
  if (!ReadHeaders()) return std::nullopt;
  // Offsets inside the resource tree count from the tree's start.
  auto is_dir = [](const Entry& e) { return (e.target & kHighBit) != 0; };
  auto sub = [](const Entry& e) { return e.target & ~kHighBit; };

  std::optional<std::vector<Entry>> types = Directory(0);
  if (!types) return std::nullopt;
  const Entry* type = nullptr;
  for (const Entry& e : *types) {
    if (e.name == kVersionResourceType && is_dir(e)) {
      type = &e;
      break;
    }
  }
  if (!type) return std::nullopt;

  std::optional<std::vector<Entry>> names = Directory(sub(*type));
  if (!names) return std::nullopt;
  const Entry* name = nullptr;
  for (const Entry& e : *names) {
    if (!is_dir(e)) continue;
    if (e.name == kVersionResourceName) {
      name = &e;
      break;
    }
    if (!name) name = &e;
  }
  if (!name) return std::nullopt;

  std::optional<std::vector<Entry>> languages = Directory(sub(*name));
  if (!languages) return std::nullopt;
  const Entry* chosen = nullptr;
  int rank = 3;  // 0 English (United States), 1 neutral, 2 any other
  for (const Entry& e : *languages) {
    if (is_dir(e)) continue;
    // A language is neutral when its primary language part is zero.
    int r = e.name == kEnglishUnitedStates               ? 0
            : e.name < kHighBit && (e.name & 0x3FF) == 0 ? 1
                                                         : 2;
    if (r < rank) {
      rank = r;
      chosen = &e;
    }
  }
  if (!chosen) return std::nullopt;

  // The leaf: the data's address (relative to the image) and its size.
  uint64_t leaf = resource_.begin + chosen->target;
  if (leaf + 16 > resource_.end) return std::nullopt;
  uint32_t data_rva = *U32(b_, leaf);
  uint32_t size = *U32(b_, leaf + 4);
  std::optional<Span> data = MapRva(data_rva);
  if (!data || size < kNodeHeader || data->begin + size > data->end) {
    return std::nullopt;
  }
  // The root node's length bounds the block; the resource may be padded.
  uint16_t root_length = *U16(b_, data->begin);
  std::string_view block =
      b_.substr(data->begin, std::min<uint64_t>(root_length, size));
  if (!ParseNode(block, 0, block.size())) return std::nullopt;
  return block;
}

}  // namespace

std::optional<VersionInfo> VersionInfo::FromBlock(std::string_view block) {
  if (!ParseNode(block, 0, block.size())) return std::nullopt;
  return VersionInfo(std::string(block));
}

std::optional<VersionInfo::Value> VersionInfo::Query(
    std::string_view sub_block) const {
  std::string_view b = block_;
  std::optional<Node> node = ParseNode(b, 0, b.size());
  size_t pos = 0;
  while (node && pos < sub_block.size()) {
    size_t next = sub_block.find('\\', pos);
    if (next == std::string_view::npos) next = sub_block.size();
    if (next > pos)
      node = FindChild(b, *node, sub_block.substr(pos, next - pos));
    pos = next + 1;
  }
  if (!node || node->value_end <= node->value) return std::nullopt;
  return Value{b.substr(node->value, node->value_end - node->value),
               node->text};
}

FixedFileInfo VersionInfo::Fixed() const {
  FixedFileInfo f;
  std::optional<Value> v = Query("\\");
  if (!v || v->bytes.size() < 52) return f;
  std::array<uint32_t*, 13> fields = {
      &f.signature,       &f.struc_version,      &f.file_version_ms,
      &f.file_version_ls, &f.product_version_ms, &f.product_version_ls,
      &f.file_flags_mask, &f.file_flags,         &f.file_os,
      &f.file_type,       &f.file_subtype,       &f.file_date_ms,
      &f.file_date_ls};
  for (size_t i = 0; i < fields.size(); ++i) *fields[i] = *U32(v->bytes, 4 * i);
  return f;
}

std::vector<uint32_t> VersionInfo::Translations() const {
  std::vector<uint32_t> out;
  std::optional<Value> v = Query("\\VarFileInfo\\Translation");
  if (!v) return out;
  for (uint64_t off = 0; off + 4 <= v->bytes.size(); off += 4) {
    out.push_back(*U32(v->bytes, off));
  }
  return out;
}

std::optional<std::string> VersionInfo::QueryString(
    std::string_view sub_block) const {
  std::optional<Value> v = Query(sub_block);
  if (!v) return std::nullopt;
  std::u16string units;
  for (uint64_t off = 0; off + 2 <= v->bytes.size(); off += 2) {
    char16_t unit = static_cast<char16_t>(*U16(v->bytes, off));
    if (unit == 0) break;
    units.push_back(unit);
  }
  return Utf16ToUtf8(units);
}

std::optional<std::string_view> FindVersionResource(std::string_view image) {
  return PeImage(image).VersionResource();
}

std::optional<VersionInfo> ReadVersionInfo(const std::string& native_path) {
  std::optional<MappedFile> map = MappedFile::Open(native_path);
  if (!map) return std::nullopt;
  std::optional<std::string_view> block = FindVersionResource(map->bytes());
  if (!block) return std::nullopt;
  return VersionInfo::FromBlock(*block);
}

}  // namespace mv
