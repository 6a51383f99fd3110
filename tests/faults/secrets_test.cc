// No password leaves the utility: after update runs that succeed and runs
// that fail (a refused login, an unknown database), every byte it wrote is
// searched for the FTP password and the database password, as written and
// in the forms a URL or a connection string would give them: its standard
// output (the list box) and error, every file of the installation (event
// log, status report, settings, work folders) and what the FTP site
// received (its command log, PASS aside, and the files uploaded to it).
#include <gtest/gtest.h>

#include <filesystem>

#include "support/child_process.h"
#include "support/ftp_server.h"
#include "support/postgres_server.h"
#include "support/sandbox.h"

namespace mv {
namespace {

namespace fs = std::filesystem;

// "pa ss:w@rd/1" as a URL carries it.
std::string PercentEncoded(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
      out.push_back(static_cast<char>(c));
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

class SecretsTest : public ::testing::Test {
 protected:
  SecretsTest() : site_(FtpServer::Shared()), pg_(PostgresServer::Get()) {
    EXPECT_TRUE(site_.ok()) << site_.error();
    site_.Reset();
    for (const std::string& secret :
         {site_.password(), std::string(kDatabasePassword)}) {
      secrets_.push_back(secret);
      secrets_.push_back(PercentEncoded(secret));
    }
  }

  static constexpr const char* kDatabasePassword = "wzq";

  // Every place of `text` where a secret stands, described for a failure.
  void Scan(const std::string& where, const std::string& text) {
    ++places_;
    for (const std::string& secret : secrets_) {
      if (text.find(secret) != std::string::npos) {
        ADD_FAILURE() << where << " holds the secret '" << secret << "'";
      }
    }
  }

  void ScanFolder(const std::string& folder) {
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
      if (e.is_regular_file()) Scan(e.path().string(), ReadFile(e.path()));
    }
  }

  void ScanRun(Sandbox& sb, const std::vector<std::string>& argv) {
    ChildProcess cli(argv);
    int status = cli.Wait();
    // 0 or 1 (Error lines); anything else is a crash or a sanitizer report.
    EXPECT_TRUE(status == 0 || status == 1) << status << "\n" << cli.err();
    Scan("standard output", cli.out());
    Scan("standard error", cli.err());
    ScanFolder(sb.root());
    ScanFolder(site_.root());
    for (const std::string& command : site_.Commands()) {
      if (command.rfind("PASS", 0) != 0) Scan("FTP command", command);
    }
  }

  FtpServer& site_;
  PostgresServer& pg_;
  std::vector<std::string> secrets_;
  int places_ = 0;
};

TEST_F(SecretsTest, NoPasswordInAnythingWritten) {
  site_.Put("Merivane/C1001/MVControl.dat", "customer control file\r\n");
  site_.Put("Merivane/Update/MVUpdate.dat",
            "LASTUPDATE=1\r\n[UPDATE 1]\r\nDOWNLOAD readme.txt\r\n"
            "FTPGET missing.txt\r\nFTPPUT readme.txt\r\n");
  site_.Put("Merivane/Update/readme.txt", "read me\r\n");

  struct Case {
    const char* what;
    std::string password;  // of the customer's row
    std::string database;
    std::vector<std::string> args;
  } cases[] = {
      {"a whole update", site_.password(), "Quillmere", {"update"}},
      {"the alternate site",
       site_.password(),
       "Quillmere",
       {"update", "--alternate"}},
      {"a refused login", site_.password() + "x", "Quillmere", {"update"}},
      {"an unknown database", site_.password(), "Nowhere", {"update"}},
      {"Reset Last Update", site_.password(), "Quillmere", {"reset"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox::Options o;
    o.computer_name = "127.0.0.1";
    o.db_server = "127.0.0.1";
    o.db_name = c.database;
    Sandbox sb(o);
    pg_.UseIn(sb.env());
    sb.env().Set("MVUPDATE_RUN_WAIT_SECONDS", "0");
    // Without the customer's row the default sites are used: kept on this
    // machine.
    std::string nowhere = "127.0.0.1:" + std::to_string(RefusingPort());
    sb.env().Set("MVUPDATE_DEFAULT_FTP_PRIMARY", nowhere);
    sb.env().Set("MVUPDATE_DEFAULT_FTP_ALTERNATE", nowhere);
    pg_.CreateCustomerTable(
        {}, {{"C1001", site_.host(), site_.host(), site_.user(), c.password,
              "0", std::nullopt}});
    site_.ClearCommands();
    std::vector<std::string> argv = {MVUPDATE_CLI};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    ScanRun(sb, argv);
    // The scan saw the run's traces, and the secret was there to leak.
    EXPECT_TRUE(fs::exists(sb.event_log()));
    if (c.database == "Quillmere" && c.args[0] == "update") {
      EXPECT_GE(site_.Count("PASS"), 1);
    }
  }
  EXPECT_TRUE(fs::exists(site_.Path("Merivane/Update/readme.txt")));
  EXPECT_GT(places_, 20);
}

}  // namespace
}  // namespace mv
