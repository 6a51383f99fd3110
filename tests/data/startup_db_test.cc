// Start-up against a real database: the connection string built from the
// registry values, the password kept out of every text, and the console
// program end to end.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sstream>

#include "app/form.h"
#include "app/startup.h"
#include "support/postgres_server.h"
#include "support/recording_window.h"
#include "support/sandbox.h"

namespace mv {
namespace {

const CustomerRow kRow = {
    "C1", "ftp.c1.example",     "ftp2.c1.example", "user1", "ftp-secret-9",
    "5",  "2026-01-02 03:04:05"};

const std::vector<std::string> kLoadedBlock = {
    "[CUSTOMER FTP]",
    "Customer Number  : C1",
    "Host IP Address  : ftp.c1.example",
    "Alt IP Address   : ftp2.c1.example",
    "User Name        : user1",
    " "};

// The lines from "[CUSTOMER FTP]" on.
std::vector<std::string> CustomerBlock(const std::vector<std::string>& lines) {
  auto it = std::find(lines.begin(), lines.end(), "[CUSTOMER FTP]");
  return std::vector<std::string>(it, lines.end());
}

// The registry's server and database names go into the connection string as
// they are: a ";" starts a further attribute (with this driver a later
// attribute wins over an earlier one of the same name), blanks stay part of
// the name, braces are passed on to the driver.
TEST(StartUpDatabaseTest, RegistryValuesInTheConnectionString) {
  struct Case {
    const char* what;
    std::string db_server;
    std::string db_name;
    const char* failure;  // part of the Error line; "" when the row loads
  } cases[] = {
      {"plain values", "127.0.0.1", "Quillmere", ""},
      {"a semicolon adds an attribute", "127.0.0.1;database=Other", "Quillmere",
       ""},
      {"an added password overrides the login", "127.0.0.1",
       "Quillmere;pwd=other", "password authentication failed"},
      {"blanks around the server", " 127.0.0.1 ", "Quillmere",
       "[08001] could not translate host name \" 127.0.0.1 \""},
      {"a blank inside the name", "127.0.0.1", "Quill mere",
       "database \"Quill mere\" does not exist"},
      {"braces around the name", "127.0.0.1", "{Quillmere}",
       "database \"{Quillmere}\" does not exist"},
      {"an opening brace that is never closed", "{127.0.0.1", "Quillmere",
       "[08001] Connection string parse error"},
  };
  PostgresServer& pg = PostgresServer::Get();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox::Options o;
    o.db_server = c.db_server;
    o.db_name = c.db_name;
    Sandbox sb(o);
    pg.UseIn(sb.env());
    pg.CreateCustomerTable({}, {kRow});
    RecordingWindow window;
    Form form(window, sb.config());
    StartUp(form);
    std::vector<std::string> block = CustomerBlock(window.lines);
    if (*c.failure == '\0') {
      EXPECT_EQ(block, kLoadedBlock);
    } else {
      ASSERT_EQ(block.size(), 3u);
      EXPECT_NE(block[1].find(c.failure), std::string::npos) << block[1];
      EXPECT_EQ(block[2],
                "***Error SQL DB*** Could not load customer information.");
    }
  }
}

// Neither the login's password nor the customer's FTP password shows up in
// the list box, the event log or LastError, whatever happens.
TEST(StartUpDatabaseTest, PasswordsNeverShow) {
  struct Case {
    const char* what;
    std::string db_server;
    std::string db_name;
    std::function<void(PostgresServer&)> make;
    std::function<void(PostgresServer&)> undo;
  } cases[] = {
      {"loaded", "127.0.0.1", "Quillmere", [](PostgresServer&) {},
       [](PostgresServer&) {}},
      {"wrong password", "127.0.0.1", "Quillmere",
       [](PostgresServer& pg) {
         pg.ExecOrFail("ALTER ROLE qorin PASSWORD 'changed'", "postgres",
                       "postgres");
       },
       [](PostgresServer& pg) {
         pg.ExecOrFail("ALTER ROLE qorin PASSWORD 'wzq'", "postgres",
                       "postgres");
       }},
      {"unbalanced brace", "{127.0.0.1", "Quillmere", [](PostgresServer&) {},
       [](PostgresServer&) {}},
  };
  PostgresServer& pg = PostgresServer::Get();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox::Options o;
    o.db_server = c.db_server;
    o.db_name = c.db_name;
    Sandbox sb(o);
    pg.UseIn(sb.env());
    pg.CreateCustomerTable({}, {kRow});
    c.make(pg);
    RecordingWindow window;
    Form form(window, sb.config());
    StartUp(form);
    c.undo(pg);
    std::string everything =
        ReadFile(sb.event_log()) + "\n" + form.settings.LastError + "\n";
    for (const std::string& line : window.history) everything += line + "\n";
    EXPECT_EQ(everything.find("wzq"), std::string::npos) << everything;
    EXPECT_EQ(everything.find("ftp-secret-9"), std::string::npos) << everything;
    // The connection string itself stays as built.
    EXPECT_NE(form.settings.ConnectionString.find("pwd=wzq"),
              std::string::npos);
  }
}

std::vector<std::string> RunCli() {
  std::string cmd = std::string(MVUPDATE_CLI) + " 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  std::string out;
  if (p) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
  }
  std::vector<std::string> lines;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(StartUpDatabaseTest, ConsoleProgramListsTheCustomer) {
  Sandbox::Options o;
  o.db_server = "127.0.0.1";
  Sandbox sb(o);
  PostgresServer& pg = PostgresServer::Get();
  pg.UseIn(sb.env());
  pg.CreateCustomerTable({}, {kRow});
  EXPECT_EQ(CustomerBlock(RunCli()), kLoadedBlock);

  pg.CreateCustomerTable();
  EXPECT_EQ(
      CustomerBlock(RunCli()),
      (std::vector<std::string>{
          "[CUSTOMER FTP]",
          "!!! No entry exists in UpdateCustomerInfo table. !!! ",
          "...SELECT CustomerNum, FTPSiteAddress1, FTPSiteAddress2, "
          "UserName, Password, UpdateInstalled, LastUpdatedDate FROM "
          "qorin.UpdateCustomerInfo",
          " ", "***Error SQL DB*** Could not load customer information."}));
}

}  // namespace
}  // namespace mv
