// The update control file as the vendor's tool reads and writes it: where it
// lies on the site, and its lines cut as an installation cuts them.
#ifndef MVUPDATE_VENDOR_CONTROL_TEXT_H_
#define MVUPDATE_VENDOR_CONTROL_TEXT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mv {

inline constexpr std::string_view kUpdateFolder = "Merivane/Update";
inline const std::string kControlPath = "Merivane/Update/MVUpdate.dat";
inline const std::string kSignaturePath = kControlPath + ".minisig";

// The lines of a control file: a line ends at CR or CR LF (a lone LF is
// part of the line), a leading UTF-8 byte order mark is dropped.
std::vector<std::string> ControlLines(std::string_view text);

// The number that a first line "LASTUPDATE=N" announces; nothing for any
// other line.
std::optional<int32_t> AnnouncedUpdate(std::string_view first_line);

// The number of a section header "[UPDATE N]" (tabs removed); nothing when
// the line is no header, or its number cannot be read (then `unreadable`).
std::optional<int32_t> SectionNumber(std::string_view line,
                                     bool* unreadable = nullptr);

}  // namespace mv

#endif  // MVUPDATE_VENDOR_CONTROL_TEXT_H_
