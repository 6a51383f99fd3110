#include "confinement.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <utility>

#include "system/unique_fd.h"

// Older C library headers lack the numbers; they are the same on every
// architecture.
#ifndef SYS_landlock_create_ruleset
#define SYS_landlock_create_ruleset 444
#define SYS_landlock_add_rule 445
#define SYS_landlock_restrict_self 446
#endif

namespace mv::fuzz {

namespace {

// The kernel's interface, spelt out here so that the code does not depend
// on the age of the installed kernel headers.
constexpr uint32_t kCreateRulesetVersion = 1u << 0;
constexpr int kRulePathBeneath = 1;

constexpr uint64_t kExecute = 1ull << 0;
constexpr uint64_t kReadFile = 1ull << 2;
constexpr uint64_t kReadDir = 1ull << 3;
// Every right to the file system that the kernel knows, by interface
// version: 1 has bits 0 to 12, 2 adds REFER (rename and link across
// folders), 3 TRUNCATE, 5 IOCTL_DEV.
uint64_t FileSystemRights(int abi) {
  uint64_t rights = (1ull << 13) - 1;
  if (abi >= 2) rights |= 1ull << 13;
  if (abi >= 3) rights |= 1ull << 14;
  if (abi >= 5) rights |= 1ull << 15;
  return rights;
}
// From version 4: binding and connecting TCP sockets.
constexpr uint64_t kTcpRights = (1ull << 0) | (1ull << 1);

struct RulesetAttr {
  uint64_t handled_access_fs;
  uint64_t handled_access_net;  // read by the kernel from version 4 on
};

struct __attribute__((packed)) PathBeneathAttr {
  uint64_t allowed_access;
  int32_t parent_fd;
};

// The rights that make sense for a file rather than a folder.
constexpr uint64_t kFileRights =
    kExecute | (1ull << 1) | kReadFile | (1ull << 14) | (1ull << 15);

bool AllowBeneath(int ruleset, const std::string& path, uint64_t rights) {
  UniqueFd fd(::open(path.c_str(), O_PATH | O_CLOEXEC));
  struct stat st;
  if (!fd || ::fstat(fd.get(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) rights &= kFileRights;
  PathBeneathAttr rule{rights, fd.get()};
  return ::syscall(SYS_landlock_add_rule, ruleset, kRulePathBeneath, &rule,
                   0) == 0;
}

// The path with links resolved ("" when it does not exist).
std::string RealFolder(const char* path) {
  std::unique_ptr<char, void (*)(void*)> real(::realpath(path, nullptr),
                                              std::free);
  return real ? std::string(real.get()) : std::string();
}

std::string ParentOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

bool Confine(const std::vector<std::string>& writable,
             const std::vector<std::string>& readable) {
  long abi =
      ::syscall(SYS_landlock_create_ruleset, nullptr, 0, kCreateRulesetVersion);
  if (abi < 1) return false;
  uint64_t all = FileSystemRights(static_cast<int>(abi));
  RulesetAttr attr{all, kTcpRights};
  size_t attr_size = abi >= 4 ? sizeof attr : sizeof attr.handled_access_fs;
  UniqueFd ruleset(static_cast<int>(
      ::syscall(SYS_landlock_create_ruleset, &attr, attr_size, 0)));
  if (!ruleset) return false;
  // Reading is allowed where the program, its libraries and settings live
  // and in the process's own /proc entry (the sanitizers read it), not in
  // /dev or the rest of /proc, whose endless files a copy command could
  // otherwise read forever. Executing is allowed nowhere: the sanitizers'
  // symbolizer is started before the confinement (see installation.cc).
  std::vector<std::pair<std::string, uint64_t>> rules;
  for (const char* folder :
       {"/usr", "/etc", "/lib", "/lib64", "/bin", "/sbin"}) {
    rules.emplace_back(folder, kReadFile | kReadDir);
  }
  rules.emplace_back(RealFolder("/proc/self"), kReadFile | kReadDir);
  rules.emplace_back(ParentOf(RealFolder("/proc/self/exe")),
                     kReadFile | kReadDir);
  for (const std::string& folder : readable) {
    rules.emplace_back(folder, kReadFile | kReadDir);
  }
  for (const std::string& folder : writable) {
    rules.emplace_back(folder, all & ~kExecute);
  }
  for (const auto& [folder, rights] : rules) {
    // A folder this system lacks (/lib64 on some) needs no rule.
    if (folder.empty() || ::access(folder.c_str(), F_OK) != 0) continue;
    if (!AllowBeneath(ruleset.get(), folder, rights & all)) return false;
  }
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
  return ::syscall(SYS_landlock_restrict_self, ruleset.get(), 0) == 0;
}

FuzzerFolders FuzzerFoldersOf(int argc, char** argv) {
  FuzzerFolders folders;
  // A shared folder such as /tmp or the current one (the source tree, as a
  // rule) is never handed out: the commands could then delete what others
  // keep there. Artifacts go to a folder of their own.
  auto is_folder = [](const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    for (const char* shared : {"/", "/tmp", "/var/tmp", "."}) {
      struct stat other;
      if (::stat(shared, &other) == 0 && other.st_dev == st.st_dev &&
          other.st_ino == st.st_ino) {
        return false;
      }
    }
    return true;
  };
  bool first_corpus_seen = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg.empty()) continue;
    if (arg[0] != '-') {
      // libFuzzer adds inputs to the first corpus folder only; it reads
      // the others input by input.
      std::string folder(arg);
      if (!first_corpus_seen && is_folder(folder)) {
        folders.writable.push_back(folder);
      } else if (is_folder(folder) || ::access(folder.c_str(), R_OK) == 0) {
        folders.readable.push_back(folder);
      }
      first_corpus_seen = true;
      continue;
    }
    for (std::string_view flag :
         {"-artifact_prefix=", "-exact_artifact_path="}) {
      if (arg.substr(0, flag.size()) != flag) continue;
      std::string path(arg.substr(flag.size()));
      size_t slash = path.find_last_of('/');
      std::string folder =
          slash == std::string::npos ? "." : path.substr(0, slash + 1);
      if (is_folder(folder)) folders.writable.push_back(folder);
    }
  }
  return folders;
}

}  // namespace mv::fuzz
