// Faults of the disk and the clock made by a fake Env instead of limits,
// mounts and waiting: the same table on Linux and Windows. Each row checks
// what the person is told and that no file is left half written or
// replaced.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include "log/run_log.h"
#include "support/fault_env.h"
#include "support/recording_window.h"
#include "system/files.h"
#include "system/install_settings.h"
#include "system/last_update.h"
#include "system/settings_store.h"
#include "tools/reset_last_update.h"
#include "transport/partial_download.h"
#include "update/control_file.h"
#include "update/zip.h"

namespace mv {
namespace {

namespace fs = std::filesystem;

// A fresh folder below the temporary folder, removed at the end; names in
// it are given with "/" separators, the core's native form.
struct Scratch {
  Scratch() {
    std::random_device random;
    path = fs::temp_directory_path() /
           ("mvfault-" + std::to_string(random()) + std::to_string(random()));
    fs::create_directories(path);
  }
  ~Scratch() {
    std::error_code ec;
    fs::current_path(fs::temp_directory_path(), ec);
    fs::remove_all(path, ec);
  }
  std::string operator/(const std::string& name) const {
    return (path / name).generic_string();
  }
  fs::path path;
};

void Write(const std::string& file, const std::string& text) {
  fs::create_directories(fs::path(file).parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

std::string Read(const std::string& file) {
  Result<std::string> text = ReadWholeFile(file);
  return text.ok() ? text.value() : "";
}

// The names in `folder`, blank-separated, in name order.
std::string Names(const std::string& folder) {
  std::vector<std::string> names = ListFolder(folder);
  std::sort(names.begin(), names.end());
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : " ") + n;
  return out;
}

// An archive of a small and a larger file, then extracted into a folder
// whose big.dat it would replace: a disk that fills up during the write,
// too little free space, a file larger than the process may write. The old
// file stays and nothing else is left there.
TEST(EnvFaultsTest, Extraction) {
  Scratch tmp;
  Write(tmp / "in/a.txt", "a");
  Write(tmp / "in/big.dat", std::string(64 * 1024, 'b'));
  fs::current_path(tmp / "in");
  RecordingWindow window;
  RunLog log(&window);
  ASSERT_EQ(ZipFiles(log, tmp / "p.zip", "*.*"), kArchiveOk);
  const std::string out = tmp / "out";
  struct Case {
    std::function<void(FaultEnv&)> fault;
    std::string line;  // how a line of the extraction starts
    std::string names;
    std::string tail = "";  // and ends
  } cases[] = {
      {[](FaultEnv& e) { e.room = 1000; },
       "!!! Could not extract: big.dat (61-", "a.txt big.dat"},
      {[](FaultEnv& e) { e.free_bytes = 65536; },
       "!!! The archive needs 65537 bytes but ", "big.dat",
       "out has 65536 bytes free; nothing was extracted."},
      {[](FaultEnv& e) { e.size_limit = 1024; },
       "!!! The archive holds a file of 65536 bytes, larger than this "
       "process may write (1024 bytes); nothing was extracted.",
       "big.dat"},
  };
  for (const Case& c : cases) {
    fs::remove_all(out);
    Write(out + "/big.dat", "old");
    FaultEnv env;
    c.fault(env);
    window.lines.clear();
    EXPECT_EQ(UnZipFiles(env, log, tmp / "p.zip", out, "*.*"),
              kArchiveWriteFailed)
        << c.line;
    bool told = false;
    for (const std::string& l : window.lines) {
      told |= l.starts_with(c.line) && l.ends_with(c.tail);
    }
    EXPECT_TRUE(told) << c.line << "\n" << window.lines.back();
    EXPECT_EQ(Read(out + "/big.dat"), "old") << c.line;
    EXPECT_EQ(Names(out), c.names) << c.line;
  }
}

// A finished download that cannot be renamed into place: the earlier file
// of that name stays, and the partial file and its note go (the same
// rename would fail again).
TEST(EnvFaultsTest, DownloadNotPutInPlace) {
  Scratch tmp;
  const std::string target = tmp / "Patch.zip",
                    part = tmp / ".Patch.zip.mvpartial";
  Write(target, "old");
  FaultEnv env;
  UniqueFd file;
  int64_t offset = -1;
  ASSERT_EQ(OpenPartialFile(env, part, part + "-info", {"site/Patch.zip", 3, 9},
                            &file, &offset),
            0);
  ASSERT_EQ(env.WriteFd(file.get(), "new", 3), 0);
  env.refuse = "Patch.zip";
  EXPECT_EQ(PutDownloadInPlace(env, file, part, part + "-info", target),
            EACCES);
  EXPECT_EQ(Read(target), "old");
  EXPECT_EQ(Names(tmp.path.generic_string()), "Patch.zip");
}

// A partial download is removed at the start of a run once it was not
// written for 7 days, and not a second earlier, by the clock of the Env.
TEST(EnvFaultsTest, StalePartialDownloadByTheClock) {
  Scratch tmp;
  InstallSettings settings;
  settings.application_path = tmp / "App";
  const std::string part = tmp / "App/Download/.Patch.zip.mvpartial";
  RecordingWindow window;
  RunLog log(&window);
  const int64_t week = 7 * 24 * 60 * 60;
  for (int64_t after : {week - 60, week + 60}) {
    Write(part, "part");
    Write(part + "-info", "info");
    FaultEnv env;
    env.now = env.target().NowSeconds() + after;
    window.lines.clear();
    RemoveStalePartialDownloads(env, settings, log);
    const bool stale = after > week;
    EXPECT_EQ(fs::exists(part), !stale) << after;
    EXPECT_EQ(fs::exists(part + "-info"), !stale) << after;
    EXPECT_EQ(window.lines,
              stale ? std::vector<std::string>{"!!! Removed the partial "
                                               "download of Patch.zip (not "
                                               "written for 7 days)."}
                    : std::vector<std::string>{})
        << after;
  }
}

// A settings store that does not take a write (its file on Linux, its
// registry key on Windows): Reset Last Update says why, and the stored
// number and its install time stay as they were.
TEST(EnvFaultsTest, SettingsStoreRefusesTheWrite) {
  Scratch tmp;
  RecordingWindow window;
  RunLog log(&window);
  const DateTime on{2026, 12, 7, 8, 9, 10};
  const std::pair<int, std::string> cases[] = {
      {EACCES, "70-Permission denied"},
      {ENOSPC, "61-Disk full"},
  };
  for (const auto& [error, text] : cases) {
    FaultEnv env;
    SettingsStore store(tmp.path.string(), env);
    ASSERT_TRUE(StoreLastUpdateInstalled(store, 5, on).ok());
    env.refuse = store.FileFor("Qorin");
    env.error = error;
    window.lines.clear();
    ResetLastUpdate(store, log, "MVUpEvents.log", "help@example.org");
    EXPECT_EQ(window.lines, (std::vector<std::string>{
                                "[Reset Last Update]",
                                "!!! Reset Last Update Error: " + text, " "}));
    EXPECT_EQ(ReadLastUpdateInstalled(store).value(), 5) << text;
    EXPECT_EQ(ReadLastUpdateInstalledOn(store), on) << text;
  }
}

}  // namespace
}  // namespace mv
