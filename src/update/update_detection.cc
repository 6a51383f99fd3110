#include "update/update_detection.h"

#include <optional>
#include <string>

#include "app/form.h"
#include "app/run_log.h"
#include "data/customer_record.h"
#include "system/files.h"
#include "system/paths.h"
#include "update/command_interpreter.h"
#include "update/control_file.h"
#include "update/string_helpers.h"

namespace mv {

namespace {

constexpr std::string_view kApplication = "Qorin";
constexpr std::string_view kSection = "MVUpdate";
constexpr std::string_view kKey = "LastUpdateInstalled";

bool StartsWith(std::string_view text, std::string_view head) {
  return text.substr(0, head.size()) == head;
}

// A run-time error of detection or installation: kept in LastError and
// logged; the caller then goes to its closing line.
void RunTimeError(Form& form, const Failure& failure) {
  form.settings.LastError = "********** ERROR:" + failure.Text();
  LogError(form, failure.Text());
}

// Walks the sections of an update control file.
class Installer {
 public:
  explicit Installer(Form& form) : form_(form) {}
  // Gives the failure that ended the walk early, if any.
  std::optional<Failure> Run(ControlFileReader& reader);

 private:
  std::optional<Failure> Header(const std::string& line);
  void Command(const std::string& line, const std::string& key);
  std::optional<Failure> Record(int32_t n);

  Form& form_;
  int32_t installed_ = 0;
  int32_t current_ = 0;
  bool pending_ = false;
  bool server_block_ = false;
  bool client_block_ = false;
};

std::optional<Failure> Installer::Run(ControlFileReader& reader) {
  std::string line;
  reader.ReadLine(line);  // the announcement; not used here
  Result<int32_t> stored = ReadLastUpdateInstalled(form_);
  if (!stored.ok()) return stored.failure();
  installed_ = stored.value();
  while (reader.ReadLine(line)) {
    line = StripCharacter(line, "\t");
    std::string key = ToUpperAscii(TrimBlanks(line));
    if (StartsWith(key, "[UPDATE")) {
      if (std::optional<Failure> f = Header(line)) return f;
    } else if (pending_) {
      Command(line, key);
    }
  }
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
  form_.window.AddLine("   Installing update " + std::to_string(current_) +
                       "...");
  Status st =
      ChangeFolder(JoinPath(form_.settings.ApplicationPath,
                            form_.ServerFlavour() ? "\\Download" : "\\Update"));
  if (!st.ok()) return st.failure();
  return std::nullopt;
}

void Installer::Command(const std::string& line, const std::string& key) {
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
  int32_t type = form_.settings.InstallationType;
  bool runs = (!server_block_ && !client_block_) ||
              (server_block_ && type == 0) || (client_block_ && type == 1);
  if (!runs) return;
  std::string command = line;
  if (!ExecuteCommandLine(form_, command)) {
    LogError(form_, "Command failed. ");
    LogInfo(form_, command);
  }
}

std::optional<Failure> Installer::Record(int32_t n) {
  installed_ = n;
  // Without the stored number the next run would install this update
  // again; say so and stop rather than carry on unrecorded.
  if (Status st = StoreLastUpdateInstalled(form_, n); !st.ok()) {
    return st.failure();
  }
  UpdateCustomerInfoRecord(form_, n);
  form_.window.ReplaceLastLine("   Update " + std::to_string(n) +
                               " installed.");
  pending_ = false;
  return std::nullopt;
}

}  // namespace

Result<int32_t> ReadLastUpdateInstalled(Form& form) {
  Result<std::string> text =
      form.settings_store.GetSetting(kApplication, kSection, kKey, "0");
  if (!text.ok()) return text.failure();
  return ParseWholeNumber(text.value());
}

Status StoreLastUpdateInstalled(Form& form, int32_t n) {
  return form.settings_store.SaveSetting(kApplication, kSection, kKey,
                                         std::to_string(n));
}

bool CheckForNewUpdate(Form& form) {
  form.window.AddLine("Checking for a new update.");
  bool result = false;
  Result<ControlFileReader> reader =
      ControlFileReader::Open(UpdateControlFile(form));
  if (!reader.ok()) {
    RunTimeError(form, reader.failure());
  } else {
    std::string first;
    reader.value().ReadLine(first);
    if (ToUpperAscii(first.substr(0, 11)) == "LASTUPDATE=") {
      Result<int32_t> latest = ControlNumber(MidFrom(first, 12));
      Result<int32_t> installed = latest.ok()
                                      ? ReadLastUpdateInstalled(form)
                                      : Result<int32_t>(latest.failure());
      if (!installed.ok()) {
        RunTimeError(form, installed.failure());
      } else if (latest.value() <= installed.value()) {
        form.window.AddLine("   This system is up-to-date.");
      } else {
        form.window.AddLine("   A new update is available.");
        result = true;
      }
    }
  }
  LogInfo(form, " ");
  return result;
}

void ProcessUpdateControlFile(Form& form) {
  form.window.AddLine("Processing update control file.");
  Result<ControlFileReader> reader =
      ControlFileReader::Open(UpdateControlFile(form));
  if (!reader.ok()) {
    RunTimeError(form, reader.failure());
  } else if (std::optional<Failure> f = Installer(form).Run(reader.value())) {
    RunTimeError(form, *f);
  }
  LogInfo(form, "Processing of update control file complete.");
}

}  // namespace mv
