#include "installation.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>
#include <zip.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "confinement.h"
#include "system/crypto.h"
#include "system/files.h"
#include "system/paths.h"

namespace mv::fuzz {

namespace {

namespace fs = std::filesystem;

constexpr rlim_t kLargestFile = 64 << 20;

FuzzerFolders& FuzzerUse() {
  static FuzzerFolders folders;
  return folders;
}

void Write(const std::string& path, const std::string& contents) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
}

// A small archive: a file in a folder and one at the top.
std::string MakePatch() {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &error);
  zip_t* za = zip_open_from_source(buffer, ZIP_TRUNCATE, &error);
  std::string bytes;
  if (za != nullptr) {
    static const char kCore[] = "core 1\r\n";
    static const char kReadme[] = "read me\r\n";
    zip_file_add(za, "Bin/core.txt",
                 zip_source_buffer(za, kCore, sizeof kCore - 1, 0), 0);
    zip_file_add(za, "readme.txt",
                 zip_source_buffer(za, kReadme, sizeof kReadme - 1, 0), 0);
    zip_source_keep(buffer);
    if (zip_close(za) == 0 && zip_source_open(buffer) == 0) {
      char chunk[4096];
      zip_int64_t n;
      while ((n = zip_source_read(buffer, chunk, sizeof chunk)) > 0) {
        bytes.append(chunk, static_cast<size_t>(n));
      }
      zip_source_close(buffer);
    }
    zip_source_free(buffer);
  }
  zip_error_fini(&error);
  return bytes;
}

// The update files, on the site (below Merivane/Update) and on the share.
// Should anything ever run the set-up script, it kills this process, which
// the fuzzer reports as a crash.
const std::map<std::string, std::string>& UpdateFiles() {
  static const std::map<std::string, std::string> files = {
      {"Patch1.zip", MakePatch()},
      {"readme.txt", "read me\r\n"},
      {"setup.sh", "#!/bin/sh\nkill -ABRT $PPID\n"},
  };
  return files;
}

// The confined process cannot remove the folder it is confined to: a small
// process started before the confinement waits until this one has ended,
// however it ends, and removes the folder then.
void RemoveWhenGone(const std::string& folder) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return;
  pid_t pid = ::fork();
  if (pid == 0) {
    // Only calls that are safe between fork and exec, and full paths, since
    // PATH names the empty folder by now. The write end of the
    // pipe is closed by the exec, so the read sees the end of the file when
    // the last holder, this process, is gone.
    ::dup2(fds[0], 0);
    ::setsid();
    ::execl("/bin/sh", "sh", "-c", "/bin/cat >/dev/null; /bin/rm -rf -- \"$0\"",
            folder.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[0]);  // fds[1] stays open as long as this process lives
}

// The sanitizers start their symbolizer (llvm-symbolizer) the first time
// they name a function, such as libFuzzer's first NEW_FUNC line, and keep it
// running. Started from the confined process it cannot run: its exec needs
// the right to execute the program loader, which the confinement grants to
// nobody. A write to the pipe of the symbolizer that never started then
// ended the process with SIGPIPE. So it is started here, before the
// confinement and while PATH still finds it, and a symbolizer that ends
// later only costs the names: SIGPIPE is ignored.
extern "C" void __sanitizer_symbolize_pc(void* pc, const char* format,
                                         char* out, size_t size)
    __attribute__((weak));

void StartSymbolizer() {
  ::signal(SIGPIPE, SIG_IGN);
  if (__sanitizer_symbolize_pc == nullptr) return;  // no sanitizer runtime
  char name[256];
  __sanitizer_symbolize_pc(reinterpret_cast<void*>(&StartSymbolizer), "%f",
                           name, sizeof name);
}

}  // namespace

void NoteFuzzerArguments(int* argc, char*** argv) {
  // libFuzzer reads and writes its folders by the names on its command
  // line, also after the target has made a folder of the installation the
  // current directory: relative names are made absolute before libFuzzer
  // reads its flags.
  static std::vector<std::string> args;
  static std::vector<char*> pointers;
  std::string here = CurrentFolder() + "/";
  for (int i = 0; i < *argc; ++i) {
    std::string a = (*argv)[i];
    std::string flag;
    for (const char* f : {"-artifact_prefix=", "-exact_artifact_path="}) {
      if (a.rfind(f, 0) == 0) flag = f;
    }
    std::string value = a.substr(flag.size());
    bool path = i > 0 && (!flag.empty() || a[0] != '-');
    if (path && !value.empty() && value[0] != '/') value = here + value;
    args.push_back(flag + value);
  }
  for (std::string& a : args) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  *argv = pointers.data();
  FuzzerUse() = FuzzerFoldersOf(*argc, *argv);
}

Installation& Installation::Get() {
  static Installation* install = new Installation();
  return *install;
}

Installation::Installation() {
  std::string pattern = (fs::temp_directory_path() / "mvfuzz-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  root_ = pattern;
  // The environment overrides through which the core finds the platform's
  // stand-ins, all inside the folder.
  ::setenv("MVUPDATE_REGISTRY", (root_ + "/registry.reg").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (root_ + "/config").c_str(), 1);
  ::setenv("HOME", root_.c_str(), 1);
  ::setenv("MVUPDATE_COMPUTERNAME", "SRV01", 1);
  ::setenv("MVUPDATE_UNC_ROOT", (root_ + "/unc").c_str(), 1);
  ::setenv("MVUPDATE_DEFAULT_INSTALL_PATH", (root_ + "/Merivane").c_str(), 1);
  ::setenv("ODBCSYSINI", (root_ + "/odbc").c_str(), 1);
  ::setenv("ODBCINI", (root_ + "/odbc/odbc.ini").c_str(), 1);
  StartSymbolizer();
  ::setenv("PATH", (root_ + "/no-programs").c_str(), 1);
  ::setenv("MVUPDATE_RUN_WAIT_SECONDS", "0", 1);
  ::setenv("MVUPDATE_FTP_TIMEOUT", "1", 1);

  // A write beyond the limit fails with EFBIG instead of raising SIGXFSZ.
  ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit = {kLargestFile, kLargestFile};
  ::setrlimit(RLIMIT_FSIZE, &limit);

  UpdateFiles();  // made before the confinement, like every library use
  RemoveWhenGone(root_);
  std::vector<std::string> writable = FuzzerUse().writable;
  writable.push_back(root_);
  if (!Confine(writable, FuzzerUse().readable)) {
    std::perror("cannot confine the fuzz target (Landlock)");
    std::fprintf(stderr,
                 "The commands it runs could change the machine; not run.\n");
    std::error_code ec;
    fs::remove_all(root_, ec);
    std::_Exit(kCannotConfine);
  }
  Reset();
}

void Installation::Reset() {
  std::error_code ec;
  if (::chdir(root_.c_str()) != 0) std::abort();
  for (const fs::directory_entry& e : fs::directory_iterator(root_, ec)) {
    // A command may have taken away the write permission of a folder.
    fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(e.path(), ec);
  }
  for (const char* folder : {"Database", "Download", "Update", "Backup"}) {
    fs::create_directories(app() + "/" + folder, ec);
  }
  fs::create_directories(root_ + "/odbc", ec);
  fs::create_directories(root_ + "/no-programs", ec);
  fs::create_directories(root_ + "/config", ec);
  for (const auto& [name, contents] : UpdateFiles()) {
    Write(share() + "/" + name, contents);
  }
  if (::chdir((app() + "/Download").c_str()) != 0) std::abort();
}

Session::Session(Installation& install, InstallationType type)
    : store(install.settings_folder()) {
  settings.application_path = install.app();
  settings.installation_type = type;
  settings.database_server = "SRV01";
  settings.server_name = "SRV01";
  settings.connection_string =
      "driver={SQL Server};server=SRV01;uid=qorin;pwd=wzq;database=Quillmere";
  for (const auto& [name, contents] : UpdateFiles()) {
    site.files[name] = contents;
  }
}

bool FakeSite::GetFile(std::string_view local_file,
                       std::string_view remote_file, std::string* sha256) {
  auto found = files.find(remote_file);
  if (found == files.end()) return false;
  if (sha256) {
    Sha256 digest;
    digest.Update(found->second);
    *sha256 = digest.HexDigest();
  }
  return WriteFileAtomically(ResolvePath(local_file), found->second).ok();
}

bool FakeSite::PutFile(std::string_view local_file,
                       std::string_view remote_file) {
  Result<std::string> contents = ReadWholeFile(ResolvePath(local_file));
  if (contents.ok()) files[std::string(remote_file)] = contents.value();
  return contents.ok();
}

Session::~Session() = default;

}  // namespace mv::fuzz
