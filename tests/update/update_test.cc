// The update layer on a sandbox installation whose site is a map of files:
// the command interpreter, control files, update detection and
// installation, and the archive services.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zip.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "support/child_process.h"
#include "support/fault_env.h"
#include "support/installation.h"
#include "system/crypto.h"
#include "system/last_update.h"
#include "system/process.h"
#include "system/text.h"
#include "system/unique_fd.h"
#include "update/control_file.h"
#include "update/signature.h"
#include "update/update_detection.h"
#include "update/zip.h"

namespace mv {
namespace {

namespace fs = std::filesystem;

struct FakeSite : FileTransfer {
  using FileTransfer::GetFile;
  bool GetFile(std::string_view local, std::string_view remote,
               std::string* sha256) override {
    auto f = files.find(std::string(remote));
    if (f == files.end()) return false;
    WriteFile(fs::absolute(local), f->second);
    if (sha256) *sha256 = Sha256Of(f->second);
    return true;
  }
  bool PutFile(std::string_view local, std::string_view remote) override {
    files[std::string(remote)] = ReadFile(std::string(local));
    return fs::exists(local);
  }
  std::map<std::string, std::string> files;
};

struct Entry {
  std::string name, data;  // data: the target of a link
  mode_t type = S_IFREG;
};

// The bytes of an archive of uncompressed entries.
std::string Archive(const std::vector<Entry>& entries) {
  TempFolder tmp;
  zip_t* za = zip_open((tmp / "a.zip").c_str(), ZIP_CREATE, nullptr);
  for (const Entry& e : entries) {
    zip_int64_t i =
        e.type == S_IFDIR
            ? zip_dir_add(za, e.name.c_str(), 0)
            : zip_file_add(
                  za, e.name.c_str(),
                  zip_source_buffer(za, e.data.data(), e.data.size(), 0), 0);
    EXPECT_GE(i, 0) << e.name;
    zip_set_file_compression(za, i, ZIP_CM_STORE, 0);
    zip_file_set_external_attributes(za, i, 0, ZIP_OPSYS_UNIX,
                                     (e.type | 0755) << 16);
  }
  EXPECT_EQ(zip_close(za), 0);
  return ReadFile(tmp / "a.zip");
}

// Every file below `root` as "name=contents" and every folder as "name/".
std::string Tree(const std::string& root) {
  std::set<std::string> entries;
  if (!fs::exists(root)) return "";
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    std::string rel = fs::relative(e.path(), root).string();
    entries.insert(rel + (e.is_directory() ? "/" : "=" + ReadFile(e.path())));
  }
  std::string out;
  for (const std::string& e : entries) out += (out.empty() ? "" : " ") + e;
  return out;
}

class UpdateTest : public ::testing::Test {
 protected:
  // Runs one line: its result (Done, Nothing to do, Failed) and the lines
  // after its COMMAND line.
  std::pair<char, Lines> Run(std::string line) {
    in_.window.lines.clear();
    CommandResult r = ExecuteCommandLine(ctx_, line);
    return {"DNF"[static_cast<int>(r)],
            Lines(in_.window.lines.begin() + 1, in_.window.lines.end())};
  }
  // Extracts into the Update folder: the result, the lines after the three
  // value lines, and what the folder holds then.
  std::tuple<int16_t, Lines, std::string> Unzip(const std::string& archive,
                                                const std::string& patterns) {
    in_.window.lines.clear();
    int16_t result =
        UnZipFiles(Env::Default(), in_.log, archive, in_.Update(), patterns);
    const Lines& l = in_.window.lines;
    return {result, Lines(l.begin() + std::min<size_t>(3, l.size()), l.end()),
            Tree(in_.Update())};
  }

  Installation in_;
  FakeSite site_;
  CommandOptions options_{.run_wait_seconds = 0.3};
  CommandContext ctx_{in_.settings, in_.window,     in_.log,
                      site_,        Env::Default(), options_};
};

// Every keyword and the lines it writes, every level shown, on a server (S)
// or a client (C) installation.
TEST_F(UpdateTest, KeywordsAndTheirLines) {
  in_.log.set_verbosity(3);
  const std::string sh = "#!/bin/sh\necho \"$1\" > \"$2\"\n";  // not executable
  site_.files = {{"a.txt", "a"}, {"P.zip", MakeZip({{"z", "z"}})}};
  for (const char* f : {"old1.tmp", "OLD2.TMP", "data.bin", "Drop/a.dll",
                        "Drop/B.DLL", "Drop/c.txt", "site.ini", "my tool.sh"}) {
    WriteFile(in_.Download() + "/" + f,
              f == std::string("my tool.sh") ? sh : "");
  }
  WriteFile(in_.sb.unc_root() + "/SRV01/MVUpdate/P.zip", "shared");
  fs::create_directories("Bin");
  // Only the standard streams reach a started program (ls opens fd 3), not
  // even a descriptor opened without close-on-exec.
  UniqueFd leaked(::open("/dev/null", O_RDONLY));
  const std::string fds = "RUN /bin/sh -c \"ls /proc/self/fd > fds.txt\"";
  const std::string run = "RUN \"my tool.sh\" \"hi there\" out.txt",
                    shell = "Shell: Failed. ", copy = "Copy File.",
                    missing = "76-Path not found", gone = "53-File not found",
                    cd = "Change directory ", dest = "DESTINATION      : ",
                    zip = "ZIPFILE          : P.zip",
                    patterns = "FILESPEC         : *.*",
                    unzip = "Unzip P.zip *.*";
  // clang-format off
  std::vector<std::tuple<char, std::string, char, Lines>> cases = {
      {'S', "    ", 'D', {"Blank line so do nothing."}},
      {'S', "' a", 'D', {"Internal comment - ignore this line."}},
      {'S', "usercomment=Hi", 'D', {"Display the user comment.", "   Hi"}},
      {'S', "PROMPT=N?", 'D', {"Prompt for user input-NOT WORKING YET."}},
      {'S', "FROBNICATE x", 'D', {}},
      {'S', "DELETE *.tmp", 'D', {"Delete *.tmp"}},
      // Nothing to do here is no failure of the update.
      {'S', "DELETE *.tmp", 'N', {"Delete *.tmp", gone}},
      {'S', "DELETE No\\*.tmp", 'N', {"Delete No\\*.tmp", missing}},
      {'S', "mkdir  Two", 'D', {"Make directory  Two"}},
      {'S', "MKDIR  Two", 'N',
       {"Make directory  Two", "58-File already exists"}},
      {'S', "FTPGET a.txt", 'D', {"Get file a.txt"}},
      {'S', "FTPGET b.txt", 'F', {"Get file b.txt", "GetFile: Failed. "}},
      {'C', "FTPGET a.txt", 'N', {"Get file a.txt", "No FTP site in a client "
       "run: a.txt not transferred.", "GetFile: Failed. "}},
      {'S', "FTPPUT my tool.sh", 'D', {"Put file my tool.sh"}},
      {'S', "FTPPUT b.txt", 'F', {"Put file b.txt", "PutFile: Failed. "}},
      {'S', run, 'D', {"Run " + run.substr(4), "SECONDS: 0.3",
                        "Timer Enabled for wait period. ",
                        "Timer Disabled for wait period. "}},
      {'S', fds, 'D', {"Run " + fds.substr(4), "SECONDS: 0.3",
                        "Timer Enabled for wait period. ",
                        "Timer Disabled for wait period. "}},
      {'S', "RUN no.exe", 'F', {"Run no.exe", gone, shell}},
      {'S', "RUN data.bin", 'F',
       {"Run data.bin", "70-Permission denied", shell}},
      // COPY splits folder, pattern and destination.
      {'S', "COPY", 'F', {copy, "5-Invalid procedure call or argument"}},
      // Each file named as it is copied, the last line staying.
      {'S', "COPY Drop\\*.dll Bin\\", 'D', {copy, "   2 of 2: a.dll"}},
      {'S', "COPY   *.ini Bin  ", 'D', {copy, "   1 of 1: site.ini"}},
      {'S', "COPY " + in_.Download() + "/Drop\\c.txt Bin", 'D',
       {copy, "   1 of 1: c.txt"}},
      {'S', "COPY Drop\\*.dll No\\", 'F',
       {copy, "   2 of 2: a.dll", missing, missing}},
      // A destination with a backslash before its end leaves no blank.
      {'S', "COPY Drop\\*.* ..\\Bin\\", 'F', {copy, "!!! COPY Drop\\*.* "
       "..\\Bin\\ copies nothing: a destination may hold no backslash but a "
       "last one."}},
      {'S', "COPY C:\\Drop\\*.dll D:\\Bin", 'F', {copy, "!!! COPY C:\\Drop"
       "\\*.dll D:\\Bin copies nothing: a destination may hold no backslash "
       "but a last one."}},
      // A server fetches from the site and passes the file on to Update, a
      // client copies it from the server's share; each extracts into its
      // own work folder.
      {'S', "DOWNLOAD P.zip", 'D', {"Download to Server"}},
      {'S', "DOWNLOAD No.zip", 'F',
       {"Download to Server", "Download to Server: Failed. ", gone}},
      {'S', "ZIP ..\\Z.zip *.dll", 'D', {"Zip ..\\Z.zip *.dll",
       "Zip Files      : ..\\Z.zip", "File Spec      : *.dll",
       "!!! Could not remove the zip file. "}},
      {'S', "UNZIP P.zip *.*", 'D',
       {unzip, dest + in_.Download(), zip, patterns, "   1 of 1: z"}},
      {'S', "UNZIP P.zip *.no", 'N',
       {"Unzip P.zip *.no", dest + in_.Download(), zip,
        "FILESPEC         : *.no", " 7"}},
      {'C', "UNZIP P.zip *.*", 'D',
       {unzip, dest + in_.Update(), zip, patterns, "   1 of 1: z"}},
      {'C', "DOWNLOAD P.zip", 'D', {"Download to Client"}},
      {'C', "DOWNLOAD No.zip", 'F',
       {"Download to Client", gone, "Download to Client: Failed. "}},
      // CHDIR makes a missing folder, its last level only.
      {'C', "CHDIR New", 'N', {cd + "New", missing}},
      {'C', "chdir ..\\..\\Update", 'D', {cd + "..\\..\\Update"}},
      {'C', "CHDIR A\\B", 'F', {cd + "A\\B", missing, missing, missing}},
  };
  // clang-format on
  auto start = std::chrono::steady_clock::now();
  std::clock_t cpu = std::clock();
  for (auto& [flavour, line, result, lines] : cases) {
    in_.settings.installation_type =
        flavour == 'S' ? InstallationType::kServer : InstallationType::kClient;
    EXPECT_EQ(Run(line), std::pair(result, lines)) << line;
  }
  // Only real failures count as errors.
  EXPECT_EQ(in_.log.error_lines(), 18);
  // The wait after RUN leaves the processor idle.
  EXPECT_GE(std::chrono::steady_clock::now() - start,
            std::chrono::milliseconds(300));
  EXPECT_LT(std::clock() - cpu, CLOCKS_PER_SEC / 10);
  EXPECT_EQ(fs::current_path(), in_.Update());
  for (const char* f : {"/ Two", "/New", "/Bin/a.dll", "/Bin/B.DLL",
                        "/Bin/c.txt", "/Bin/site.ini", "/z", "/../Update/z"}) {
    EXPECT_TRUE(fs::exists(in_.Download() + f)) << f;  // " Two": blank kept
  }
  EXPECT_EQ(ReadFile(in_.Update() + "/P.zip"), "shared");
  EXPECT_EQ(site_.files["my tool.sh"], sh);
  EXPECT_TRUE(WaitUntil(
      [&] { return ReadFile(in_.Download() + "/out.txt") == "hi there\n"; }));
  EXPECT_TRUE(WaitUntil(
      [&] { return ReadFile(in_.Download() + "/fds.txt") == "0\n1\n2\n3\n"; }));
  EXPECT_TRUE(WaitUntil([] { return ReapFinishedPrograms() == 0; }));
  in_.settings.server_name = "GONE";  // no such share
  EXPECT_EQ(Run("DOWNLOAD P.zip").second.at(1), "75-Path/File access error");

  in_.log.set_verbosity(2);
  for (const std::string& line :
       {std::string("DELETE a\0/../*", 14), "MKDIR " + std::string(300, 'n'),
        std::string("RUN a\0b", 7)}) {
    EXPECT_EQ(Run(line).second.at(0), "52-Bad file name or number");
  }
}

// Detection, then installation as an update run does it: the stored number
// after it, and a line shown.
TEST_F(UpdateTest, DetectionAndSectionsInstalled) {
  const std::string kNew = "   A new update is available.",
                    kSection = "MVUpdate", kKey = "LastUpdateInstalled",
                    kNoLast =
                        "!!! The update control file does not start "
                        "with a LASTUPDATE line; nothing can be "
                        "installed from it.",
                    kNo9 =
                        "!!! The update control file announces update 9 "
                        "but holds no [UPDATE 9] section; update 9 is not "
                        "installed.";
  struct Case {
    std::string stored, text, after, shown;
  } cases[] = {
      {"5", "LASTUPDATE=7\r[UPDATE 7]", "7", kNew},
      {"7", "LASTUPDATE=7\r[UPDATE 7]", "7", "   This system is up-to-date."},
      {"9", "lastupdate=10\r[UPDATE 10]", "10", kNew},  // numbers compared
      {"", "LASTUPDATE=1\r[UPDATE 1]", "1", kNew},      // none stored
      {"0", "[UPDATE 5]", "0", kNoLast},
      {"0", " LASTUPDATE=9\r[UPDATE 9]", "0", kNoLast},
      {"0", "\xFF\xFEL\0A\0", "0",
       "54-The control file is UTF-16 text; save it as ANSI or UTF-8 text"},
      {"0", "LASTUPDATE=2\n[UPDATE 1]\nMKDIR 1\n[UPDATE 2]\n", "2", kNew},
      {"abc", "LASTUPDATE=7", "abc", "13-Type mismatch"},
      {"0", "LASTUPDATE=99999999999", "0", "6-Overflow"},
      {"0", "", "0", "53-File not found"},
      {"8", "LASTUPDATE=9\r[update  9]", "9", kNew},
      {"8", "LASTUPDATE=9\r\t[UPDATE 9]", "9", kNew},  // tabs go first
      {"8", "LASTUPDATE=10\r[UPDATE 9.5]", "10", kNew},
      // Read by its fixed position, the header names update 0.
      {"8", "LASTUPDATE=9\r[UPDATE9]", "8", kNo9},
      {"8", "LASTUPDATE=9\r  [UPDATE 9]", "8", kNo9},
      // The sections below a missing announced one install.
      {"4", "LASTUPDATE=9\r[UPDATE 5]\r[UPDATE 6]", "6", kNo9},
      // Nothing to delete is no failure; 7 is not above 8.
      {"6", "LASTUPDATE=8\r[UPDATE 8]\rDELETE no.*\r[UPDATE 7]\rMKDIR 7", "8",
       "   Update 8 installed."},
      // A failed command stops its section and the later ones, unrecorded.
      {"6",
       "LASTUPDATE=9\r[UPDATE 7]\r[UPDATE 8]\rRUN no.exe\rMKDIR 8\r"
       "[UPDATE 9]\rMKDIR 9",
       "7",
       "!!! Update 8 was not installed "
       "because a command failed; the next run tries it again."},
      // A header too large ends the run after the sections recorded.
      {"0", "LASTUPDATE=3\r[UPDATE 1]\r[UPDATE 99999999999]\r[UPDATE 3]", "1",
       "6-Overflow"},
  };
  const std::string file = UpdateControlFile(in_.settings, true);
  for (const Case& c : cases) {
    fs::remove_all(in_.sb.config_home());
    if (!c.stored.empty()) {
      ASSERT_TRUE(
          in_.store.SaveSetting("Qorin", kSection, kKey, c.stored).ok());
    }
    fs::remove(file);
    if (!c.text.empty()) WriteFile(file, c.text + "\r");
    in_.window.lines.clear();
    if (CheckForNewUpdate(ctx_, in_.store) == UpdateCheck::kNewUpdate) {
      ProcessUpdateControlFile(ctx_, in_.store);
    }
    EXPECT_EQ(in_.store.GetSetting("Qorin", kSection, kKey, "").value(),
              c.after)
        << c.text;
    EXPECT_TRUE(in_.Shown(c.shown)) << c.text;
  }
  EXPECT_FALSE(fs::exists("7") || fs::exists("8") || fs::exists("9"));
  EXPECT_TRUE(fs::exists("1"));
  // The rule of earlier versions, on request: every section recorded.
  options_.record_failed_updates = true;
  WriteFile(file, "LASTUPDATE=9\r[UPDATE 8]\rRUN no.exe\r[UPDATE 9]\rMKDIR 9");
  ProcessUpdateControlFile(ctx_, in_.store);
  EXPECT_TRUE(fs::exists("9"));
  EXPECT_EQ(ReadLastUpdateInstalled(in_.store).value(), 9);
  // An update that cannot be recorded ends the run.
  SettingsStore nowhere("");
  in_.window.lines.clear();
  WriteFile(file, "LASTUPDATE=2\r[UPDATE 1]\r[UPDATE 2]\r");
  ProcessUpdateControlFile(ctx_, nowhere);
  EXPECT_TRUE(
      in_.Shown("76-Path not found (no home folder for the settings store)"));
  EXPECT_FALSE(in_.Shown("   Installing update 2..."));
  // So does a settings file that cannot be written: the number stays.
  FaultEnv env;
  env.refuse = "settings.ini";
  SettingsStore refusing(in_.sb.config_home(), env);
  in_.window.lines.clear();
  WriteFile(file, "LASTUPDATE=11\r[UPDATE 10]\r[UPDATE 11]\r");
  ProcessUpdateControlFile(ctx_, refusing);
  EXPECT_EQ(ReadLastUpdateInstalled(in_.store).value(), 9);
  EXPECT_NE(Joined(in_.window.lines).find("70-Permission denied"),
            std::string::npos)
      << Joined(in_.window.lines);
  EXPECT_FALSE(in_.Shown("   Installing update 11..."));
}

// Partial downloads that will not be resumed go at the start of a run:
// those of files no control file of the Update folder fetches any more.
// (Their age: EnvFaultsTest.StalePartialDownloadByTheClock.)
TEST_F(UpdateTest, StalePartialDownloads) {
  WriteFile(in_.Update() + "/MVUpdate.dat",
            "LASTUPDATE=2\r\n[UPDATE 2]\r\nDOWNLOAD Patch2.zip\r\n"
            "\tftpget sub\\Tool.exe\r\n");
  const std::pair<std::string, bool> cases[] = {
      {"Patch2.zip", true},      {"PATCH2.ZIP", true},     {"Tool.exe", true},
      {"Patch2.zip.old", false}, {"Withdrawn.zip", false},
  };
  for (const auto& [name, kept] : cases) {
    std::string part = in_.Download() + "/." + name + ".mvpartial";
    WriteFile(part, "part");
    WriteFile(part + "-info", "info");
  }
  RemoveStalePartialDownloads(Env::Default(), in_.settings, in_.log);
  for (const auto& [name, kept] : cases) {
    std::string part = in_.Download() + "/." + name + ".mvpartial";
    EXPECT_EQ(fs::exists(part), kept) << name;
    EXPECT_EQ(fs::exists(part + "-info"), kept) << name;
    EXPECT_EQ(in_.Shown("!!! Removed the partial download of " + name +
                        " (no control file names it any more)."),
              !kept)
        << name;
  }
}

// What DOWNLOAD and FTPGET fetch must match the digest a SHA256 line of
// the section states for its name; while keys are pinned, a file without
// one is refused. A file that does not match is removed.
TEST_F(UpdateTest, DigestsOfFetchedFiles) {
  site_.files = {{"P1.zip", "one"}, {"P2.zip", "two"}, {"P3.zip", "3"}};
  WriteFile(in_.sb.unc_root() + "/SRV01/MVUpdate/P1.zip", "one");
  WriteFile(in_.sb.unc_root() + "/SRV01/MVUpdate/P2.zip", "two");
  Digests digests;
  EXPECT_TRUE(NoteDigest(
      " sha256 " + ToUpperAscii(Sha256Of("one")) + "  p1.ZIP", digests));
  EXPECT_TRUE(NoteDigest("SHA256 " + Sha256Of("not two") + " P2.zip", digests));
  EXPECT_FALSE(NoteDigest("SHA256 abc P3.zip", digests));
  ctx_.digests = &digests;
  in_.log.set_verbosity(3);
  const std::string mismatch =
      "!!! P2.zip does not match its SHA256 line (expected " +
      Sha256Of("not two") + ", got " + Sha256Of("two") +
      "); the file was removed.";
  struct Case {
    char flavour;
    bool verify;
    std::string line, last, kept;  // kept: the file left in Update
  } cases[] = {
      {'S', true, "DOWNLOAD P1.zip", "Download to Server", "one"},
      {'S', false, "FTPGET P2.zip", mismatch, ""},
      {'S', false, "DOWNLOAD P3.zip", "Download to Server", "3"},
      {'S', true, "DOWNLOAD P3.zip",
       "!!! DOWNLOAD P3.zip refused: updates are verified here and no SHA256 "
       "line states the file's digest.",
       ""},
      {'C', true, "DOWNLOAD P1.zip", "Download to Client", "one"},
      {'C', true, "DOWNLOAD P2.zip", mismatch, ""},
  };
  for (const Case& c : cases) {
    for (const std::string& folder : {in_.Update(), in_.Download()}) {
      for (const char* f : {"/P1.zip", "/P2.zip", "/P3.zip"}) {
        fs::remove(folder + f);
      }
    }
    in_.settings.installation_type = c.flavour == 'S'
                                         ? InstallationType::kServer
                                         : InstallationType::kClient;
    ctx_.verify = c.verify;
    auto [result, lines] = Run(c.line);
    EXPECT_EQ(result, c.kept.empty() ? 'F' : 'D') << c.line;
    EXPECT_EQ(lines.empty() ? "" : lines.back(), c.last) << c.line;
    std::string name = c.line.substr(c.line.find(' ') + 1);
    EXPECT_EQ(ReadFile(in_.Update() + "/" + name), c.kept) << c.line;
    EXPECT_FALSE(c.kept.empty() && fs::exists(in_.Download() + "/" + name));
  }
}

// The update control file is used only when a pinned key signed it and it
// is not older than one accepted before; the real minisign writes the
// signatures.
TEST(SignatureTest, ControlFileCheckedAgainstPinnedKeys) {
  Installation in;
  MinisignKey a, b;
  const std::string file = in.Update() + "/MVUpdate.dat",
                    sig = file + ".minisig";
  // b's key under a's key id.
  std::string twin = [&] {
    std::string bytes = DecodeBase64(a.public_key()).value();
    bytes.replace(10, 32, DecodeBase64(b.public_key()).value().substr(10));
    std::string text(
        sodium_base64_encoded_len(bytes.size(), sodium_base64_VARIANT_ORIGINAL),
        '\0');
    sodium_bin2base64(text.data(), text.size(),
                      reinterpret_cast<const unsigned char*>(bytes.data()),
                      bytes.size(), sodium_base64_VARIANT_ORIGINAL);
    return std::string(text.c_str());
  }();
  const std::string used =
      "The update control file is signed with a pinned key.";
  const std::string no = "!!! The update control file was not used: ";
  const std::string stale =
      "; the site may be stale or tampered with. Nothing was installed.";
  const std::string at = " published=2026-12-07T10:00:00Z";
  const int64_t now = *ParseUtc("2026-12-08T00:00:00Z");
  enum Tamper { kNone, kFile, kComment, kJunk, kNoSignature };
  struct Case {
    std::string pinned;
    const MinisignKey* signer;
    bool legacy;
    Tamper tamper;
    Lines lines;
    int announced = 1;         // LASTUPDATE of the signed file
    std::string comment = "";  // "": minisign's own
    int seen = 0;              // the highest update accepted before
  };
  // clang-format off
  const Case cases[] = {
      {"", &a, false, kNoSignature,
       {"!!! Updates are not verified: no public key is pinned "
        "(UpdatePublicKeys in the registry)."},
       3, "", 5},
      {a.public_key(), &a, false, kNone, {used}},
      {a.public_key(), &a, true, kNone, {used}},
      {b.public_key() + " ; " + a.public_key(), &a, false, kNone, {used}},
      {a.public_key(), &a, false, kFile,
       {no + "its signature does not match key 1 of 1 in UpdatePublicKeys: "
             "the file was changed after it was signed, or that key did not "
             "sign it. Nothing was installed."}},
      // Another key with a's id is tried too; the one that failed is named.
      {twin + " ; " + a.public_key(), &a, false, kNone, {used}},
      {b.public_key() + ";" + twin, &a, false, kNone,
       {no + "its signature does not match key 2 of 2 in UpdatePublicKeys: "
             "the file was changed after it was signed, or that key did not "
             "sign it. Nothing was installed."}},
      // A registry value of another type, or nothing that is a key.
      {"(not a string value)", &a, false, kNone,
       {no + "UpdatePublicKeys holds no minisign public key. Nothing was "
             "installed."}},
      {"junk ; ", &a, false, kNone,
       {no + "UpdatePublicKeys holds no minisign public key. Nothing was "
             "installed."}},
      {a.public_key(), &a, true, kComment,
       {no + "its trusted comment was changed after it was signed. Nothing "
             "was installed."}},
      {a.public_key(), &b, false, kNone,
       {no + "it was signed with a key that is not pinned (UpdatePublicKeys). "
             "Nothing was installed."}},
      {a.public_key(), &a, false, kNoSignature,
       {no + "it has no signature file (MVUpdate.dat.minisig). Nothing was "
             "installed."}},
      {a.public_key(), &a, false, kJunk,
       {no + "its signature file is not a minisign signature. Nothing was "
             "installed."}},
      // Rollback and freeze: an older file signed by plain minisign or by
      // the vendor's tool; the same number again is fine (Reset Last Update).
      {a.public_key(), &a, false, kNone,
       {used, "!!! The update control file is older than one already seen: "
              "update 3 announced, 5 seen" + stale},
       3, "", 5},
      {a.public_key(), &a, false, kNone, {used}, 5, "", 5},
      {a.public_key(), &a, false, kNone, {used}, 6,
       "mvupdate update=6" + at + " expires=2026-12-08T00:00:00Z", 5},
      {a.public_key(), &a, true, kNone,
       {used, "!!! The update control file announces update 6 but was "
              "signed for update 3" + stale},
       6, "mvupdate update=3" + at},
      {a.public_key(), &a, false, kNone,
       {used, "!!! The update control file's signature expired at "
              "2026-12-07T23:59:59Z" + stale},
       1, "mvupdate update=1" + at + " expires=2026-12-07T23:59:59Z"},
      {a.public_key(), &a, false, kNone,
       {used, "!!! The update control file's trusted comment \"mvupdate "
              "update=1 expires=never\" cannot be read. Nothing was "
              "installed."},
       1, "mvupdate update=1 expires=never"},
  };
  // clang-format on
  for (const Case& c : cases) {
    std::string n = std::to_string(c.announced);
    WriteFile(file, "LASTUPDATE=" + n + "\r\n[UPDATE " + n + "]\r\n");
    c.signer->Sign(file, c.legacy, c.comment);
    if (c.tamper == kFile) WriteFile(file, "LASTUPDATE=2\r\n[UPDATE 2]\r\n");
    std::string text = ReadFile(sig);
    if (c.tamper == kComment)
      text.insert(text.find("\ntrusted comment: ") + 18, "x");
    WriteFile(sig, c.tamper == kJunk ? "junk\n" : text);
    if (c.tamper == kNoSignature) fs::remove(sig);
    in.settings.update_public_keys = c.pinned;
    ASSERT_TRUE(StoreHighestUpdateAccepted(in.store, c.seen).ok());
    in.window.lines.clear();
    bool accepted = c.lines == Lines{used} || c.pinned.empty();
    EXPECT_EQ(
        CheckControlFileSignature(in.settings, file, in.store, in.log, now),
        accepted)
        << c.lines.back();
    EXPECT_EQ(in.window.lines, c.lines);
    // Only a verified file raises the number; nothing ever lowers it.
    EXPECT_EQ(
        ReadHighestUpdateAccepted(in.store).value(),
        accepted && !c.pinned.empty() ? std::max(c.seen, c.announced) : c.seen)
        << c.lines.back();
  }
}

TEST(ControlFileReaderTest, LineEnds) {
  const std::string chunk(64 * 1024, 'x');  // the reader's buffer size
  const std::string bom = "\xEF\xBB\xBF", nul("\tCaf\xE9\0.zip", 10);
  // clang-format off
  std::pair<std::string, Lines> cases[] = {
      {"LASTUPDATE=7\r\n[UPDATE 7]\r\n", {"LASTUPDATE=7", "[UPDATE 7]"}},
      {"a\rb", {"a", "b"}},
      {"a\nb\r\nc\n\rd", {"a", "b", "c", "", "d"}},
      {"a\r\r\n\r\n", {"a", "", ""}},
      {nul, {nul}},
      {bom + "LASTUPDATE=7", {"LASTUPDATE=7"}},
      {bom, {}},
      {chunk.substr(1) + "\r\nnext", {chunk.substr(1), "next"}},
      {chunk.substr(1) + "\rnext", {chunk.substr(1), "next"}},
      {chunk + chunk + "y\r\nz", {chunk + chunk + "y", "z"}},
  };
  // clang-format on
  for (const auto& [text, lines] : cases) {
    TempFolder tmp;
    WriteFile(tmp / "update/mvupdate.DAT", text);
    // The name's case does not matter.
    Result<ControlFileReader> reader =
        ControlFileReader::Open(tmp / "Update/MVUpdate.dat");
    ASSERT_TRUE(reader.ok());
    Lines read;
    for (std::string line; reader.value().ReadLine(line);) read.push_back(line);
    EXPECT_TRUE(reader.value().status().ok());
    EXPECT_EQ(read, lines) << text.substr(0, 20);
  }
}

TEST(ControlNumberTest, ReadsLeadingNumberAndRoundsHalfToEven) {
  // The number, or the failure's text.
  // clang-format off
  std::pair<std::string, std::string> cases[] = {
      {"", "0"}, {"\t\n 4\t2", "42"}, {"- 7", "-7"}, {"1e3", "1"},
      {"2.5", "2"}, {"-3.5", "-4"}, {"2.50000000000000000000001", "3"},
      {".7", "1"}, {"00000000000000000000000000009", "9"},
      {"-2147483648.5", "-2147483648"}, {"2147483647.5", "6-Overflow"},
      {"-2147483648.51", "6-Overflow"},
  };
  // clang-format on
  for (const auto& [text, value] : cases) {
    Result<int32_t> n = ControlNumber(text);
    EXPECT_EQ(n.ok() ? std::to_string(n.value()) : n.failure().Text(), value)
        << text;
  }
}

// Archives built by patterns, read back. A file that cannot be read is left
// out, and the zip fails; a zip that fails while writing leaves no archive.
TEST_F(UpdateTest, ZipPatterns) {
  const std::string bin("\x7f\0\xff\r\n", 5), b = "Sub/ Sub/b.TXT=" + bin;
  for (const char* f : {".h", "a.txt", "Sub/b.TXT", "run.sh", "k.key"}) {
    WriteFile(in_.Download() + "/" + f,
              f == std::string("Sub/b.TXT") ? bin : "x");
  }
  ::chmod("k.key", 0);
  ::chmod("run.sh", 0700);
  ::chmod(in_.Download().c_str(), 0777);
  ::chmod(in_.sb.app().c_str(), 0777);
  std::tuple<std::string, int16_t, std::string> cases[] = {
      {"*.*", kArchiveOk, ".h=x " + b + " a.txt=x k.key=x run.sh=x"},
      {"  *.TXT   *.sh", kArchiveOk, b + " a.txt=x run.sh=x"},
      {"sub\\*.*", kArchiveOk, b},
      {"*.zip", kArchiveNothingMatched, ""},
      {std::string("..\0\\*.*", 6), kArchiveNothingMatched, ""},
      {"*.key *.txt", kArchiveSourceUnreadable, b + " a.txt=x"},
      {"*.dat", kArchiveWriteFailed, ""}};
  for (const auto& [patterns, result, tree] : cases) {
    in_.window.lines.clear();
    std::optional<ScopedUnprivileged> nobody;
    if (result == kArchiveSourceUnreadable) nobody.emplace();
    // Reading this file fails after it was opened, in the middle of writing.
    if (result == kArchiveWriteFailed) {
      fs::create_symlink("/proc/self/mem", "m.dat");
    }
    EXPECT_EQ(ZipFiles(in_.log, "..\\Out.zip", patterns), result) << patterns;
    nobody.reset();
    EXPECT_EQ(in_.Shown("!!! Could not read: k.key (70-Permission denied)"),
              result == kArchiveSourceUnreadable);
    EXPECT_EQ(in_.window.lines.back(),
              result ? "!!! Could not zip:  " + std::to_string(result)
                     : "!!! Could not remove the zip file. ");
    fs::remove_all(in_.Update());
    EXPECT_EQ(std::get<2>(Unzip("../out.ZIP", "*.*")), tree) << patterns;
    fs::remove(in_.sb.app() + "/Out.zip");
  }
  // Nothing is left beside the work folders, not even a temporary file.
  for (const auto& e : fs::directory_iterator(in_.sb.app())) {
    EXPECT_TRUE(e.is_directory()) << e.path();
  }
}

// What an extraction into a folder holding Bin/o leaves there. Entries that
// would land outside it are refused; a damaged one keeps the file it would
// replace.
TEST_F(UpdateTest, UnzipOutcomes) {
  std::string patch = Archive(
      {{"A.DLL", "1"}, {"BIN/t.dll", "2"}, {"D\\g.TXT", "3"}, {"s.exe", "4"}});
  std::string damaged = Archive({{"Bin/o", "Damaged"}, {"b", "new"}});
  damaged[damaged.find("Damaged")] = 'd';  // the checksum no longer fits
  const std::string old = "Bin/ Bin/o=old";
  const std::string unsafe = "!!! Unsafe entry not extracted: ";
  // clang-format off
  std::vector<std::tuple<std::string, std::string, int16_t, Lines, std::string>>
      cases = {
          {patch, "*.dll", kArchiveOk, {}, "A.DLL=1 " + old + " Bin/t.dll=2"},
          {patch, "*.txt *.EXE", kArchiveOk, {}, old + " D/ D/g.TXT=3 s.exe=4"},
          {patch, "*.zip", kArchiveNothingMatched, {" 7"}, old},
          {"", "*.*", kArchiveNotFound, {" 1"}, old},
          {patch.substr(0, 99), "*.*", kArchiveCorrupt, {" 3"}, old},
          {damaged, "*.*", kArchiveEntryDamaged,
           {"!!! Damaged entry not extracted: Bin/o (CRC error)", " 4"},
           old + " b=new"},
          {Archive({{"bin/O", "new"}, {"E/", "", S_IFDIR}}), "*.*", kArchiveOk,
           {}, "Bin/ Bin/o=new E/"},
      };
  for (const Entry& bad : std::vector<Entry>{
           {"../evil", "x"}, {"S/../../evil", "x"}, {"..\\evil", "x"},
           {"../Escape/", "", S_IFDIR}, {"/tmp/evil", "x"}, {"c:evil", "x"},
           {"link", "/etc/passwd", S_IFLNK}}) {
    cases.push_back({Archive({{"f", "1"}, bad, {"l", "2"}}), "*.*",
                     kArchiveEntryUnsafe, {unsafe + bad.name, " 5"},
                     old + " f=1 l=2"});
  }
  // clang-format on
  for (const auto& [archive, patterns, result, lines, tree] : cases) {
    fs::remove_all(in_.Update());
    WriteFile(in_.Update() + "/Bin/o", "old");
    fs::remove("Patch.zip");
    if (!archive.empty()) WriteFile(in_.Download() + "/Patch.zip", archive);
    EXPECT_EQ(Unzip("patch.ZIP", patterns), std::tuple(result, lines, tree));
  }
  EXPECT_FALSE(fs::exists(in_.sb.app() + "/evil"));
  EXPECT_FALSE(fs::exists(in_.sb.app() + "/Escape"));
  EXPECT_FALSE(fs::exists("/tmp/evil"));
  // A folder of the destination that is a link is never written through.
  fs::create_symlink(in_.sb.root(), in_.Update() + "/Pre");
  WriteFile(in_.Download() + "/Patch.zip",
            Archive({{"pre/x", "x"}, {"PRE/", "", S_IFDIR}}));
  EXPECT_EQ(std::get<1>(Unzip("patch.zip", "*.*")),
            (Lines{unsafe + "pre/x", unsafe + "PRE/", " 5"}));
  EXPECT_FALSE(fs::exists(in_.sb.root() + "/x"));
}

}  // namespace
}  // namespace mv
