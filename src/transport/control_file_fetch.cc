#include "transport/control_file_fetch.h"

#include <optional>
#include <string>
#include <vector>

#include "system/file_io.h"
#include "system/files.h"
#include "system/paths.h"
#include "system/text.h"
#include "update/control_file.h"
#include "update/signature.h"

namespace mv {

namespace {

constexpr std::string_view kCustomerFile = "MVControl.dat";
constexpr std::string_view kUpdateFile = "MVUpdate.dat";
constexpr std::string_view kAlternatePrefix = "..........: ";
constexpr std::string_view kShareAdvice =
    "Could not copy file from server, make sure the Update folder is shared "
    "as MVUpdate.";

// A change of the remote folder before the download.
struct DirectoryStep {
  std::string folder;
  std::string done_line;  // logged when the change worked ("" for none)
  // A required change that fails ends the fetch with an Error line; any
  // other failure only skips the steps after it.
  bool required = false;
};

// Everything in which the four fetches differ.
struct FetchPlan {
  std::string_view file;
  std::string shown_first;  // a list-only line before anything else
  std::string lead_line;    // logged before the folder changes
  std::vector<DirectoryStep> directories;
  std::string after_directories;  // logged after them
  std::string got_line;
  std::string copied_line;
  std::string not_got_line;  // the download failed
  std::string copy_failure_prefix;
  std::string share_prefix;  // in front of the three share lines
  std::string share_advice;  // replaces a 75 from the share ("": the failure)
  std::string closing_line;
};

// <app>/Update/<file>: where every fetch leaves its file.
std::string UpdateCopy(const RunContext& run, std::string_view file) {
  return run.settings.App("\\Update\\" + std::string(file));
}

// \\<ServerName>\MVUpdate\<file> on this machine.
std::string ShareCopy(const RunContext& run, std::string_view file) {
  return NativePath("\\\\" + run.settings.server_name + "\\MVUpdate\\" +
                    std::string(file));
}

FetchPlan CustomerPlan(const RunContext& run, bool alternate) {
  FetchPlan plan;
  plan.file = kCustomerFile;
  std::string getting = "Getting MVControl.dat from FTPSite ";
  if (alternate) {
    plan.lead_line = getting;
    plan.directories = {{"Merivane", "changed to Merivane "},
                        {"Update", "changed to Update "}};
    plan.not_got_line = "Could not get file (MVControl.dat).";
    plan.share_prefix = kAlternatePrefix;
  } else {
    std::string number = TrimSpaces(run.customer.customer_number);
    plan.lead_line = "Changing directory on FTPSite to " + number;
    plan.directories = {{number, "", true}};
    plan.after_directories = getting;
    plan.not_got_line = "!!! Could not get file (MVControl.dat).";
    plan.copy_failure_prefix = "!!! ERROR:";
  }
  plan.got_line = "Got MVControl.dat";
  plan.copied_line = "Copied to Update folder.";
  // A char: g++ 12 at -O3 reports a false -Wrestrict for the assignment of a
  // one-character literal (GCC bug 105329).
  plan.closing_line = ' ';
  return plan;
}

FetchPlan UpdatePlan(const RunContext& run, bool alternate) {
  FetchPlan plan;
  plan.file = kUpdateFile;
  std::string prefix(alternate ? kAlternatePrefix : "");
  std::string marks(alternate ? "" : "!!! ");
  if (!alternate) {
    plan.shown_first = "Getting update control file.";
    plan.directories = {{"..\\Update", "", true}};
  }
  plan.got_line = prefix + "got MVUpdate.dat";
  plan.copied_line =
      prefix + "copied to folder (" + UpdateCopy(run, kUpdateFile) + ").";
  plan.not_got_line = marks + "Could not get file (MVUpdate.dat).";
  plan.share_prefix = prefix;
  plan.share_advice = marks + std::string(kShareAdvice);
  plan.closing_line =
      alternate ? " " : "Getting of update control file complete.";
  return plan;
}

void LogCopyFailure(const RunContext& run, const FetchPlan& plan,
                    const Failure& failure) {
  run.log.Error(plan.copy_failure_prefix + failure.Text());
}

// The client flavour: a copy from the server's share.
bool CopyFromShare(const RunContext& run, const FetchPlan& plan) {
  run.log.Info(plan.share_prefix + "Copy to client from server.");
  run.log.Info(plan.share_prefix + "Server: " + ShareCopy(run, plan.file));
  run.log.Info(plan.share_prefix + "Client: " + UpdateCopy(run, plan.file));
  Status st =
      run.env.CopyFile(ShareCopy(run, plan.file), UpdateCopy(run, plan.file),
                       nullptr, kMaxControlFileBytes);
  if (st.ok()) return true;
  // 75 means the share is not there, which gets advice instead.
  if (!plan.share_advice.empty() &&
      st.failure().number() == kPathFileAccessError) {
    run.log.Error(plan.share_advice);
  } else {
    LogCopyFailure(run, plan, st.failure());
  }
  return false;
}

// The server flavour: folder changes, then a download into the current
// directory, copied on to Update.
bool DownloadFromSite(const RunContext& run, const FetchPlan& plan) {
  if (!plan.lead_line.empty()) run.log.Info(plan.lead_line);
  for (const DirectoryStep& step : plan.directories) {
    if (run.site.ChangeDirectory(step.folder)) {
      if (!step.done_line.empty()) run.log.Info(step.done_line);
    } else if (step.required) {
      run.log.Error("!!! Could not change directories (" + step.folder + ").");
      return false;
    } else {
      break;
    }
  }
  if (!plan.after_directories.empty()) run.log.Info(plan.after_directories);
  if (!run.site.GetFile(plan.file, plan.file)) {
    run.log.Error(plan.not_got_line);
    return false;
  }
  run.log.Info(plan.got_line);
  Status st = run.env.CopyFile(std::string(plan.file),
                               UpdateCopy(run, plan.file), nullptr, 0);
  if (!st.ok()) {
    LogCopyFailure(run, plan, st.failure());
    return false;
  }
  run.log.Info(plan.copied_line);
  return true;
}

// The signature of the update control file travels with it: from the site
// to the server's Update folder, from there to the clients. A file the site
// does not hold is no failure here (the signature check decides whether
// one is needed), but a stale copy of an earlier run must not stay.
void FetchSignature(const RunContext& run, const FetchPlan& plan) {
  std::string name = std::string(kUpdateFile) + ".minisig";
  std::string update_copy = UpdateCopy(run, name);
  bool got = false;
  if (run.server_flavour()) {
    run.env.RemoveFile(ResolveCase(NativePath(name)));
    got = run.site.GetFileIfPresent(name, name) == SiteSession::Presence::kGot;
    Status st =
        got ? run.env.CopyFile(NativePath(name), update_copy, nullptr, 0)
            : Status::Ok();
    if (!st.ok()) run.log.Error(st.failure().Text());
  } else if (PathExists(ResolveCase(ShareCopy(run, name)))) {
    Status st = run.env.CopyFile(ShareCopy(run, name), update_copy, nullptr,
                                 kMaxSignatureBytes);
    got = st.ok();
    if (!got) run.log.Error(st.failure().Text());
  }
  if (got) {
    run.log.Info(plan.share_prefix + "got " + name);
  } else {
    run.env.RemoveFile(ResolveCase(update_copy));
  }
}

bool Fetch(const RunContext& run, const FetchPlan& plan) {
  if (!plan.shown_first.empty()) run.log.Show(plan.shown_first);
  bool result;
  {
    // A control file is small; a site or share that sends something much
    // larger is not serving one.
    SessionScope scope(run.site, kLevelError, kMaxControlFileBytes);
    result = run.server_flavour() ? DownloadFromSite(run, plan)
                                  : CopyFromShare(run, plan);
  }
  if (result && plan.file == kUpdateFile) {
    SessionScope scope(run.site, kLevelError, kMaxSignatureBytes);
    FetchSignature(run, plan);
  }
  run.log.Info(plan.closing_line);
  return result;
}

}  // namespace

bool GetCustomerControlFile(const RunContext& run) {
  return Fetch(run, CustomerPlan(run, false));
}

bool GetAlternateCustomerControlFile(const RunContext& run) {
  return Fetch(run, CustomerPlan(run, true));
}

bool GetUpdateControlFile(const RunContext& run) {
  return Fetch(run, UpdatePlan(run, false));
}

bool GetAlternateUpdateControlFile(const RunContext& run) {
  return Fetch(run, UpdatePlan(run, true));
}

}  // namespace mv
