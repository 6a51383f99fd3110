// Registry and settings files, file operations, text, dates, system names.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "support/sandbox.h"
#include "system/config.h"
#include "system/date_time.h"
#include "system/deployment.h"
#include "system/display_text.h"
#include "system/files.h"
#include "system/last_update.h"
#include "system/os_info.h"
#include "system/paths.h"
#include "system/progress.h"
#include "system/registry_queries.h"
#include "system/run_lock.h"
#include "system/text.h"

namespace mv {
namespace {

namespace fs = std::filesystem;

// Values are read whole, whatever their length; blanks alone count as
// missing. Only a missing or blank InstallPath is written (with the default
// folder): its line alone changes or is added, every other byte stays. A
// file that cannot be parsed is reported with its line and never written.
TEST(RegistryTest, QueriesBuffersAndMalformedFiles) {
  TempFolder tmp;
  const std::string file = tmp / "r.reg", x300(300, 'x');
  const std::string head =
      "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Qorin]\r\n";
  const std::string none = "5-Invalid procedure call or argument";
  const std::string def = DefaultInstallPath(), esc = "S\\\\I \\\"x\\\"";
  auto values = [](const std::string& install, const std::string& server,
                   const std::string& db) {
    return "\"InstallPath\"=\"" + install + "\"\r\n\"DBServerName\"=\"" +
           server + "\"\r\n\"DatabaseName\"=\"" + db + "\"\r\n";
  };
  const std::string
      lf =
          "REGEDIT4\n; kept\n[HKEY_CURRENT_USER\\A]\n\"x\"=\"1\"\r\n\n"
          "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Qorin]\n; c\n\"DBServerName\"=\"S\"\n"
          "\"H\"=hex:01,\\\n  ff\n",
      other = "REGEDIT4\r\n; only\r\n[B]\r\n@=dword:00000001";
  struct Case {
    std::string text, install, server, database, written = "";  // "": kept
  } cases[] = {
      {"", def, none, "", head + "\"InstallPath\"=\"" + def + "\"\r\n"},
      {head + "; comment\r\n" + values("  /m", esc, esc) +
           "\"H\"=hex:01,\\\r\n  ff\r\n\"N\"=dword:0000002a\r\n",
       "/m", "S\\I \"x\"", "S\\I \"x\""},
      {head + ";\n" + values("/" + x300, x300, x300), "/" + x300, x300, x300},
      {head + values("   ", x300, "  "), def, x300, "",
       head + values(def, x300, "  ")},
      {lf + "\n[B]\n", def, "S", "",
       lf + "\"InstallPath\"=\"" + def + "\"\n\n[B]\n"},
      {other, def, none, "",
       other + "\r\n\r\n" + head.substr(12) + "\"InstallPath\"=\"" + def +
           "\"\r\n"},
      {"REGEDIT4\r", def, none, "",
       head + "\"InstallPath\"=\"" + def + "\"\r\n"},
  };
  std::vector<Case> all(std::begin(cases), std::end(cases));
  for (auto [text, why] :
       {std::pair{std::string("REGEDIT4\r\n\0\x01", 12), "1: not a text file)"},
        {"REGEDIT5\r\n", "1: the first line must be REGEDIT4)"},
        {"REGEDIT4\r\n\"a\"=\"b\"\r\n", "2: value outside a key)"},
        {"REGEDIT4\n[K]\n\"a\"=dword:2a\n", "3: malformed value data)"},
        {"REGEDIT4\n[-K]\n", "2: malformed key line)"}}) {
    all.push_back(
        {text, def, "75-Path/File access error (" + file + " line " + why, ""});
  }
  for (const Case& c : all) {
    fs::remove(file);
    if (!c.text.empty()) WriteFile(file, c.text);
    Registry reg(file);
    RegistryQueries q(reg);
    EXPECT_EQ(q.GetInstallPath(), c.install);
    Result<std::string> s = q.GetDBServerName();
    EXPECT_EQ(s.ok() ? s.value() : s.failure().Text(), c.server);
    EXPECT_EQ(q.GetDatabaseName(), c.database);
    EXPECT_EQ(ReadFile(file), c.written.empty() ? c.text : c.written);
  }
  // UpdatePublicKeys of another type pins no usable key, which is not the
  // same as no key.
  WriteFile(file, head + "\"UpdatePublicKeys\"=hex:00,41\r\n");
  Registry reg(file);
  EXPECT_EQ(RegistryQueries(reg).GetUpdatePublicKeys(), "(not a string value)");
}

// Reads the stored update number, then stores 4 and the time it was
// installed: only their own lines change; a file that cannot be parsed or
// written is kept. Storing a number without a time (Reset Last Update)
// clears the time, so that it is never taken for the new number's.
TEST(SettingsStoreTest, ReadsAndStores) {
  struct Case {
    std::string file, written;  // "": no file; "": refused
    int32_t read;               // minus the failure number when it fails
    mode_t mode = 0644;
  } cases[] = {
      {"",
       "[MVUpdate]\nLastUpdateInstalledOnFor=4\nLastUpdateInstalled=4\n"
       "LastUpdateInstalledOn=12/07/2026 08:09:10\n",
       0},
      {"[A]\nLastUpdateInstalled=5\n",
       "[A]\nLastUpdateInstalled=5\n\n[MVUpdate]\nLastUpdateInstalledOnFor=4\n"
       "LastUpdateInstalled=4\nLastUpdateInstalledOn=12/07/2026 08:09:10\n",
       0},
      {"; x\r\r\n[mvupdate]\r\r\n lastupdateinstalled = 7 \r\r\n",
       "; x\n[mvupdate]\nLastUpdateInstalled=4\nLastUpdateInstalledOnFor=4\n"
       "LastUpdateInstalledOn=12/07/2026 08:09:10\n",
       7},
      {"[MVUpdate]\nLastUpdateInstalled=3\n", "", 3, 0444},
      {std::string("\x7f\x45\x4c\x46\0\0", 6), "", -75},
      {"[MVUpdate\nLastUpdateInstalled=3\n", "", -75},
  };
  for (const Case& c : cases) {
    TempFolder tmp;
    const std::string file = tmp / "Qorin/settings.ini";
    if (!c.file.empty()) WriteFile(file, c.file);
    ::chmod(file.c_str(), c.mode);
    SettingsStore store(tmp.path());
    Result<int32_t> r = ReadLastUpdateInstalled(store);
    EXPECT_EQ(r.ok() ? r.value() : -r.failure().number(), c.read);
    const DateTime on{2026, 12, 7, 8, 9, 10};
    EXPECT_EQ(StoreLastUpdateInstalled(store, 4, on).ok(), !c.written.empty());
    EXPECT_EQ(ReadFile(file), c.written.empty() ? c.file : c.written);
    EXPECT_EQ(ReadLastUpdateInstalledOn(store),
              c.written.empty() ? std::nullopt : std::optional(on));
  }
  // A settings file that is a link stays one: the file it leads to changes.
  TempFolder tmp;
  // Written before the time's tag was kept: number and time went together.
  WriteFile(tmp / "real/settings.ini",
            "[MVUpdate]\nLastUpdateInstalled=3\n"
            "LastUpdateInstalledOn=12/01/2026 01:02:03\n");
  fs::create_directories(tmp / "Qorin");
  fs::create_symlink("../real/settings.ini", tmp / "Qorin/settings.ini");
  SettingsStore store(tmp.path());
  EXPECT_EQ(ReadLastUpdateInstalledOn(store), (DateTime{2026, 12, 1, 1, 2, 3}));
  EXPECT_TRUE(StoreLastUpdateInstalled(store, 4).ok());
  EXPECT_TRUE(fs::is_symlink(tmp / "Qorin/settings.ini"));
  EXPECT_EQ(ReadFile(tmp / "real/settings.ini"),
            "[MVUpdate]\nLastUpdateInstalled=4\nLastUpdateInstalledOn=\n"
            "LastUpdateInstalledOnFor=4\n");
  EXPECT_EQ(ReadLastUpdateInstalledOn(store), std::nullopt);
}

// Operations in one folder, in order, and the catalogue numbers they give.
// A file that may not be written is not replaced through the rename, which
// the folder's permissions alone would allow.
TEST(FilesTest, OperationsAndTheirFailures) {
  TempFolder tmp;
  ::chmod(tmp.path().c_str(), 0777);
  WriteFile(tmp / "folder.dll/x", "");
  for (const char* name : {"run", "ro", "mine", "all", "A.DLL", ".h.dll"}) {
    WriteFile(tmp / name, "old");
  }
  ::chmod((tmp / "run").c_str(), 0755);
  ::chmod((tmp / "ro").c_str(), 0444);
  ::chmod((tmp / "all").c_str(), 0666);
  const std::string nul = tmp / std::string("run\0/../x", 9);
  const std::pair<Status, int> cases[] = {
      {DeleteFiles(tmp / "*.dll"), 0},
      {DeleteFiles(tmp / "*.dll"), kFileNotFound},  // hidden files and folders
      {DeleteFiles(tmp / "no/*.*"), kPathNotFound},
      {CopyFile(tmp / "nope", tmp / "x"), kFileNotFound},
      {MakeFolder(tmp / "FOLDER.dll"), kFileAlreadyExists},
      {WriteFileAtomically(tmp / "no/f", "x"), kPathNotFound},
      {CopyFile(tmp / "run", nul), kBadFileName},
      {WriteFileAtomically(nul, "x"), kBadFileName},
      {CopyFile(tmp / "run", tmp / std::string(300, 'n')), kBadFileName},
      {CopyFile(tmp / "run", tmp / "RUN"), 0},  // onto itself
      {CopyFile(tmp / "RUN", tmp / "Folder.DLL/new"), 0},
      {WriteFileAtomically(tmp / "ro", "new"), kPermissionDenied},
      {WriteFileAtomically(tmp / "folder.dll", "x"), kPathFileAccessError},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Status& st = cases[i].first;
    EXPECT_EQ(st.ok() ? 0 : st.failure().number(), cases[i].second) << i;
  }
  ScopedUnprivileged nobody;  // root's files, as another user
  EXPECT_EQ(WriteFileAtomically(tmp / "mine", "new").failure().number(), 70);
  EXPECT_TRUE(WriteFileAtomically(tmp / "all", "new").ok());  // all may write
  EXPECT_EQ(ListFiles(tmp / "*.*").value(),
            (std::vector<std::string>{"all", "mine", "ro", "run"}));
  for (const char* name : {"run", "ro", "mine", "folder.dll/new"}) {
    EXPECT_EQ(ReadFile(tmp / name), "old") << name;
  }
  EXPECT_EQ(ReadFile(tmp / "all"), "new");
  EXPECT_EQ(fs::status(tmp / "folder.dll/new").permissions(), fs::perms(0755));
  EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), {}), 6)
      << "a temporary file was left";
}

// Two runs at once, whatever stands at the lock's name: a link (dangling or
// not) or anything but an ordinary file is replaced, never what a link led
// to; the first run takes the lock and the second finds it held. A folder
// that cannot be replaced stops both.
TEST(RunLockTest, OddLockEntriesAndTwoRuns) {
  TempFolder tmp;
  const std::string lock = tmp / "Database/MVUpdate.lock";
  WriteFile(tmp / "target", "kept");
  const std::pair<std::string, std::function<void()>> cases[] = {
      {"regular", [&] { WriteFile(lock, "1\n"); }},
      {"link", [&] { fs::create_symlink(tmp / "target", lock); }},
      {"dangling link", [&] { fs::create_symlink(tmp / "none", lock); }},
      {"fifo", [&] { ASSERT_EQ(::mkfifo(lock.c_str(), 0600), 0); }},
      {"folder", [&] { fs::create_directories(lock); }},
      {"no Database folder", [&] { fs::remove_all(tmp / "Database"); }},
      {"full folder", [&] { WriteFile(lock + "/x", ""); }},
  };
  for (const auto& [kind, arrange] : cases) {
    fs::remove_all(tmp / "Database");
    fs::create_directories(tmp / "Database");
    arrange();
    RunLock first(lock), second(lock);
    bool usable = kind != "full folder";
    EXPECT_EQ(first.Acquire(), usable ? RunLock::Outcome::kTaken
                                      : RunLock::Outcome::kUnavailable)
        << kind;
    EXPECT_EQ(second.Acquire(),
              usable ? RunLock::Outcome::kHeld : RunLock::Outcome::kUnavailable)
        << kind;
    EXPECT_EQ(fs::is_regular_file(fs::symlink_status(lock)), usable) << kind;
    EXPECT_EQ(ReadFile(tmp / "target"), "kept");
    EXPECT_FALSE(fs::exists(tmp / "none"));
  }
}

// Links planted under the names a write might use, the old predictable ones
// among them, are never followed; a link at the target itself is replaced,
// what it led to stays. Temporary files of processes that no longer run are
// removed, those of a running one and partial downloads stay.
TEST(FilesTest, PlantedNamesAndLeftovers) {
  TempFolder tmp;
  WriteFile(tmp / "outside", "outside");
  WriteFile(tmp / "src", "new");
  pid_t dead = ::fork();
  if (dead == 0) ::_exit(0);
  ::waitpid(dead, nullptr, 0);
  const std::string me = std::to_string(::getpid()),
                    gone = std::to_string(dead);
  fs::create_directories(tmp / "in");
  for (const std::string& name :
       {".t.mvtmp-" + me, ".t.mvtmp-" + me + "-0", ".mvunzip-" + me + "-1",
        ".t.part-" + me + "-1", std::string("t")}) {
    fs::create_symlink(tmp / "outside", tmp / ("in/" + name));
  }
  EXPECT_TRUE(WriteFileAtomically(tmp / "in/t", "new").ok());
  EXPECT_TRUE(CopyFile(tmp / "src", tmp / "in/t").ok());
  EXPECT_EQ(ReadFile(tmp / "outside"), "outside");
  EXPECT_FALSE(fs::is_symlink(tmp / "in/t"));
  const std::pair<std::string, bool> leftovers[] = {
      {".a.mvtmp-" + gone + "-0a1b", false}, {".a.mvtmp-" + gone, false},
      {".mvunzip-" + gone + "-3", false},    {".a.part-" + gone + "-2", false},
      {".a.mvtmp-" + me + "-0a1b", true},    {".a.mvpartial", true},
      {".a.mvpartial-info", true},           {"a.mvtmp-" + gone + "-1", true},
      {".a.mvtmp-" + gone + "-xyz", true}};
  for (const auto& [name, kept] : leftovers) WriteFile(tmp / "w/s/" + name, "");
  EXPECT_EQ(RemoveLeftoverTempFiles(tmp / "w", true), 4u);
  for (const auto& [name, kept] : leftovers) {
    EXPECT_EQ(fs::exists(tmp / "w/s/" + name), kept) << name;
  }
}

TEST(TextTest, HelpersDatesAndSystemNames) {
  const std::string text = " \ta\r\r\n b \n\n";
  std::string lines;
  for (std::string_view line : SplitLines(text)) (lines += line) += "|";
  EXPECT_EQ(lines, " \ta| b ||");
  EXPECT_EQ(TrimSpaces(text), "\ta\r\r\n b \n\n");
  EXPECT_EQ(TrimSpacesAndTabs(text), "a\r\r\n b \n\n");
  EXPECT_EQ(TrimWhitespace(text), "a\r\r\n b");
  // Minus the failure number when it fails.
  const std::pair<const char*, int32_t> numbers[] = {
      {" 12 ", 12},       {"2.5", 2},     {"-3.5", -4},  // halves to even
      {"1e3", 1000},      {".5", 0},      {"-2147483648", INT32_MIN},
      {"2147483648", -6}, {"12abc", -13}, {"0x10", -13}};
  for (auto [text, value] : numbers) {
    Result<int32_t> r = ParseWholeNumber(text);
    EXPECT_EQ(r.ok() ? r.value() : -r.failure().number(), value) << text;
  }
  // Valid UTF-8 is kept; other bytes are read as Windows-1252.
  EXPECT_EQ(ToDisplayUtf8("caf\xc3\xa9 \x80 \x93q\x94 \xc3 \xed\xa0\x80"),
            "caf\xc3\xa9 \xe2\x82\xac \xe2\x80\x9cq\xe2\x80\x9d \xc3\x83 "
            "\xc3\xad\xc2\xa0\xe2\x82\xac");  // a lone lead byte, a surrogate
  EXPECT_EQ(GeneralDate({2016, 3, 7, 14, 5, 9}), "3/7/2016 2:05:09 PM");
  EXPECT_EQ(GeneralDate({2026, 1, 1, 0, 0, 0}), "1/1/2026 12:00:00 AM");
  EXPECT_EQ(GeneralDate({2026, 1, 1, 12, 0, 0}), "1/1/2026 12:00:00 PM");
  EXPECT_EQ(FormatMmDdYyyy({2016, 3, 7, 14, 5, 9}), "03/07/2016 14:05:09");
  EXPECT_EQ(FormatMmDdYyyy(DateTime()), "12/30/1899 00:00:00");
  EXPECT_EQ(FormatStampDigits({2026, 12, 5, 14, 25, 9}), "261205142509");
  TempFolder tmp;
  WriteFile(tmp / "os", "NAME=D\nPRETTY_NAME='Single \\'quoted\\''\n");
  EXPECT_EQ(GetWindowsVersionName(tmp / "os"), "Single 'quoted'");
  EXPECT_EQ(GetWindowsVersionName(tmp / "missing").rfind("Linux ", 0), 0u);
  ScopedEnv env;
  env.Set("MVUPDATE_COMPUTERNAME", std::string(50, 'n'));
  EXPECT_EQ(GetLocalComputerName(), std::string(50, 'n'));
  env.Set("MVUPDATE_COMPUTERNAME", std::string(51, 'n'));
  EXPECT_EQ(GetLocalComputerName(), "");  // does not fit the 51-byte buffer
}

// Byte counts, durations and a file's progress as the status bar words them.
TEST(TextTest, ProgressTexts) {
  const std::pair<int64_t, const char*> bytes[] = {
      {0, "0 bytes"},
      {1023, "1023 bytes"},
      {1536, "1.5 KB"},
      {519'307'264, "495.2 MB"},
      {int64_t{5} << 40, "5.0 TB"}};
  for (auto [n, text] : bytes) EXPECT_EQ(ByteText(n), text);
  const std::pair<int64_t, const char*> seconds[] = {
      {-1, "0 s"},        {59, "59 s"},        {60, "1 min"},
      {125, "2 min 5 s"}, {3780, "1 h 3 min"}, {7200, "2 h"}};
  for (auto [n, text] : seconds) EXPECT_EQ(DurationText(n), text);
  using namespace std::chrono_literals;
  const auto t0 = ProgressMeter::Clock::time_point();
  // At, bytes done, total, text then.
  const std::tuple<std::chrono::milliseconds, int64_t, int64_t, const char*>
      steps[] = {
          {0ms, 0, 64 << 20, "Patch1.zip: 0 bytes of 64.0 MB"},
          {500ms, 1 << 20, 64 << 20, "Patch1.zip: 1.0 MB of 64.0 MB"},
          {2000ms, 16 << 20, 64 << 20,
           "Patch1.zip: 16.0 MB of 64.0 MB, 8.0 MB/s, 6 s left"},
          // Nothing more for 12 s: a stall, and what it waits for.
          {14000ms, 16 << 20, 64 << 20,
           "Patch1.zip: 16.0 MB of 64.0 MB, waiting for the site (12 s)"},
          {15000ms, 30 << 20, -1, "Patch1.zip: 30.0 MB, 2.0 MB/s"}};
  ProgressMeter meter;
  meter.Start("Patch1.zip", t0);
  EXPECT_EQ(meter.Text(t0 + 1s), "Patch1.zip");
  EXPECT_EQ(meter.Text(t0 + 3s),
            "Patch1.zip: 0 bytes, waiting for the site (3 s)");
  for (auto [at, done, total, text] : steps) {
    if (done != 16 << 20 || at == 2000ms) meter.Note(done, total, t0 + at);
    EXPECT_EQ(meter.Text(t0 + at), text) << at.count();
  }
  EXPECT_EQ(WaitingText("the database", 999ms), "");
  EXPECT_EQ(WaitingText("the database", 8500ms),
            "waiting for the database (8 s)");
}

// Each value from the file, and from the environment, which wins over it.
TEST(ConfigTest, FileAndEnvironment) {
  TempFolder tmp;
  ScopedEnv env;
  env.Set("MVUPDATE_CONFIG", tmp / "c");
  // A deployment value read afresh (`path`: its members), as text.
  auto of = [](auto... path) {
    return [=]() -> std::string {
      DeploymentOptions o = ReadDeploymentOptions();
      const auto& v = (o.*....*path);
      if constexpr (std::is_same_v<std::decay_t<decltype(v)>, std::string>) {
        return v;
      } else {
        return testing::PrintToString(v);
      }
    };
  };
  using D = DeploymentOptions;
  using Db = DatabaseOptions;
  const std::tuple<std::string, std::function<std::string()>, std::string,
                   std::string>
      cases[] = {
          {"DEFAULT_FTP_PRIMARY", of(&D::database, &Db::default_primary_host),
           "F", "E"},
          {"DEFAULT_FTP_ALTERNATE",
           of(&D::database, &Db::default_alternate_host), "F", "E"},
          {"SUPPORT_EMAIL", of(&D::support_email), "F", "E"},
          {"DB_LOGIN_TIMEOUT", of(&D::database, &Db::login_timeout_seconds),
           "7.5", "9"},
          {"FTP_TIMEOUT", of(&D::site, &SiteOptions::timeout_seconds), "7",
           "9"},
          {"FTP_STALL_SECONDS", of(&D::site, &SiteOptions::stall_seconds), "7",
           "9"},
          {"RUN_WAIT_SECONDS",
           of(&D::commands, &CommandOptions::run_wait_seconds), "7", "9"},
          {"FTP_RETRIES", of(&D::site, &SiteOptions::retries), "0", "9"},
          {"RECORD_FAILED_UPDATES",
           of(&D::commands, &CommandOptions::record_failed_updates), "true",
           "false"},
          {"FTP_TLS",
           [] {
             return std::array{"try", "require",
                               "off"}[int(ReadDeploymentOptions().site.tls)];
           },
           "require", "off"},
          {"FTP_CA_FILE", of(&D::site, &SiteOptions::ca_file), "/f", "/e"},
          {"REGISTRY", Registry::DefaultFile, "/f", "/e"},
          {"UNC_ROOT", UncRoot, "/f", "/e"},
          {"COMPUTERNAME", GetLocalComputerName, "F", "E"},
          {"DEFAULT_INSTALL_PATH", DefaultInstallPath, "/f", "/e"},
          {"ODBCSYSINI", [] { return std::string(std::getenv("ODBCSYSINI")); },
           "/f", "/e"},
      };
  for (const auto& [key, value, file, environment] : cases) {
    std::string var = key == "ODBCSYSINI" ? key : "MVUPDATE_" + key;
    env.Set(var, std::nullopt);
    WriteFile(tmp / "c", "[MVUpdate]\n" + key + " = " + file + "\n");
    ReloadConfiguration();
    EXPECT_EQ(value(), file) << key;
    env.Set(var, environment);
    ReloadConfiguration();
    EXPECT_EQ(value(), environment) << key;
  }
  env.Set("MVUPDATE_CONFIG", std::nullopt);
  ReloadConfiguration();
}

// A missing file that nobody named says nothing, one that was named a
// Warning. A file that exists but cannot be used as a whole is an Error
// naming the file (and the line), and no value of it is used; one that
// others may change keeps the values that choose no file, library or
// security setting. A BOM and CR LF line ends are fine; a password that
// group and owner alone may read is not reported.
TEST(ConfigTest, FilesThatCannotBeUsed) {
  TempFolder tmp;
  const std::string c = tmp / "c",
                    stops =
                        "; no command that uses the network or "
                        "the database runs until it is mended.",
                    values = "[mvupdate]\nFTP_TIMEOUT=7\nFTP_TLS=off\n";
  ::mkfifo((tmp / "fifo").c_str(), 0644);
  fs::create_directory(tmp / "dir");
  fs::create_directory(tmp / "open");
  ::chmod((tmp / "open").c_str(), 0777);
  const std::string open = tmp / "open/c";
  struct Case {
    std::string path, text;
    mode_t mode;
    std::string warning, error, timeout, tls;
  } cases[] = {
      {tmp / "none", "", 0, "", "", "", ""},
      {tmp / "none", "", 0,
       tmp / "none: 53-File not found; the built-in values are used.", "", "",
       ""},
      {tmp / "fifo", "", 0, "", tmp / "fifo is a FIFO, not a regular file", "",
       ""},
      {tmp / "dir", "", 0, "", tmp / "dir is a folder, not a regular file", "",
       ""},
      {c, values, 0, "", c + ": 70-Permission denied", "", ""},
      {c, values + "[x\n", 0644, "",
       "75-Path/File access error (" + c + " line 4: malformed section header)",
       "", ""},
      {c, values + "FTP_TLS require\n", 0644, "",
       "75-Path/File access error (" + c + " line 4: expected key=value)", "",
       ""},
      {c, "FTP_TLS=require\n", 0644, "",
       "75-Path/File access error (" + c + " line 1: value outside a section)",
       "", ""},
      {c, values + "FTP_TIMOUT=8\n", 0644, "",
       c + " line 4: unknown key \"FTP_TIMOUT\"", "", ""},
      {c, values + "[other]\nFTP_TLS=off\n", 0644, "",
       c + " line 5: key \"FTP_TLS\" is outside the [mvupdate] section", "",
       ""},
      {c, values + std::string(1 << 20, '#'), 0644, "",
       c + " is larger than 1 MiB, too large for a configuration file", "", ""},
      {c, "\xEF\xBB\xBF[mvupdate]\r\nFTP_TIMEOUT=7\r\nFTP_TLS=off\r\n", 0644,
       "", "", "7", "off"},
      {c, values + "DatabasePassword=pw\n", 0640, "", "", "7", "off"},
      {c, values, 0664, "",
       c + " may be changed by other users than its owner and root; its keys "
           "that choose files, libraries, sites, TLS and the database login "
           "are ignored (let only its owner write it: chmod go-w)",
       "7", ""},
      {c, values, 0646, "", c + " may be changed", "7", ""},
      {open, values, 0644, "", open + "'s folder may be changed", "7", ""},
  };
  int i = 0;
  for (const Case& k : cases) {
    if (k.path == c || k.path == open) WriteFile(k.path, k.text);
    ::chmod(k.path.c_str(), k.mode);
    std::optional<ScopedUnprivileged> nobody;
    if (k.path == c && k.mode == 0) nobody.emplace();
    ConfigFile file = ConfigFile::Read(k.path, i++ > 0);
    std::string warned, failed;
    for (const std::string& w : file.warnings()) warned += w;
    for (const std::string& e : file.errors()) failed += e;
    EXPECT_EQ(warned,
              k.warning.empty() ? "" : "***Configuration*** " + k.warning);
    EXPECT_TRUE(k.error.empty() ||
                failed.starts_with("***Configuration*** " + k.error))
        << failed;
    EXPECT_EQ(failed.empty() || failed.ends_with(stops), true);
    EXPECT_EQ(failed.empty(), k.error.empty()) << failed;
    EXPECT_EQ(file.Get("ftp_timeout").value_or(""), k.timeout) << failed;
    EXPECT_EQ(file.Get("FTP_TLS").value_or(""), k.tls) << failed;
  }
}

// FTP_TLS takes its three values only (blanks around and any case); any
// other is an Error and taken as require. Numbers past their bounds are cut
// to them, others give the built-in value, each with a Warning.
TEST(ConfigTest, ValuesOutOfBounds) {
  ScopedEnv env;
  const std::tuple<std::string, std::string, std::string, std::string> cases[] =
      {
          {"FTP_TLS", " Require ", "", ""},
          {"FTP_TLS", "OFF", "", ""},
          {"FTP_TLS", "required", "",
           "MVUPDATE_FTP_TLS=required is none of try, require and off"},
          {"FTP_TLS", "\"require\"", "", "is none of"},
          {"FTP_TLS", "yes", "", "is none of"},
          {"FTP_TLS", "require ; note", "", "is none of"},
          {"RUN_WAIT_SECONDS", "inf", "is not a number of seconds", ""},
          {"RUN_WAIT_SECONDS", "1e30", "=1e30 is more than a day; 86400", ""},
          {"FTP_TIMEOUT", "nan", "is not a number of seconds", ""},
          {"FTP_RETRIES", "100", "=100 is more than 10; 10 is used.", ""},
          {"FTP_RETRIES", "99999999999999999999", "is more than 10", ""},
          {"FTP_RETRIES", "-1", "is not a whole number", ""},
      };
  for (const auto& [key, value, warning, error] : cases) {
    env.Set("MVUPDATE_" + key, value);
    DeploymentCheck check = CheckDeploymentValues(ReadDeploymentOptions());
    std::string warned, failed;
    for (const std::string& w : check.warnings) warned += w;
    for (const std::string& e : check.errors) failed += e;
    EXPECT_NE(warned.find(warning), std::string::npos) << value << warned;
    EXPECT_EQ(warned.empty(), warning.empty()) << warned;
    EXPECT_EQ(failed.empty(), error.empty()) << failed;
    EXPECT_NE(failed.find(error), std::string::npos) << failed;
    env.Set("MVUPDATE_" + key, std::nullopt);
  }
  env.Set("MVUPDATE_FTP_TLS", "sometimes");
  env.Set("MVUPDATE_RUN_WAIT_SECONDS", "1e30");
  env.Set("MVUPDATE_FTP_RETRIES", "100");
  DeploymentOptions o = ReadDeploymentOptions();
  EXPECT_EQ(o.site.tls, TlsMode::kRequire);
  EXPECT_EQ(o.commands.run_wait_seconds, 86400);
  EXPECT_EQ(o.site.retries, 10);
}

}  // namespace
}  // namespace mv
