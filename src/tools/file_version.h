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

class clsQorinFileVersion {
 public:
  // Resolves `NewVal` against the current directory (no need for the file
  // to exist; names are matched without case as the suite expects) and
  // reads the file. A path that cannot be resolved (empty text, or a
  // relative one when the current directory is gone) changes nothing.
  void FullPathName(std::string_view NewVal);
  const std::string& FullPathName() const { return FullPathName_; }

  bool Available() const { return Available_; }
  const std::string& FileFlags() const { return FileFlags_; }
  const std::string& FileOS() const { return FileOS_; }
  const std::string& FileType() const { return FileType_; }
  const std::string& FileSubType() const { return FileSubType_; }
  const std::string& VerFile() const { return VerFile_; }
  const std::string& VerProduct() const { return VerProduct_; }
  const std::string& VerStructure() const { return VerStructure_; }

  // For `Which` 0 to 14 the display name of a predefined string and its
  // value (see the table in file_version.cc); empty text otherwise.
  std::string PredefinedName(int32_t Which) const;
  std::string PredefinedValue(int32_t Which) const;

  const std::string& Comments() const { return Comments_; }
  const std::string& CompanyName() const { return CompanyName_; }
  const std::string& FileDescription() const { return FileDescription_; }
  const std::string& FileVersion() const { return FileVersion_; }
  const std::string& InternalName() const { return InternalName_; }
  const std::string& Language() const { return Language_; }
  const std::string& LegalCopyright() const { return LegalCopyright_; }
  const std::string& LegalTrademarks() const { return LegalTrademarks_; }
  const std::string& OriginalFilename() const { return OriginalFilename_; }
  const std::string& ProductName() const { return ProductName_; }
  const std::string& ProductVersion() const { return ProductVersion_; }
  const std::string& PrivateBuild() const { return PrivateBuild_; }
  const std::string& SpecialBuild() const { return SpecialBuild_; }

  // Reads FullPathName again. Values are overwritten only as far as the
  // file provides them: without version information only Available
  // changes; see file_version.cc for the rest.
  void Refresh();

 private:
  struct PredefinedString {
    std::string_view name;  // display name
    std::string_view key;   // name in the string table ("" for Language)
    std::string clsQorinFileVersion::*member;
  };
  static const PredefinedString kPredefined[15];

  std::string FullPathName_;
  bool Available_ = false;
  std::string VerStructure_;
  std::string VerFile_;
  std::string VerProduct_;
  std::string FileFlags_;
  std::string FileOS_;
  std::string FileType_;
  std::string FileSubType_;
  std::string Language_;
  std::string Comments_;
  std::string CompanyName_;
  std::string FileDescription_;
  std::string FileVersion_;
  std::string InternalName_;
  std::string LegalCopyright_;
  std::string LegalTrademarks_;
  std::string OriginalFilename_;
  std::string ProductName_;
  std::string ProductVersion_;
  std::string PrivateBuild_;
  std::string SpecialBuild_;
  std::string LegalTrademarks1_;
  std::string LegalTrademarks2_;
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
