// STUB for building ahead of the zip work; replaced on merge.
#ifndef MVUPDATE_UPDATE_ZIP_H_
#define MVUPDATE_UPDATE_ZIP_H_
#include <cstdint>
#include <string_view>
namespace mv {
class Form;
int16_t UnZipFiles(Form& form, std::string_view strZipFile, std::string_view strDestination, std::string_view strFileSpec);
int16_t ZipFiles(Form& form, std::string_view archive, std::string_view file_spec);
}  // namespace mv
#endif
