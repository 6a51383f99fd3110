// Reads the version resource of a Windows program file.
#ifndef MVUPDATE_TOOLS_FILE_VERSION_H_
#define MVUPDATE_TOOLS_FILE_VERSION_H_

namespace mv {

class clsQorinFileVersion {
 public:
  virtual ~clsQorinFileVersion() = default;
};

}  // namespace mv

#endif  // MVUPDATE_TOOLS_FILE_VERSION_H_
