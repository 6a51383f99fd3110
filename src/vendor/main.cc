// mvupdate-vendor: the vendor's side of the update site. publish adds a
// signed update, lint checks a site as installations read it, fleet shows
// what every customer's installation reports.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/about.h"
#include "system/date_time.h"
#include "system/files.h"
#include "system/text.h"
#include "update/signature.h"
#include "vendor/control_text.h"
#include "vendor/fleet.h"
#include "vendor/lint.h"
#include "vendor/minisign_key.h"
#include "vendor/publish.h"
#include "vendor/vendor_site.h"

namespace {

constexpr const char* kUsage =
    "usage: mvupdate-vendor publish SITE --secret-key FILE --comment TEXT\n"
    "                               [--run FILE] [--valid-days N] [--dry-run]"
    " FILE...\n"
    "       mvupdate-vendor lint SITE [--public-key FILE]\n"
    "       mvupdate-vendor fleet SITE [--csv FILE] [--html FILE] [--behind "
    "N]\n"
    "\n"
    "SITE is the site's root folder, or an ftp://, ftps:// (TLS required) or\n"
    "https:// (WebDAV) address; the login comes from MVUPDATE_VENDOR_USER and\n"
    "MVUPDATE_VENDOR_PASSWORD or ~/.netrc, --ca-file FILE names the CAs to\n"
    "trust. An encrypted secret key's password comes from\n"
    "MVUPDATE_VENDOR_KEY_PASSWORD or is asked on the terminal.\n"
    "\n"
    "Exit status: 0 done (lint: no fault), 1 failed (lint: faults found), 2\n"
    "for a command line that cannot be understood. See mvupdate-vendor(1).\n";

int UsageError(const std::string& why) {
  std::fprintf(stderr, "mvupdate-vendor: %s (try --help)\n", why.c_str());
  return 2;
}

int Failed(const std::string& why) {
  std::fprintf(stderr, "mvupdate-vendor: %s\n", why.c_str());
  return 1;
}

// The command line after the command's name: options with a value, flags,
// and the rest in order.
struct Args {
  std::vector<std::string> positional;
  std::vector<std::pair<std::string, std::string>> options;
  std::vector<std::string> flags;

  std::optional<std::string> Option(const std::string& name) const {
    std::optional<std::string> value;
    for (const auto& [n, v] : options) {
      if (n == name) value = v;
    }
    return value;
  }
  bool Flag(const std::string& name) const {
    for (const std::string& f : flags) {
      if (f == name) return true;
    }
    return false;
  }
};

// Parses `argv` against the options that take a value and the flags that
// the command knows; "" when all is well, else the complaint.
std::string Parse(const std::vector<std::string>& argv,
                  const std::vector<std::string>& valued,
                  const std::vector<std::string>& flags, Args& args) {
  for (size_t i = 0; i < argv.size(); ++i) {
    const std::string& a = argv[i];
    if (a.size() < 2 || a[0] != '-') {
      args.positional.push_back(a);
      continue;
    }
    bool known_flag = false, known_option = false;
    for (const std::string& f : flags) known_flag = known_flag || f == a;
    for (const std::string& o : valued) known_option = known_option || o == a;
    if (known_flag) {
      args.flags.push_back(a);
    } else if (known_option) {
      if (i + 1 >= argv.size()) return a + " needs a value";
      args.options.emplace_back(a, argv[++i]);
    } else {
      return "unknown argument '" + a + "'";
    }
  }
  return "";
}

std::optional<int> Number(const std::optional<std::string>& text) {
  if (!text || text->empty() ||
      text->find_first_not_of("0123456789") != std::string::npos ||
      text->size() > 6) {
    return std::nullopt;
  }
  return std::stoi(*text);
}

mv::SiteLogin Login(const Args& args) {
  mv::SiteLogin login;
  if (const char* user = std::getenv("MVUPDATE_VENDOR_USER")) {
    login.user = user;
  }
  if (const char* password = std::getenv("MVUPDATE_VENDOR_PASSWORD")) {
    login.password = password;
  }
  login.ca_file = args.Option("--ca-file").value_or("");
  return login;
}

int RunPublish(const Args& args, mv::VendorSite& site) {
  mv::PublishRequest request;
  request.files.assign(args.positional.begin() + 1, args.positional.end());
  request.comment = args.Option("--comment").value_or("");
  request.run = args.Option("--run").value_or("");
  request.dry_run = args.Flag("--dry-run");
  if (args.Option("--valid-days")) {
    request.valid_days = Number(args.Option("--valid-days"));
    if (!request.valid_days || *request.valid_days == 0) {
      return UsageError("publish: --valid-days needs a number of days");
    }
  }
  if (request.files.empty()) return UsageError("publish: no file named");
  if (!args.Option("--comment"))
    return UsageError("publish: --comment missing");
  std::optional<mv::SecretKey> key;
  if (!request.dry_run) {
    std::optional<std::string> key_file = args.Option("--secret-key");
    if (!key_file) return UsageError("publish: --secret-key missing");
    mv::Result<mv::SecretKey> read =
        mv::SecretKey::Read(*key_file, &mv::AskKeyPassword);
    if (!read.ok()) return Failed(read.failure().description());
    key.emplace(std::move(read.value()));
  }
  return mv::Publish(site, key ? &*key : nullptr, request, mv::UtcNow(),
                     std::cout, std::cerr);
}

int RunLint(const Args& args, mv::VendorSite& site) {
  std::optional<mv::PublicKey> key;
  if (std::optional<std::string> file = args.Option("--public-key")) {
    mv::Result<std::string> text = mv::ReadWholeFile(*file);
    if (!text.ok()) return Failed(*file + ": " + text.failure().description());
    // A .pub file (comment, key line) or the key line alone.
    for (std::string_view line : mv::SplitLines(text.value())) {
      if (!key) key = mv::ParsePublicKey(mv::TrimWhitespace(line));
    }
    if (!key) return Failed(*file + ": not a minisign public key");
  }
  std::vector<std::string> faults = mv::LintSite(site, key, mv::UtcNow());
  for (const std::string& fault : faults) std::cout << fault << "\n";
  if (faults.empty()) std::cout << "No faults.\n";
  if (!site.Lists()) {
    std::cerr << "mvupdate-vendor: customer folders not checked: a web site "
                 "gives no listing\n";
  }
  return faults.empty() ? 0 : 1;
}

// Writes through a temporary file renamed into place.
bool WriteOutput(const std::string& path, const std::string& text) {
  mv::Status st = mv::WriteFileAtomically(path, text);
  if (!st.ok()) Failed(path + ": " + st.failure().description());
  return st.ok();
}

int RunFleet(const Args& args, mv::VendorSite& site) {
  int behind = 14;
  if (args.Option("--behind")) {
    std::optional<int> n = Number(args.Option("--behind"));
    if (!n) return UsageError("fleet: --behind needs a number of days");
    behind = *n;
  }
  std::optional<int32_t> latest;
  mv::Result<std::optional<std::string>> control = site.Fetch(mv::kControlPath);
  if (control.ok() && control.value()) {
    std::vector<std::string> lines = mv::ControlLines(*control.value());
    if (!lines.empty()) latest = mv::AnnouncedUpdate(lines[0]);
  }
  mv::Result<std::vector<mv::FleetRow>> rows =
      mv::ReadFleet(site, latest, behind, mv::Now());
  if (!rows.ok()) return Failed(rows.failure().description());
  mv::WriteFleetTable(rows.value(), std::cout);
  if (std::optional<std::string> csv = args.Option("--csv")) {
    std::ostringstream text;
    mv::WriteFleetCsv(rows.value(), text);
    if (!WriteOutput(*csv, text.str())) return 1;
  }
  if (std::optional<std::string> html = args.Option("--html")) {
    std::ostringstream text;
    mv::WriteFleetHtml(rows.value(), latest, args.positional[0], text);
    if (!WriteOutput(*html, text.str())) return 1;
  }
  return 0;
}

struct Command {
  const char* name;
  std::vector<std::string> valued;
  std::vector<std::string> flags;
  int (*run)(const Args&, mv::VendorSite&);
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> argv_list(argv + 1, argv + argc);
  for (const std::string& a : argv_list) {
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (a == "--version") {
      std::fputs(mv::VersionText("mvupdate-vendor").c_str(), stdout);
      return 0;
    }
  }
  const Command commands[] = {
      {"publish",
       {"--secret-key", "--comment", "--run", "--valid-days", "--ca-file"},
       {"--dry-run"},
       RunPublish},
      {"lint", {"--public-key", "--ca-file"}, {}, RunLint},
      {"fleet", {"--csv", "--html", "--behind", "--ca-file"}, {}, RunFleet},
  };
  if (argv_list.empty()) return UsageError("no command");
  const Command* command = nullptr;
  for (const Command& c : commands) {
    if (argv_list[0] == c.name) command = &c;
  }
  if (!command) return UsageError("unknown command '" + argv_list[0] + "'");
  argv_list.erase(argv_list.begin());
  Args args;
  std::string complaint =
      Parse(argv_list, command->valued, command->flags, args);
  if (!complaint.empty()) {
    return UsageError(std::string(command->name) + ": " + complaint);
  }
  if (args.positional.empty()) {
    return UsageError(std::string(command->name) + ": no SITE named");
  }
  if (std::string(command->name) != "publish" && args.positional.size() > 1) {
    return UsageError(std::string(command->name) + ": unexpected argument '" +
                      args.positional[1] + "'");
  }
  mv::Result<std::unique_ptr<mv::VendorSite>> site =
      mv::OpenVendorSite(args.positional[0], Login(args));
  if (!site.ok()) return Failed(site.failure().description());
  if (mv::ToLowerAscii(args.positional[0].substr(0, 6)) == "ftp://") {
    std::fprintf(stderr,
                 "mvupdate-vendor: warning: ftp:// sends the login in clear; "
                 "ftps:// protects it\n");
  }
  return command->run(args, *site.value());
}
