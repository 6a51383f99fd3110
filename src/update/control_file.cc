#include "update/control_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "system/file_io.h"
#include "system/files.h"
#include "system/paths.h"
#include "system/text.h"

namespace mv {

namespace {

constexpr size_t kReadChunk = 64 * 1024;
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

bool IsSkipped(char c) { return c == ' ' || c == '\t' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

Result<ControlFileReader> ControlFileReader::Open(
    std::string_view native_path) {
  if (Status s = CheckShareReachable(native_path); !s.ok()) {
    return s.failure();
  }
  std::string path = ResolveCase(native_path);
  if (path.empty()) return Failure(kFileNotFound);
  // Without waiting: a FIFO under the name must not hold the run; it is
  // refused below with every other file that is not an ordinary one.
  UniqueFd fd;
  FileFacts facts;
  int err = OpenFile(path, FileOpen::kReadNoWait, fd);
  if (err == 0) err = FactsOfFd(fd.get(), facts);
  if (err != 0) return Failure::FromErrno(err, path);
  if (!facts.ordinary) return Failure(kPathFileAccessError);
  return ControlFileReader(std::move(fd), std::move(path));
}

ControlFileReader::ControlFileReader(UniqueFd fd, std::string path)
    : fd_(std::move(fd)), path_(std::move(path)) {}

bool ControlFileReader::Fill() {
  if (eof_ || !status_.ok()) return false;
  // Keep the unread bytes at the front and read behind them.
  if (begin_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  if (buffer_.size() < end_ + kReadChunk) buffer_.resize(end_ + kReadChunk);
  for (;;) {
    size_t n = 0;
    if (int err = ReadFd(fd_.get(), buffer_.data() + end_, kReadChunk, n);
        err != 0) {
      status_ = Failure::FromErrno(err, path_);
      return false;
    }
    if (n == 0) {
      eof_ = true;
      return false;
    }
    end_ += n;
    return true;
  }
}

bool ControlFileReader::ReadLine(std::string& line) {
  line.clear();
  if (at_start_) {
    at_start_ = false;
    while (end_ - begin_ < 3 && Fill()) {
    }
    if (end_ - begin_ >= 3 &&
        std::memcmp(buffer_.data() + begin_, kByteOrderMark, 3) == 0) {
      begin_ += 3;
    }
    // UTF-16 text would be read as lines of single letters and zero bytes
    // that match no command: the file is refused instead.
    if (end_ - begin_ >= 2 &&
        (std::memcmp(buffer_.data() + begin_, "\xFF\xFE", 2) == 0 ||
         std::memcmp(buffer_.data() + begin_, "\xFE\xFF", 2) == 0)) {
      status_ = Failure(kBadFileMode,
                        "The control file is UTF-16 text; save it as ANSI or "
                        "UTF-8 text");
      return false;
    }
  }
  bool any = false;  // this call found at least one byte of a line
  for (;;) {
    if (begin_ == end_ && !Fill()) return any && status_.ok();
    any = true;
    const char* start = buffer_.data() + begin_;
    const char* end = std::find_if(start, start + (end_ - begin_), [](char c) {
      return c == '\r' || c == '\n';
    });
    line.append(start, end);
    begin_ += static_cast<size_t>(end - start);
    if (begin_ == end_) continue;
    bool cr = buffer_[begin_++] == '\r';
    if (cr && begin_ == end_) Fill();
    if (cr && begin_ < end_ && buffer_[begin_] == '\n') ++begin_;
    return true;
  }
}

Result<int32_t> ControlNumber(std::string_view text) {
  size_t i = 0;
  auto skip = [&] {
    while (i < text.size() && IsSkipped(text[i])) ++i;
  };
  skip();
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // The whole part saturates well above the 32-bit range, so that a long run
  // of digits cannot wrap round into range.
  constexpr uint64_t kCap = 10'000'000'000ULL;
  uint64_t whole = 0;
  for (skip(); i < text.size() && IsDigit(text[i]); ++i, skip()) {
    whole = std::min<uint64_t>(whole * 10 + (text[i] - '0'), kCap);
  }
  // Of the fraction only its relation to one half matters, which the digits
  // tell exactly (no binary floating point in between).
  int first = -1;     // first digit of the fraction
  bool more = false;  // a non-zero digit follows the first
  if (i < text.size() && text[i] == '.') {
    for (++i, skip(); i < text.size() && IsDigit(text[i]); ++i, skip()) {
      if (first < 0) {
        first = text[i] - '0';
      } else if (text[i] != '0') {
        more = true;
      }
    }
  }
  bool up = first > 5 || (first == 5 && (more || whole % 2 == 1));
  uint64_t magnitude = whole + (up ? 1 : 0);
  if (negative) {
    if (magnitude > 2147483648ULL) return Failure(kOverflow);
    return static_cast<int32_t>(-static_cast<int64_t>(magnitude));
  }
  if (magnitude > 2147483647ULL) return Failure(kOverflow);
  return static_cast<int32_t>(magnitude);
}

std::string CustomerControlFile(const InstallSettings& settings,
                                bool server_flavour) {
  return settings.App(server_flavour ? "\\Download\\MVControl.dat"
                                     : "\\Update\\MVControl.dat");
}

std::string UpdateControlFile(const InstallSettings& settings,
                              bool server_flavour) {
  return settings.App(server_flavour ? "\\Download\\MVUpdate.dat"
                                     : "\\Update\\MVUpdate.dat");
}

void ProcessCustomerControlFile(const InstallSettings& settings,
                                bool server_flavour, RunLog& log) {
  log.Show("Processing customer's control file.");
  // Opening is the whole check: the file's contents are not interpreted.
  Result<ControlFileReader> reader =
      ControlFileReader::Open(CustomerControlFile(settings, server_flavour));
  if (!reader.ok()) log.Error(reader.failure().Text());
  log.Info("Processing of customer's control file complete.");
}

namespace {

constexpr int64_t kStalePartialSeconds = 7 * 24 * 60 * 60;

// The names (upper-cased, without folders) that the DOWNLOAD and FTPGET
// lines of the control files in the Update folder fetch; nothing when no
// control file can be read.
std::optional<std::set<std::string>> NamesFetched(
    const InstallSettings& settings) {
  std::optional<std::set<std::string>> names;
  for (const std::string& file : {UpdateControlFile(settings, false),
                                  CustomerControlFile(settings, false)}) {
    Result<ControlFileReader> reader = ControlFileReader::Open(file);
    if (!reader.ok()) continue;
    if (!names) names.emplace();
    std::string line;
    while (reader.value().ReadLine(line)) {
      std::string key = ToUpperAscii(TrimSpaces(StripCharacter(line, "\t")));
      std::string_view arg;
      if (key.starts_with("DOWNLOAD")) arg = MidFrom(key, 10);
      if (key.starts_with("FTPGET")) arg = MidFrom(key, 8);
      size_t cut = arg.find_last_of("\\/");
      if (cut != std::string_view::npos) arg = arg.substr(cut + 1);
      if (!arg.empty()) names->insert(TrimSpaces(arg));
    }
  }
  return names;
}

}  // namespace

void RemoveStalePartialDownloads(Env& env, const InstallSettings& settings,
                                 RunLog& log) {
  std::vector<PartialDownload> partials =
      ListPartialDownloads(env, ResolveCase(settings.App("\\Download")));
  if (partials.empty()) return;
  std::optional<std::set<std::string>> named = NamesFetched(settings);
  for (const PartialDownload& p : partials) {
    bool withdrawn = named && !named->count(ToUpperAscii(p.name));
    if (!withdrawn && p.idle_seconds < kStalePartialSeconds) continue;
    Status st = RemovePartialDownload(env, p);
    std::string why = withdrawn ? "no control file names it any more"
                                : "not written for 7 days";
    log.Warning(st.ok()
                    ? "!!! Removed the partial download of " + p.name + " (" +
                          why + ")."
                    : "!!! Could not remove the partial download of " + p.name +
                          " (" + why + "): " + st.failure().Text());
  }
}

}  // namespace mv
