#include "update/update_detection.h"

#include <optional>
#include <string>

#include "data/customer_record.h"
#include "system/date_time.h"
#include "system/files.h"
#include "system/last_update.h"
#include "system/paths.h"
#include "system/text.h"
#include "update/command_interpreter.h"
#include "update/control_file.h"

namespace mv {

namespace {

bool StartsWith(std::string_view text, std::string_view head) {
  return text.substr(0, head.size()) == head;
}

// A run-time error of detection or installation is logged; the caller then
// goes to its closing line.
void RunTimeError(RunLog& log, const Failure& failure) {
  log.Error(failure.Text());
}

// Walks the sections of an update control file.
class Installer {
 public:
  Installer(const CommandContext& context, SettingsStore& store)
      : context_(context), store_(store) {}
  // Gives the failure that ended the walk early, if any.
  std::optional<Failure> Run(ControlFileReader& reader);
  const UpdateOutcome& outcome() const { return outcome_; }

 private:
  std::optional<Failure> Header(const std::string& line);
  void Command(const std::string& line, const std::string& key);
  void Stop();
  void StopAtRequest();
  std::optional<Failure> Record(int32_t n);
  void NotRecorded(int32_t n, const Failure& failure);

  const CommandContext& context_;
  SettingsStore& store_;
  int32_t installed_ = 0;
  int32_t current_ = 0;
  bool pending_ = false;
  bool server_block_ = false;
  bool client_block_ = false;
  // A command of the section failed: nothing more is installed this run.
  bool stopped_ = false;
  // What the section's SHA256 lines state so far.
  Digests digests_;
  UpdateOutcome outcome_;
};

std::optional<Failure> Installer::Run(ControlFileReader& reader) {
  std::string line;
  reader.ReadLine(line);  // the announcement; not used here
  Result<int32_t> stored = ReadLastUpdateInstalled(store_);
  if (!stored.ok()) return stored.failure();
  installed_ = stored.value();
  while (!stopped_ && reader.ReadLine(line)) {
    line = StripCharacter(line, "\t");
    std::string key = ToUpperAscii(TrimSpaces(line));
    if (StartsWith(key, "[UPDATE")) {
      if (std::optional<Failure> f = Header(line)) return f;
    } else if (pending_) {
      Command(line, key);
    }
  }
  if (stopped_) return std::nullopt;
  if (!reader.status().ok()) return reader.status().failure();
  if (pending_) return Record(current_);
  return std::nullopt;
}

std::optional<Failure> Installer::Header(const std::string& line) {
  if (pending_) {
    if (std::optional<Failure> f = Record(current_)) return f;
  }
  Result<int32_t> number = ControlNumber(MidFrom(line, 9));
  if (!number.ok()) return number.failure();
  current_ = number.value();
  pending_ = current_ > installed_;
  if (!pending_) return std::nullopt;
  server_block_ = client_block_ = false;
  digests_.clear();
  context_.log.Show("   Installing update " + std::to_string(current_) + "...");
  Status st = ChangeFolder(context_.settings.App(
      context_.server_flavour() ? "\\Download" : "\\Update"));
  if (!st.ok()) return st.failure();
  return std::nullopt;
}

void Installer::Command(const std::string& line, const std::string& key) {
  // A digest applies to the section's later downloads of that name, in
  // whichever block either line stands.
  NoteDigest(line, digests_);
  if (StartsWith(key, "{SERVER}")) {
    server_block_ = true;
    client_block_ = false;
    return;
  }
  if (StartsWith(key, "{CLIENT}")) {
    client_block_ = true;
    server_block_ = false;
    return;
  }
  bool server = context_.settings.is_server();
  bool runs = (!server_block_ && !client_block_) || (server_block_ && server) ||
              (client_block_ && !server);
  if (!runs) return;
  // Between two commands is a safe place to stop: the section stays
  // unrecorded, so the next run installs it from the start.
  if (context_.window.StopRequested()) return StopAtRequest();
  std::string command = line;
  CommandContext context = context_;
  context.digests = &digests_;
  const bool failed =
      ExecuteCommandLine(context, command) == CommandResult::kFailed;
  if (failed) {
    context_.log.Error("Command failed. ");
    context_.log.Info(command);
  }
  // A stop that came while the command ran may have cut it short (a
  // download, the wait after RUN): the section is not recorded even when
  // this was its last command.
  if (context_.window.StopRequested()) return StopAtRequest();
  if (failed && !context_.options.record_failed_updates) Stop();
}

void Installer::StopAtRequest() {
  stopped_ = true;
  pending_ = false;
  outcome_.not_installed = current_;
  outcome_.stopped = true;
  context_.log.Warning(
      "!!! Stopped at the request of the person at the "
      "window: update " +
      std::to_string(current_) +
      " was not installed; the next run installs it from "
      "the start.");
}

// Updates build on each other: after a failed command neither the rest of
// its section nor a later section runs, and the update stays unrecorded so
// that the next run installs it from the start.
void Installer::Stop() {
  stopped_ = true;
  pending_ = false;
  outcome_.not_installed = current_;
  context_.log.Error("!!! Update " + std::to_string(current_) +
                     " was not installed because a command failed; the next "
                     "run tries it again.");
}

std::optional<Failure> Installer::Record(int32_t n) {
  installed_ = n;
  DateTime installed_on = context_.env.LocalNow();
  // Without the stored number the next run would install this update
  // again; say so and stop rather than carry on unrecorded.
  if (Status st = StoreLastUpdateInstalled(store_, n, installed_on); !st.ok()) {
    return st.failure();
  }
  // The line is the last that the section wrote: it is replaced before the
  // database is asked, so that a database that refuses says so after it.
  context_.log.ReplaceLast("   Update " + std::to_string(n) + " installed.");
  if (outcome_.installed++ == 0) outcome_.first_installed = n;
  outcome_.last_installed = n;
  pending_ = false;
  Result<bool> recorded = UpdateCustomerInfoRecord(
      context_.settings, context_.log, n, installed_on, &context_.window);
  if (!recorded.ok()) NotRecorded(n, recorded.failure());
  return std::nullopt;
}

// The update is installed and stored here; the row the vendor's report and
// the suite read lags behind until the next server run repairs it.
void Installer::NotRecorded(int32_t n, const Failure& failure) {
  const InstallSettings& s = context_.settings;
  if (!s.is_server()) {
    // A client only reads the row: nothing is left to record.
    context_.log.Error(failure.Text());
    return;
  }
  outcome_.not_recorded = n;
  context_.log.Error("!!! Update " + std::to_string(n) +
                     " is installed on this machine but could not be "
                     "recorded in the suite database (" +
                     s.database_name + " on " + s.database_server +
                     "): " + failure.Text() + " The next run records it.");
}

}  // namespace

namespace {

// True when the file holds a section headed with update `number`.
Result<bool> HasSection(ControlFileReader& reader, int32_t number) {
  std::string line;
  while (reader.ReadLine(line)) {
    line = StripCharacter(line, "\t");
    if (!StartsWith(ToUpperAscii(TrimSpaces(line)), "[UPDATE")) continue;
    // A header whose number cannot be read is reported when the walk
    // reaches it; the sections before it still install.
    Result<int32_t> n = ControlNumber(MidFrom(line, 9));
    if (n.ok() && n.value() == number) return true;
  }
  if (!reader.status().ok()) return reader.status().failure();
  return false;
}

// Compares the announcement with the stored number; logs every problem.
UpdateCheck Compare(const CommandContext& context, const SettingsStore& store,
                    ControlFileReader& reader) {
  RunLog& log = context.log;
  std::string first;
  reader.ReadLine(first);
  if (!reader.status().ok()) {
    RunTimeError(log, reader.status().failure());
    return UpdateCheck::kFailed;
  }
  if (ToUpperAscii(first.substr(0, 11)) != "LASTUPDATE=") {
    log.Error(
        "!!! The update control file does not start with a LASTUPDATE line; "
        "nothing can be installed from it.");
    return UpdateCheck::kFailed;
  }
  Result<int32_t> latest = ControlNumber(MidFrom(first, 12));
  Result<int32_t> installed =
      latest.ok() ? ReadLastUpdateInstalled(store) : latest.failure();
  if (!installed.ok()) {
    RunTimeError(log, installed.failure());
    return UpdateCheck::kFailed;
  }
  if (latest.value() <= installed.value()) {
    log.Show("   This system is up-to-date.");
    return UpdateCheck::kUpToDate;
  }
  Result<bool> present = HasSection(reader, latest.value());
  if (!present.ok()) {
    RunTimeError(log, present.failure());
    return UpdateCheck::kFailed;
  }
  // The sections that are there still install: they do not depend on the
  // missing one, and the next run looks for it again.
  if (!present.value()) {
    std::string n = std::to_string(latest.value());
    log.Error("!!! The update control file announces update " + n +
              " but holds no [UPDATE " + n + "] section; update " + n +
              " is not installed.");
  }
  log.Show("   A new update is available.");
  return UpdateCheck::kNewUpdate;
}

}  // namespace

UpdateCheck CheckForNewUpdate(const CommandContext& context,
                              const SettingsStore& store) {
  context.log.Show("Checking for a new update.");
  UpdateCheck result = UpdateCheck::kFailed;
  Result<ControlFileReader> reader = ControlFileReader::Open(
      UpdateControlFile(context.settings, context.server_flavour()));
  if (!reader.ok()) {
    RunTimeError(context.log, reader.failure());
  } else {
    result = Compare(context, store, reader.value());
  }
  context.log.Info(" ");
  return result;
}

UpdateOutcome ProcessUpdateControlFile(const CommandContext& context,
                                       SettingsStore& store) {
  RunLog& log = context.log;
  log.Show("Processing update control file.");
  UpdateOutcome outcome;
  Result<ControlFileReader> reader = ControlFileReader::Open(
      UpdateControlFile(context.settings, context.server_flavour()));
  if (!reader.ok()) {
    RunTimeError(log, reader.failure());
  } else {
    Installer installer(context, store);
    if (std::optional<Failure> f = installer.Run(reader.value())) {
      RunTimeError(log, *f);
    }
    outcome = installer.outcome();
  }
  log.Info("Processing of update control file complete.");
  return outcome;
}

}  // namespace mv
