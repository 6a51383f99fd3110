// The version information of a Windows program file as text properties:
// the fixed part (versions, flags, operating system, type) formatted for
// display, and the values of the file's string table with the name of its
// language. Setting FullPathName reads the file at once; the getters only
// return what the last read left.
#ifndef MVUPDATE_TOOLS_FILE_VERSION_H_
#define MVUPDATE_TOOLS_FILE_VERSION_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mv {

class FileVersionReader {
 public:
  // Resolves `path` against the current directory (no need for the file
  // to exist; names are matched without case as the suite expects) and
  // reads the file. A path that cannot be resolved (empty text, or a
  // relative one when the current directory is gone) changes nothing.
  void FullPathName(std::string_view path);
  const std::string& FullPathName() const { return full_path_name_; }

  bool Available() const { return available_; }
  const std::string& FileFlags() const { return file_flags_; }
  const std::string& FileOS() const { return file_os_; }
  const std::string& FileType() const { return file_type_; }
  const std::string& FileSubType() const { return file_sub_type_; }
  const std::string& VerFile() const { return ver_file_; }
  const std::string& VerProduct() const { return ver_product_; }
  const std::string& VerStructure() const { return ver_structure_; }

  // For `which` 0 to 14 the display name of a predefined string and its
  // value (see the table in file_version.cc); empty text otherwise.
  std::string PredefinedName(int32_t which) const;
  std::string PredefinedValue(int32_t which) const;

  const std::string& Comments() const { return comments_; }
  const std::string& CompanyName() const { return company_name_; }
  const std::string& FileDescription() const { return file_description_; }
  const std::string& FileVersion() const { return file_version_; }
  const std::string& InternalName() const { return internal_name_; }
  const std::string& Language() const { return language_; }
  const std::string& LegalCopyright() const { return legal_copyright_; }
  const std::string& LegalTrademarks() const { return legal_trademarks_; }
  const std::string& OriginalFilename() const { return original_filename_; }
  const std::string& ProductName() const { return product_name_; }
  const std::string& ProductVersion() const { return product_version_; }
  const std::string& PrivateBuild() const { return private_build_; }
  const std::string& SpecialBuild() const { return special_build_; }

  // Reads FullPathName again. Values are overwritten only as far as the
  // file provides them: without version information only Available
  // changes; see file_version.cc for the rest.
  void Refresh();

 private:
  struct PredefinedString {
    std::string_view name;  // display name
    std::string_view key;   // name in the string table ("" for Language)
    std::string FileVersionReader::*member;
  };
  static const PredefinedString kPredefined[15];

  std::string full_path_name_;
  bool available_ = false;
  std::string ver_structure_;
  std::string ver_file_;
  std::string ver_product_;
  std::string file_flags_;
  std::string file_os_;
  std::string file_type_;
  std::string file_sub_type_;
  std::string language_;
  std::string comments_;
  std::string company_name_;
  std::string file_description_;
  std::string file_version_;
  std::string internal_name_;
  std::string legal_copyright_;
  std::string legal_trademarks_;
  std::string original_filename_;
  std::string product_name_;
  std::string product_version_;
  std::string private_build_;
  std::string special_build_;
  std::string legal_trademarks1_;
  std::string legal_trademarks2_;
};

// The formatting rules of the properties, for the class and its tests.

// "major.mm.bbrr", or "major.mm.rrrr" when build is 0; widths are minimums.
std::string FormatVersionNumber(uint32_t most, uint32_t least);
// Names of the set flags 0x01 to 0x20, separated by single blanks.
std::string FileFlagsText(uint32_t flags);
std::string FileOsText(uint32_t os);
std::string FileTypeText(uint32_t type);
// The subtype's name for drivers and fonts with a known subtype; nullopt
// when the type has no subtype names or the subtype is unknown.
std::optional<std::string> FileSubTypeText(uint32_t type, uint32_t subtype);
// "\StringFileInfo\" + language and code page as four upper-case
// hexadecimal digits each + "\".
std::string StringTablePrefix(uint16_t lang_id, uint16_t code_page);

}  // namespace mv

#endif  // MVUPDATE_TOOLS_FILE_VERSION_H_
