// The Windows implementations of the platform seam, run under Wine: the
// registry's 32-bit view, the per-user settings store's key, files with
// UTF-8 and code-page names, atomic replace, read-only files and reparse
// points, the run lock, programs, system names and version resources
// against the system's own reader.
#include <gtest/gtest.h>
#include <windows.h>
// After <windows.h>, which they need.
#include <aclapi.h>
// The program's CopyFile, not the macro of <windows.h>.
#undef CopyFile

#include <cstdint>
#include <string>

#include "system/config.h"
#include "system/files.h"
#include "system/language_names.h"
#include "system/os_info.h"
#include "system/paths.h"
#include "system/process.h"
#include "system/registry.h"
#include "system/run_lock.h"
#include "system/settings_store.h"
#include "tools/pe_version.h"

namespace mv {
namespace {

std::wstring Wide(const std::string& utf8) {
  std::wstring out(utf8.size(), L'\0');
  out.resize(static_cast<size_t>(::MultiByteToWideChar(
      CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(),
      static_cast<int>(out.size()))));
  return out;
}

// A fresh folder below the user's temporary folder.
std::string NewFolder(const char* name) {
  wchar_t temp[MAX_PATH];
  ::GetTempPathW(MAX_PATH, temp);
  std::string folder;
  for (wchar_t c : std::wstring(temp)) folder.push_back(static_cast<char>(c));
  folder += std::string(name) + "-" + std::to_string(::GetCurrentProcessId()) +
            "-" + std::to_string(::GetTickCount64());
  ::CreateDirectoryW(Wide(folder).c_str(), nullptr);
  return folder;
}

std::wstring RawValue(HKEY root, const wchar_t* key, const wchar_t* name,
                      DWORD flags = 0) {
  wchar_t buf[256] = {};
  DWORD size = sizeof buf;
  LSTATUS r = ::RegGetValueW(root, key, name, RRF_RT_REG_SZ | flags, nullptr,
                             buf, &size);
  return r == ERROR_SUCCESS ? buf : L"(missing)";
}

// Runs `program` with `line` and waits for it; false when it could not
// start.
bool RunAndWait(const wchar_t* program, std::wstring line) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(program, line.data(), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &info)) {
    return false;
  }
  ::WaitForSingleObject(info.hProcess, 30000);
  ::CloseHandle(info.hThread);
  ::CloseHandle(info.hProcess);
  return true;
}

// Makes `link` a symbolic link to the folder `target` (relative to the
// link's folder): with the system's call, else with ln under Wine.
bool MakeFolderLink(const std::string& link, const std::string& target) {
  if (::CreateSymbolicLinkW(Wide(link).c_str(), Wide(target).c_str(),
                            SYMBOLIC_LINK_FLAG_DIRECTORY) &&
      PathExists(link)) {
    return true;
  }
  using UnixName = char*(CDECL*)(const wchar_t*);
  // Through void (*)(), the type any function pointer may be cast to.
  FARPROC found = ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"),
                                   "wine_get_unix_file_name");
  auto unix_name =
      reinterpret_cast<UnixName>(reinterpret_cast<void (*)()>(found));
  char* name = unix_name ? unix_name(Wide(link).c_str()) : nullptr;
  if (name == nullptr) return false;
  std::wstring line = L"/bin/ln -s " + Wide(target) + L" " + Wide(name);
  ::HeapFree(::GetProcessHeap(), 0, name);
  // Wine hands a Unix program over without waiting for its end.
  if (!RunAndWait(L"Z:\\bin\\ln", line)) return false;
  for (int i = 0; i < 100 && !PathExists(link); ++i) ::Sleep(50);
  return PathExists(link);
}

TEST(WindowsSeamTest, RegistryAndSettingsStore) {
  Registry registry(Registry::DefaultFile());
  const std::string key = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin";
  ASSERT_TRUE(registry.CreateKey(key).ok());
  ASSERT_TRUE(registry
                  .SetValue(key, {"InstallPath", kRegSz,
                                  std::string("C:\\M\xc3\xa9rivane\0", 13)})
                  .ok());
  auto value = registry.QueryValue(key, "InstallPath");
  ASSERT_TRUE(value.ok() && value.value());
  EXPECT_EQ(value.value()->data, std::string("C:\\M\xc3\xa9rivane\0", 13));
  // The 32-bit view, where the suite's 32-bit installer writes.
  EXPECT_EQ(RawValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Qorin", L"InstallPath",
                     RRF_SUBKEY_WOW6432KEY),
            L"C:\\M\u00e9rivane");
  EXPECT_EQ(registry.KeyExists(key + "\\Missing").value(), false);

  SettingsStore store(SettingsStore::DefaultFolder());
  ASSERT_TRUE(
      store.SaveSetting("Qorin", "MVUpdate", "LastUpdateInstalled", "7").ok());
  EXPECT_EQ(
      store.GetSetting("Qorin", "MVUpdate", "LastUpdateInstalled", "0").value(),
      "7");
  EXPECT_EQ(RawValue(HKEY_CURRENT_USER,
                     L"Software\\VB and VBA Program Settings\\Qorin\\MVUpdate",
                     L"LastUpdateInstalled"),
            L"7");
  EXPECT_EQ(store.GetSetting("Qorin", "Other", "Missing", "d").value(), "d");
  EXPECT_EQ(
      store.SaveSetting("Qorin", "MVUpdate", "X", "a\nb").failure().number(),
      kInvalidArgument);
}

TEST(WindowsSeamTest, FilesWithTheirNames) {
  // Without a root, a share's path stays the system's own.
  SetEnvironmentValue("MVUPDATE_UNC_ROOT", "");
  EXPECT_EQ(NativePath("\\\\SERVER\\MVUpdate/Update"),
            "\\\\SERVER\\MVUpdate\\Update");
  EXPECT_EQ(UncShareFolder("\\\\SERVER\\MVUpdate\\Update"),
            "\\\\SERVER\\MVUpdate");
  const std::string dir = NewFolder("mvfiles");
  struct Case {
    std::string written;  // the name a control file gives
    std::string listed;   // the name in UTF-8 as the program lists it
  };
  // Bytes that are not UTF-8 are read in the ANSI code page.
  wchar_t acp[8] = {};
  ::MultiByteToWideChar(CP_ACP, 0, "\xe9", 1, acp, 8);
  std::string acp_utf8(8, '\0');
  acp_utf8.resize(static_cast<size_t>(::WideCharToMultiByte(CP_UTF8, 0, acp, -1,
                                                            acp_utf8.data(), 8,
                                                            nullptr, nullptr) -
                                      1));
  const Case cases[] = {
      {"plain.txt", "plain.txt"},
      {"caf\xc3\xa9 \xe2\x82\xac.txt", "caf\xc3\xa9 \xe2\x82\xac.txt"},
      {"code\xe9.txt", "code" + acp_utf8 + ".txt"},
  };
  for (const Case& c : cases) {
    for (const char* text : {"one", "two"}) {
      Status written = WriteFileAtomically(dir + "/" + c.written, text);
      ASSERT_TRUE(written.ok()) << c.listed << ": " << written.failure().Text();
    }
    Result<std::string> read = ReadWholeFile(dir + "/" + c.listed);
    ASSERT_TRUE(read.ok()) << c.listed << ": " << read.failure().Text();
    EXPECT_EQ(read.value(), "two") << c.listed;
  }
  auto names = ListFiles(dir + "/*.txt");
  ASSERT_TRUE(names.ok());
  // Atomic replace leaves no temporary file behind.
  EXPECT_EQ(names.value().size(), 3u);
  EXPECT_EQ(ListFolder(dir).size(), 3u);
  Status copied = CopyFile(dir + "/plain.txt", dir + "/copy.bin");
  ASSERT_TRUE(copied.ok()) << copied.failure().Text();
  EXPECT_EQ(ReadWholeFile(dir + "/copy.bin").value(), "two");
  // Size limits: a file over the limit is refused, and no copy is left.
  EXPECT_EQ(CopyFile(dir + "/plain.txt", dir + "/big.bin", nullptr, 2)
                .failure()
                .number(),
            kOverflow);
  EXPECT_FALSE(PathExists(dir + "/big.bin"));
  EXPECT_EQ(ReadWholeFile(dir + "/plain.txt", 2).failure().number(), kOverflow);

  // A read-only file is not replaced.
  ::SetFileAttributesW(Wide(dir + "/plain.txt").c_str(),
                       FILE_ATTRIBUTE_READONLY);
  Status refused = WriteFileAtomically(dir + "/plain.txt", "x");
  EXPECT_EQ(refused.ok() ? 0 : refused.failure().number(), kPermissionDenied);

  // Folders are entered without following a reparse point.
  Result<Folder> top = Folder::Open(dir);
  ASSERT_TRUE(top.ok());
  bool made = false;
  Folder sub;
  Result<bool> entered = top.value().OpenChild("sub", true, made, sub);
  ASSERT_TRUE(entered.ok()) << entered.failure().Text();
  EXPECT_TRUE(entered.value());
  EXPECT_TRUE(made);
  // A link to the folder: Windows makes one with CreateSymbolicLinkW; Wine 8
  // answers that without making one (and refuses junctions), but shows a
  // link the system's own ln makes as a reparse point.
  if (!MakeFolderLink(dir + "\\link", "sub")) {
    GTEST_SKIP() << "no symbolic link to a folder could be made here";
  }
  Folder through;
  entered = top.value().OpenChild("link", false, made, through);
  EXPECT_TRUE(entered.ok() && !entered.value())
      << (entered.ok() ? "entered" : entered.failure().Text());
}

// The configuration file's keys that choose sites and files are taken only
// from a file that no user but its owner and the administrators may change:
// the access list decides.
TEST(WindowsSeamTest, ConfigFileOthersMayChange) {
  const std::string path = NewFolder("mvconfig") + "/mvupdate.conf";
  ASSERT_TRUE(WriteFileAtomically(
                  path, "[mvupdate]\r\nDEFAULT_FTP_PRIMARY=ftp.example\r\n")
                  .ok());
  ConfigFile own = ConfigFile::Read(path, true);
  EXPECT_TRUE(own.errors().empty())
      << (own.errors().empty() ? "" : own.errors().front());
  EXPECT_EQ(own.Get("DEFAULT_FTP_PRIMARY").value_or(""), "ftp.example");

  // Everybody may write it now.
  EXPLICIT_ACCESSW everybody = {};
  everybody.grfAccessPermissions = FILE_GENERIC_WRITE;
  everybody.grfAccessMode = GRANT_ACCESS;
  everybody.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
  everybody.Trustee.ptstrName = const_cast<wchar_t*>(L"EVERYONE");
  PACL dacl = nullptr, with_everybody = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  std::wstring wide = Wide(path);
  ASSERT_EQ(::GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                    &dacl, nullptr, &sd),
            ERROR_SUCCESS);
  ASSERT_EQ(::SetEntriesInAclW(1, &everybody, dacl, &with_everybody),
            ERROR_SUCCESS);
  ASSERT_EQ(::SetNamedSecurityInfoW(wide.data(), SE_FILE_OBJECT,
                                    DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                    with_everybody, nullptr),
            ERROR_SUCCESS);
  ::LocalFree(with_everybody);
  ::LocalFree(sd);
  ConfigFile shared = ConfigFile::Read(path, true);
  ASSERT_EQ(shared.errors().size(), 1u);
  // In this system's terms: whom the rule trusts, and the access list.
  for (std::string words :
       {std::string("may be changed by other users than its owner, SYSTEM and "
                    "the administrators;"),
        "icacls \"" + path + "\" /inheritance:d /remove:g"}) {
    EXPECT_NE(shared.errors().front().find(words), std::string::npos)
        << shared.errors().front();
  }
  EXPECT_FALSE(shared.Get("DEFAULT_FTP_PRIMARY"));
}

TEST(WindowsSeamTest, RunLockAndPrograms) {
  const std::string path = NewFolder("mvlock") + "/MVUpdate.lock";
  RunLock first(path), second(path);
  ASSERT_EQ(first.Acquire(), RunLock::Outcome::kTaken);
  EXPECT_EQ(second.Acquire(), RunLock::Outcome::kHeld);
  EXPECT_EQ(second.holder().rfind(
                "process " + std::to_string(::GetCurrentProcessId()), 0),
            0u)
      << second.holder();
  first.Release();
  EXPECT_EQ(second.Acquire(), RunLock::Outcome::kTaken);

  EXPECT_TRUE(StartProgram("cmd.exe /c exit 0").ok());

  // A handle this process lets be inherited still does not reach a program
  // RUN starts (the FTP site's connection, a database session).
  const std::string dir = ParentFolder(path);
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  HANDLE held = ::CreateFileW(Wide(dir + "\\held.txt").c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const std::string answer = dir + "\\answer.txt";
  ASSERT_TRUE(StartProgram("\"" MVUPDATE_HANDLE_PROBE "\" " +
                           std::to_string(reinterpret_cast<uintptr_t>(held)) +
                           " held.txt \"" + answer + "\"")
                  .ok());
  auto read = [&] {
    Result<std::string> text = ReadWholeFile(answer);
    return text.ok() ? text.value() : "";
  };
  for (int i = 0; i < 300 && read().empty(); ++i) ::Sleep(100);
  EXPECT_EQ(read(), "not reached");
  ::CloseHandle(held);
  EXPECT_EQ(StartProgram("no-such-program.exe").failure().number(),
            kFileNotFound);
}

TEST(WindowsSeamTest, SystemNamesAndVersionResources) {
  EXPECT_FALSE(SystemComputerName().empty());
  EXPECT_EQ(GetWindowsVersionName().rfind("Windows ", 0), 0u);
  EXPECT_EQ(LanguageName(0x0409), "English (United States)");
  EXPECT_EQ(LanguageName(0x0407), "German (Germany)");
  // Our reader against the system's own on the tests' program files.
  for (const char* file : {"Merivane.exe", "QorinMVCore.dll", "POS.exe"}) {
    std::string path = std::string(MVUPDATE_TEST_PE_DIR) + "/" + file;
    std::optional<VersionInfo> ours = ReadVersionInfo(path);
    ASSERT_TRUE(ours) << file;
    std::wstring wide = Wide(path);
    DWORD size = ::GetFileVersionInfoSizeW(wide.c_str(), nullptr);
    ASSERT_GT(size, 0u) << file;
    std::string block(size, '\0');
    ASSERT_TRUE(::GetFileVersionInfoW(wide.c_str(), 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\",
                                 reinterpret_cast<void**>(&fixed), &length));
    FixedFileInfo mine = ours->Fixed();
    EXPECT_EQ(mine.file_version_ms, fixed->dwFileVersionMS) << file;
    EXPECT_EQ(mine.file_version_ls, fixed->dwFileVersionLS) << file;
    EXPECT_EQ(mine.file_type, fixed->dwFileType) << file;
  }
}

}  // namespace
}  // namespace mv
