#include "update/zip.h"

#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "log/run_log.h"
#include "system/failure.h"
#include "system/file_io.h"
#include "system/files.h"
#include "system/paths.h"
#include "system/text.h"
#include "system/unique_fd.h"

namespace mv {

namespace {

struct ArchiveDiscard {
  void operator()(zip_t* za) const { zip_discard(za); }
};
using ArchivePtr = std::unique_ptr<zip_t, ArchiveDiscard>;

struct EntryClose {
  void operator()(zip_file_t* zf) const { zip_fclose(zf); }
};
using EntryPtr = std::unique_ptr<zip_file_t, EntryClose>;

// A result code as the log shows it: one blank before a non-negative number.
std::string CodeText(int code) {
  std::string text(code < 0 ? 0 : 1, ' ');
  text += std::to_string(code);
  return text;
}

// Keeps the first problem's code of a call.
void Note(int16_t& result, ArchiveResult code) {
  if (result == kArchiveOk) result = code;
}

// A NUL byte would cut a name short in every system call, so that another
// file or folder is used than the one named (and a folder walk that names
// one would never end): such a name names nothing.
bool HasNul(std::string_view text) {
  return text.find('\0') != std::string_view::npos;
}

std::string Slashes(std::string_view text) {
  std::string out(text);
  std::replace(out.begin(), out.end(), '\\', '/');
  return out;
}

// The patterns of a file pattern: separated by blanks, with "/" as
// the only separator.
std::vector<std::string> SplitPatterns(std::string_view file_spec) {
  std::vector<std::string> patterns;
  size_t pos = 0;
  while (pos < file_spec.size()) {
    size_t begin = file_spec.find_first_not_of(' ', pos);
    if (begin == std::string_view::npos) break;
    size_t end = file_spec.find(' ', begin);
    if (end == std::string_view::npos) end = file_spec.size();
    patterns.push_back(Slashes(file_spec.substr(begin, end - begin)));
    pos = end;
  }
  return patterns;
}

bool MatchesAny(const std::vector<std::string>& patterns,
                std::string_view name) {
  return std::any_of(
      patterns.begin(), patterns.end(),
      [&](const std::string& p) { return WildcardMatch(p, name); });
}

// The folder components of an entry name below the destination, or nothing
// when the name would leave it: absolute, a drive, "..", or empty.
std::optional<std::vector<std::string>> SafeParts(std::string_view name) {
  std::string path = Slashes(name);
  if (path.empty() || path[0] == '/') return std::nullopt;
  if (path.size() >= 2 && path[1] == ':') return std::nullopt;  // C:\ or C:
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos <= path.size()) {
    size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(pos, end - pos);
    if (part == "..") return std::nullopt;
    if (!part.empty() && part != ".") parts.push_back(std::move(part));
    pos = end + 1;
  }
  if (parts.empty()) return std::nullopt;
  return parts;
}

// Case-insensitive lookup of names in the folders that one extraction
// writes to. Each folder is read once; names made later are added, so a run
// over thousands of entries does not read a folder per entry.
class FolderNames {
 public:
  // The existing entry of `folder` that is `name` regardless of case (the
  // exact name first, then the first in name order), or `name` itself.
  std::string Resolve(const std::string& folder, const std::string& name) {
    Listing& l = Load(folder);
    if (l.exact.count(name)) return name;
    auto it = l.folded.find(ToLowerAscii(name));
    return it == l.folded.end() ? name : it->second;
  }

  void Added(const std::string& folder, const std::string& name) {
    Add(Load(folder), name);
  }

  // A folder this extraction made: known to be empty.
  void Made(const std::string& folder) { listings_[folder]; }

 private:
  struct Listing {
    std::unordered_set<std::string> exact;
    std::unordered_map<std::string, std::string> folded;
  };

  static void Add(Listing& l, const std::string& name) {
    l.exact.insert(name);
    auto [it, inserted] = l.folded.emplace(ToLowerAscii(name), name);
    if (!inserted && name < it->second) it->second = name;
  }

  Listing& Load(const std::string& folder) {
    auto [it, inserted] = listings_.try_emplace(folder);
    if (inserted) {
      for (const std::string& n : ListFolder(folder)) Add(it->second, n);
    }
    return it->second;
  }

  std::unordered_map<std::string, Listing> listings_;
};

// One extraction: the archive, the destination and what it learnt.
class Extraction {
 public:
  Extraction(Env& env, RunLog& log, zip_t* za, std::string destination,
             const ArchiveProgress& progress)
      : env_(env),
        log_(log),
        za_(za),
        destination_(std::move(destination)),
        progress_(progress) {}

  // Extracts the matching entries; gives the result code.
  int16_t Run(const std::vector<std::string>& patterns) {
    zip_int64_t count = zip_get_num_entries(za_, 0);
    std::vector<std::pair<zip_uint64_t, std::string>> matching;
    for (zip_int64_t i = 0; i < count; ++i) {
      const char* guessed = zip_get_name(za_, i, ZIP_FL_ENC_GUESS);
      if (guessed == nullptr) continue;
      std::string matched_name = Slashes(guessed);
      while (!matched_name.empty() && matched_name.back() == '/') {
        matched_name.pop_back();
      }
      if (!MatchesAny(patterns, matched_name)) continue;
      matching.emplace_back(static_cast<zip_uint64_t>(i), guessed);
    }
    if (matching.empty()) Note(result_, kArchiveNothingMatched);
    if (!Fits(matching)) return result_;
    items_ = static_cast<int>(matching.size());
    for (const auto& [index, name] : matching) {
      ++item_;
      Report(name, 0, EntrySize(index));
      ExtractEntry(index, name, Slashes(name).ends_with('/'));
    }
    return result_;
  }

 private:
  // Whether the entries fit: their sizes together within the destination's
  // free space, each within the largest file this process may write. An
  // archive that does not fit is refused before anything is written,
  // rather than written until the disk is full.
  bool Fits(const std::vector<std::pair<zip_uint64_t, std::string>>& entries) {
    uint64_t total = 0, largest = 0;
    for (const auto& entry : entries) {
      zip_stat_t st;
      if (zip_stat_index(za_, entry.first, 0, &st) == 0 &&
          (st.valid & ZIP_STAT_SIZE)) {
        total += st.size;
        largest = std::max<uint64_t>(largest, st.size);
      }
    }
    uint64_t free_bytes = env_.FreeBytes(destination_).value_or(UINT64_MAX);
    std::optional<uint64_t> limit = env_.FileSizeLimit();
    bool too_large = limit && largest > *limit;
    if (total <= free_bytes && !too_large) return true;
    log_.Warning(
        too_large && total <= free_bytes
            ? "!!! The archive holds a file of " + std::to_string(largest) +
                  " bytes, larger than this process may write (" +
                  std::to_string(limit.value_or(0)) +
                  " bytes); nothing was extracted."
            : "!!! The archive needs " + std::to_string(total) + " bytes but " +
                  destination_ + " has " + std::to_string(free_bytes) +
                  " bytes free; nothing was extracted.");
    Note(result_, kArchiveWriteFailed);
    return false;
  }

  // The size the archive states for an entry; -1 when it states none.
  int64_t EntrySize(zip_uint64_t index) {
    zip_stat_t st;
    if (zip_stat_index(za_, index, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE))
      return -1;
    return static_cast<int64_t>(st.size);
  }

  void Report(const std::string& name, int64_t done, int64_t total) {
    if (progress_) progress_(name, item_, items_, done, total);
  }

  void ExtractEntry(zip_uint64_t index, const std::string& name, bool folder) {
    std::optional<std::vector<std::string>> parts = SafeParts(name);
    if (!parts || IsLink(index)) {
      log_.Warning("!!! Unsafe entry not extracted: " + name);
      Note(result_, kArchiveEntryUnsafe);
      return;
    }
    const char* raw = zip_get_name(za_, index, ZIP_FL_ENC_RAW);
    if (raw != nullptr && name != raw) {
      log_.Warning("!!! Entry name is not UTF-8, extracted as: " + name);
    }
    size_t folder_count = folder ? parts->size() : parts->size() - 1;
    Result<bool> opened = OpenFolders(*parts, folder_count);
    if (!opened.ok()) {
      CouldNotExtract(name, opened.failure());
      return;
    }
    if (!opened.value()) {
      // A link on the way would take the entry outside the destination.
      log_.Warning("!!! Unsafe entry not extracted: " + name);
      Note(result_, kArchiveEntryUnsafe);
      return;
    }
    if (!folder) WriteEntry(index, name, parts->back());
  }

  bool IsLink(zip_uint64_t index) {
    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(za_, index, 0, &opsys, &attributes) !=
        0) {
      return false;
    }
    // The Unix file type bits of a symbolic link (S_IFLNK).
    return opsys == ZIP_OPSYS_UNIX && (attributes >> 16 & 0170000) == 0120000;
  }

  // Stored permission bits, or those of a new file when none are stored.
  uint32_t ModeOf(zip_uint64_t index) {
    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(za_, index, 0, &opsys, &attributes) ==
            0 &&
        opsys == ZIP_OPSYS_UNIX && (attributes >> 16 & 0777) != 0) {
      return attributes >> 16 & 0777;
    }
    return 0666;
  }

  // Opens the folder of the first `count` components of `parts` below the
  // destination as folder_, making missing ones and reusing
  // folders whose names differ only in case. Each level is opened from the
  // one above it without following links: gives false when one of them is
  // a symbolic link.
  Result<bool> OpenFolders(const std::vector<std::string>& parts,
                           size_t count) {
    std::string folder = destination_;
    std::vector<std::string> names;
    for (size_t i = 0; i < count; ++i) {
      names.push_back(names_.Resolve(folder, parts[i]));
      folder = JoinName(folder, names.back());
    }
    if (folder_ && folder == folder_.path()) return true;  // as before
    folder_.Close();
    Result<Folder> opened = Folder::Open(destination_);
    if (!opened.ok()) return opened.failure();
    Folder dir = std::move(opened.value());
    for (const std::string& name : names) {
      std::string child = JoinName(dir.path(), name);
      bool made = false;
      Folder next;
      Result<bool> entered =
          dir.OpenChild(name, !ready_.count(child), made, next);
      if (made) {
        names_.Added(dir.path(), name);
        names_.Made(child);
      }
      if (!entered.ok() || !entered.value()) return entered;
      ready_.insert(child);
      dir = std::move(next);
    }
    folder_ = std::move(dir);
    return true;
  }

  // Writes one entry into folder_ under a temporary name and renames it over
  // the target once it is complete and its checksum is right.
  void WriteEntry(zip_uint64_t index, const std::string& name,
                  const std::string& base) {
    std::string file = names_.Resolve(folder_.path(), base);
    std::string target = JoinName(folder_.path(), file);
    std::string temp;
    Result<UniqueFd> out = folder_.CreateTempFile(file, ModeOf(index), temp);
    if (!out.ok()) {
      CouldNotExtract(name, out.failure());
      return;
    }
    bool written = Copy(index, name, out.value().get());
    if (written) {
      SetTime(index, out.value().get());
      if (out.value().Close() != 0) {
        CouldNotExtract(name, Failure::FromErrno(errno, target));
        written = false;
      }
    }
    if (int err = written ? folder_.Rename(temp, file) : 0; err != 0) {
      CouldNotExtract(name, Failure::FromErrno(err, target));
      written = false;
    }
    if (!written) {
      folder_.Remove(temp);
      return;
    }
    names_.Added(folder_.path(), file);
  }

  // Copies the entry's data to `fd`; false (with its line) on a failure.
  bool Copy(zip_uint64_t index, const std::string& name, int fd) {
    EntryPtr in(zip_fopen_index(za_, index, 0));
    if (!in) {
      Damaged(name, zip_error_strerror(zip_get_error(za_)));
      return false;
    }
    buffer_.resize(256 * 1024);
    // The space check counted the size the archive states; data that goes
    // beyond it is not written.
    zip_stat_t st;
    uint64_t left_to_state = UINT64_MAX;
    if (zip_stat_index(za_, index, 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE)) {
      left_to_state = st.size;
    }
    const int64_t total = EntrySize(index);
    int64_t written = 0;
    for (;;) {
      zip_int64_t n = zip_fread(in.get(), buffer_.data(), buffer_.size());
      if (n < 0) {
        Damaged(name, zip_error_strerror(zip_file_get_error(in.get())));
        return false;
      }
      if (n == 0) break;
      if (static_cast<uint64_t>(n) > left_to_state) {
        Damaged(name, "more data than the archive states");
        return false;
      }
      left_to_state -= static_cast<uint64_t>(n);
      if (int err = env_.WriteFd(fd, buffer_.data(), static_cast<size_t>(n));
          err != 0) {
        CouldNotExtract(name, Failure::FromErrno(err, name));
        return false;
      }
      written += n;
      Report(name, written, total);
    }
    // The checksum is compared when the entry is closed.
    zip_file_t* raw = in.release();
    if (int err = zip_fclose(raw); err != 0) {
      zip_error_t error;
      zip_error_init_with_code(&error, err);
      Damaged(name, zip_error_strerror(&error));
      zip_error_fini(&error);
      return false;
    }
    return true;
  }

  void SetTime(zip_uint64_t index, int fd) {
    zip_stat_t st;
    if (zip_stat_index(za_, index, 0, &st) != 0 ||
        !(st.valid & ZIP_STAT_MTIME)) {
      return;
    }
    env_.SetModifiedTime(
        fd, st.mtime);  // a time stamp is not worth failing an entry
  }

  void Damaged(const std::string& name, const char* why) {
    log_.Warning("!!! Damaged entry not extracted: " + name + " (" +
                 std::string(why) + ")");
    Note(result_, kArchiveEntryDamaged);
  }

  void CouldNotExtract(const std::string& name, const Failure& failure) {
    log_.Warning("!!! Could not extract: " + name + " (" + failure.Text() +
                 ")");
    Note(result_, kArchiveWriteFailed);
  }

  Env& env_;
  RunLog& log_;
  zip_t* za_;
  std::string destination_;
  FolderNames names_;
  std::unordered_set<std::string> ready_;  // folders known to exist
  // The folder the last entry went to, open.
  Folder folder_;
  std::vector<char> buffer_;
  int16_t result_ = kArchiveOk;
  const ArchiveProgress& progress_;
  int item_ = 0, items_ = 0;
};

// Opens an archive for reading; the result code when that fails.
ArchivePtr OpenArchive(const std::string& path, int16_t& result) {
  FileFacts st;
  int err = path.empty() ? ENOENT : FactsOfPath(path, st);
  if (err != 0) {
    result = (err == ENOENT || err == ENOTDIR) ? kArchiveNotFound
                                               : kArchiveUnreadable;
    return nullptr;
  }
  if (st.folder) {
    result = kArchiveUnreadable;
    return nullptr;
  }
  int error = 0;
  ArchivePtr za(zip_open(path.c_str(), ZIP_RDONLY, &error));
  if (!za) {
    result = error == ZIP_ER_OPEN ? kArchiveUnreadable : kArchiveCorrupt;
  }
  return za;
}

int16_t Extract(Env& env, RunLog& log, std::string_view zip_file,
                std::string_view destination, std::string_view file_spec,
                const ArchiveProgress& progress) {
  if (HasNul(zip_file)) return kArchiveNotFound;
  if (HasNul(destination)) return kArchiveWriteFailed;
  int16_t result = kArchiveOk;
  ArchivePtr za = OpenArchive(ResolvePath(zip_file), result);
  if (!za) return result;
  std::string folder = ResolvePath(destination);
  while (folder.size() > 1 && IsSeparator(folder.back())) folder.pop_back();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (!FolderExists(folder)) return kArchiveWriteFailed;
  return Extraction(env, log, za.get(), folder, progress)
      .Run(SplitPatterns(file_spec));
}

// A file to be archived: where it is and the name it is stored under.
struct Source {
  std::string path;
  std::string name;
};

// The files of `folder` and its sub-folders whose names match `pattern`,
// in name order, stored under `prefix` followed by their relative path.
void Walk(const std::string& folder, const std::string& prefix,
          const std::string& pattern, std::vector<Source>& out) {
  std::vector<std::string> names = ListFolder(folder);
  std::sort(names.begin(), names.end());
  for (const std::string& n : names) {
    std::string path = folder == "." ? n : JoinName(folder, n);
    FileFacts st;
    if (FactsOfEntry(path, st) != 0) continue;
    if (st.folder && !st.link) {
      Walk(path, prefix + n + "/", pattern, out);
      continue;
    }
    // A link is stored as the file it names; links to folders are skipped.
    if (st.link && FactsOfPath(path, st) != 0) continue;
    if (st.ordinary && WildcardMatch(pattern, n)) {
      out.push_back({path, prefix + n});
    }
  }
}

// The stored form of a pattern's folder: its components below the current
// directory, without a root, drive or "." and ".." components.
std::string StoredPrefix(std::string_view folder) {
  std::string prefix;
  size_t pos = 0;
  while (pos < folder.size()) {
    size_t end = pos;
    while (end < folder.size() && !IsSeparator(folder[end])) ++end;
    std::string_view part = folder.substr(pos, end - pos);
    bool drive = prefix.empty() && part.size() == 2 && part[1] == ':';
    if (!part.empty() && part != "." && part != ".." && !drive) {
      prefix += std::string(part) + "/";
    }
    pos = end + 1;
  }
  return prefix;
}

// The files that the patterns name, each once.
std::vector<Source> Collect(const std::vector<std::string>& patterns) {
  std::vector<Source> all;
  for (const std::string& p : patterns) {
    if (HasNul(p)) continue;
    size_t slash = p.find_last_of('/');
    std::string folder = slash == std::string::npos ? "" : p.substr(0, slash);
    std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
    std::string root = slash == 0       ? "/"
                       : folder.empty() ? "."
                                        : ResolveCase(NativePath(folder));
    Walk(root, StoredPrefix(root), name, all);
  }
  std::vector<Source> unique;
  std::unordered_set<std::string> seen;
  for (Source& s : all) {
    if (seen.insert(s.name).second) unique.push_back(std::move(s));
  }
  return unique;
}

int16_t Build(RunLog& log, std::string_view archive, std::string_view file_spec,
              const ArchiveProgress& progress) {
  int16_t result = kArchiveOk;
  if (HasNul(archive)) return kArchiveWriteFailed;
  std::string path = ResolvePath(archive);
  if (path.empty()) return kArchiveWriteFailed;
  std::vector<Source> sources = Collect(SplitPatterns(file_spec));
  // The archive never holds itself (it is still there when it could not be
  // deleted).
  std::erase_if(sources,
                [&](const Source& s) { return SameFile(s.path, path); });
  // A file that cannot be read would fail the whole archive when it is
  // written; it is left out and named instead.
  std::erase_if(sources, [&](const Source& s) {
    UniqueFd fd;
    int err = OpenFile(s.path, FileOpen::kRead, fd);
    if (err == 0) return false;
    log.Warning("!!! Could not read: " + s.name + " (" +
                Failure::FromErrno(err, s.path).Text() + ")");
    Note(result, kArchiveSourceUnreadable);
    return true;
  });
  if (sources.empty()) {
    Note(result, kArchiveNothingMatched);
    return result;
  }
  int error = 0;
  ArchivePtr za(zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error));
  if (!za) return kArchiveWriteFailed;
  for (const Source& s : sources) {
    zip_source_t* data = zip_source_file(za.get(), s.path.c_str(), 0, -1);
    zip_int64_t index = data == nullptr ? -1
                                        : zip_file_add(za.get(), s.name.c_str(),
                                                       data, ZIP_FL_ENC_GUESS);
    if (index < 0) {
      if (data != nullptr) zip_source_free(data);
      return kArchiveWriteFailed;
    }
    zip_set_file_compression(za.get(), static_cast<zip_uint64_t>(index),
                             ZIP_CM_DEFLATE, kZipCompressionLevel);
  }
  // libzip compresses every file when the archive is closed; its progress
  // is a fraction of the whole, reported as that part of the files' bytes.
  std::string name = NativePath(archive);
  int64_t total = 0;
  for (const Source& s : sources) {
    FileFacts st;
    if (FactsOfPath(s.path, st) == 0) total += st.size;
  }
  auto report = [&](double fraction) {
    progress(name, 1, 1,
             static_cast<int64_t>(fraction * static_cast<double>(total)),
             total);
  };
  if (progress) {
    zip_register_progress_callback_with_state(
        za.get(), 0.01,
        [](zip_t*, double fraction, void* state) {
          (*static_cast<decltype(report)*>(state))(fraction);
        },
        nullptr, &report);
  }
  // libzip writes a temporary file and renames it only when it is complete;
  // when that fails the temporary file is removed and nothing is left.
  if (zip_close(za.get()) != 0) {
    log.Warning("!!! Could not write the zip file: " +
                std::string(zip_error_strerror(zip_get_error(za.get()))));
    return kArchiveWriteFailed;
  }
  za.release();
  return result;
}

}  // namespace

int16_t UnZipFiles(Env& env, RunLog& log, std::string_view zip_file,
                   std::string_view destination, std::string_view file_spec,
                   const ArchiveProgress& progress) {
  log.Info("DESTINATION      : " + std::string(destination));
  log.Info("ZIPFILE          : " + std::string(zip_file));
  log.Info("FILESPEC         : " + std::string(file_spec));
  int16_t result =
      Extract(env, log, zip_file, destination, file_spec, progress);
  if (result != kArchiveOk) {
    // Nothing to extract is not a failure of the update.
    log.LogMessage(
        result == kArchiveNothingMatched ? kLevelWarning : kLevelError,
        CodeText(result), kStampedLine);
  }
  return result;
}

int16_t ZipFiles(RunLog& log, std::string_view archive,
                 std::string_view file_spec, const ArchiveProgress& progress) {
  log.Info("Zip Files      : " + std::string(archive));
  log.Info("File Spec      : " + std::string(file_spec));
  if (!DeleteFiles(NativePath(archive)).ok()) {
    log.Warning("!!! Could not remove the zip file. ");
  }
  int16_t result = Build(log, archive, file_spec, progress);
  if (result != kArchiveOk) {
    log.LogMessage(
        result == kArchiveNothingMatched ? kLevelWarning : kLevelError,
        "!!! Could not zip: " + CodeText(result));
  }
  return result;
}

}  // namespace mv
