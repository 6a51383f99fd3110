#include "tools/file_version.h"

#include <filesystem>
#include <vector>

#include "system/language_names.h"
#include "system/paths.h"
#include "tools/pe_version.h"

namespace mv {

namespace {

std::string Padded(uint32_t n, size_t width) {
  std::string digits = std::to_string(n);
  if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  return digits;
}

// The full path of `path`: relative paths count from the current directory,
// "." and ".." are removed as written, and each component that exists in
// another case takes the case found on disk.
std::optional<std::string> ResolveFullPath(std::string_view path) {
  if (path.empty() || path.find('\0') != std::string_view::npos) {
    return std::nullopt;
  }
  std::filesystem::path p{std::string(path)};
  if (p.is_relative()) {
    std::error_code ec;
    std::filesystem::path cwd = std::filesystem::current_path(ec);
    if (ec) return std::nullopt;
    p = cwd / p;
  }
  return ResolveCase(p.lexically_normal().string());
}

}  // namespace

const FileVersionReader::PredefinedString FileVersionReader::kPredefined[15] = {
    {"Language", "", &FileVersionReader::language_},
    {"Comments", "Comments", &FileVersionReader::comments_},
    {"Company Name", "CompanyName", &FileVersionReader::company_name_},
    {"File Description", "FileDescription",
     &FileVersionReader::file_description_},
    {"File Version", "FileVersion", &FileVersionReader::file_version_},
    {"Internal Name", "InternalName", &FileVersionReader::internal_name_},
    {"Legal Copyright", "LegalCopyright", &FileVersionReader::legal_copyright_},
    {"Legal Trademarks", "LegalTrademarks",
     &FileVersionReader::legal_trademarks_},
    {"Original Filename", "OriginalFilename",
     &FileVersionReader::original_filename_},
    {"Product Name", "ProductName", &FileVersionReader::product_name_},
    {"Product Version", "ProductVersion", &FileVersionReader::product_version_},
    {"Private Build", "PrivateBuild", &FileVersionReader::private_build_},
    {"Special Build", "SpecialBuild", &FileVersionReader::special_build_},
    {"LegalTrademarks1", "LegalTrademarks1",
     &FileVersionReader::legal_trademarks1_},
    {"LegalTrademarks2", "LegalTrademarks2",
     &FileVersionReader::legal_trademarks2_},
};

void FileVersionReader::FullPathName(std::string_view path) {
  std::optional<std::string> full = ResolveFullPath(path);
  if (!full) return;
  full_path_name_ = std::move(*full);
  Refresh();
}

std::string FileVersionReader::PredefinedName(int32_t which) const {
  if (which < 0 || which >= 15) return "";
  return std::string(kPredefined[which].name);
}

std::string FileVersionReader::PredefinedValue(int32_t which) const {
  if (which < 0 || which >= 15) return "";
  return this->*kPredefined[which].member;
}

// Which values a read overwrites depends on how far the file gets:
// - no version information: only Available (false);
// - version information without a translation table: the fixed part, and
//   the language and string values become empty (the file has none, and
//   keeping the previous file's values would report them for this one);
// - a full read: everything. FileSubType changes only for drivers and fonts
//   with a known subtype.
void FileVersionReader::Refresh() {
  std::optional<VersionInfo> info = ReadVersionInfo(full_path_name_);
  if (!info) {
    available_ = false;
    return;
  }
  available_ = true;
  FixedFileInfo f = info->Fixed();
  ver_structure_ = std::to_string(f.struc_version >> 16) + "." +
                   std::to_string(f.struc_version & 0xFFFF);
  ver_file_ = FormatVersionNumber(f.file_version_ms, f.file_version_ls);
  ver_product_ =
      FormatVersionNumber(f.product_version_ms, f.product_version_ls);
  file_flags_ = FileFlagsText(f.file_flags);
  file_os_ = FileOsText(f.file_os);
  file_type_ = FileTypeText(f.file_type);
  if (std::optional<std::string> sub =
          FileSubTypeText(f.file_type, f.file_subtype)) {
    file_sub_type_ = *sub;
  }

  std::vector<uint32_t> translations = info->Translations();
  if (translations.empty()) {
    for (const PredefinedString& p : kPredefined) (this->*p.member).clear();
    return;
  }
  // Only the first translation counts.
  auto lang = static_cast<uint16_t>(translations[0] & 0xFFFF);
  auto code_page = static_cast<uint16_t>(translations[0] >> 16);
  language_ = LanguageName(lang);

  std::string prefix = StringTablePrefix(lang, code_page);
  auto lookup = [&](std::string_view key) {
    return info->QueryString(prefix + std::string(key)).value_or("");
  };
  // Many files name another language in their translation table than the
  // one their strings are stored under; English (United States) with the
  // same code page is tried next, and kept when it has a company name.
  company_name_ = lookup("CompanyName");
  if (company_name_.empty()) {
    std::string us = StringTablePrefix(0x0409, code_page);
    company_name_ = info->QueryString(us + "CompanyName").value_or("");
    if (!company_name_.empty()) prefix = us;
  }
  for (const PredefinedString& p : kPredefined) {
    if (p.key.empty() || p.member == &FileVersionReader::company_name_) {
      continue;
    }
    this->*p.member = lookup(p.key);
  }
}

std::string FormatVersionNumber(uint32_t most, uint32_t least) {
  uint32_t major = most >> 16, minor = most & 0xFFFF;
  uint32_t build = least >> 16, revision = least & 0xFFFF;
  std::string text = std::to_string(major) + "." + Padded(minor, 2) + ".";
  if (build == 0) return text + Padded(revision, 4);
  return text + Padded(build, 2) + Padded(revision, 2);
}

std::string FileFlagsText(uint32_t flags) {
  static constexpr std::string_view kWords[] = {"Debug",   "PreRel", "Patched",
                                                "Private", "Info",   "Special"};
  std::string text;
  for (size_t bit = 0; bit < std::size(kWords); ++bit) {
    if ((flags & (1u << bit)) == 0) continue;
    if (!text.empty()) text.push_back(' ');
    text += kWords[bit];
  }
  return text;
}

std::string FileOsText(uint32_t os) {
  switch (os) {
    case 0x00010001:
      return "DOS-Win16";
    case 0x00010004:
      return "DOS-Win32";
    case 0x00020002:
      return "OS/2-16 PM-16";
    case 0x00030003:
      return "OS/2-16 PM-32";
    case 0x00040004:
      return "NT-Win32";
    default:
      return "Unknown";
  }
}

std::string FileTypeText(uint32_t type) {
  switch (type) {
    case 1:
      return "Application";
    case 2:
      return "DLL";
    case 3:
      return "Driver";
    case 4:
      return "Font";
    case 5:
      return "VxD";
    case 7:
      return "Lib";
    default:
      return "Unknown";
  }
}

std::optional<std::string> FileSubTypeText(uint32_t type, uint32_t subtype) {
  static constexpr std::string_view kDrivers[] = {
      "Unknown",     "Printer drv", "Keyboard drv", "Language drv",
      "Display drv", "Mouse drv",   "Network drv",  "System drv",
      "Installable", "Sound drv",   "Comm drv"};
  static constexpr std::string_view kFonts[] = {"Raster Font", "Vector Font",
                                                "TrueType Font"};
  if (type == 3 && subtype < std::size(kDrivers)) {
    return std::string(kDrivers[subtype]);
  }
  if (type == 4 && subtype >= 1 && subtype <= std::size(kFonts)) {
    return std::string(kFonts[subtype - 1]);
  }
  return std::nullopt;
}

std::string StringTablePrefix(uint16_t lang_id, uint16_t code_page) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text = "\\StringFileInfo\\";
  for (uint16_t v : {lang_id, code_page}) {
    for (int shift = 12; shift >= 0; shift -= 4)
      text.push_back(kHex[(v >> shift) & 0xF]);
  }
  return text + "\\";
}

}  // namespace mv
