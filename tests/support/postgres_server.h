// A real PostgreSQL 15 server for tests that reach the suite database
// through ODBC: one per test process, on 127.0.0.1 on a free port, a child
// of the test process that the kernel stops however the process ends. It
// holds the role qorin (password wzq),
// the database "Quillmere" and the schema qorin, so that both
// qorin.UpdateCustomerInfo and the bare UpdateCustomerInfo name the customer
// table; a private odbcinst.ini registers the psqlODBC driver as "SQL
// Server", so the utility's own connection string works unchanged.
#ifndef MVUPDATE_TESTS_SUPPORT_POSTGRES_SERVER_H_
#define MVUPDATE_TESTS_SUPPORT_POSTGRES_SERVER_H_

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "support/sandbox.h"
#include "system/failure.h"

namespace mv {

// One row of UpdateCustomerInfo; nullopt is NULL. The server converts the
// texts to the columns' types.
struct CustomerRow {
  std::optional<std::string> CustomerNum;
  std::optional<std::string> FTPSiteAddress1;
  std::optional<std::string> FTPSiteAddress2;
  std::optional<std::string> UserName;
  std::optional<std::string> Password;
  std::optional<std::string> UpdateInstalled;
  std::optional<std::string> LastUpdatedDate;
};

// SQL types of the columns, for tables that differ from the usual one.
struct CustomerColumnTypes {
  std::string CustomerNum = "varchar(20)";
  std::string FTPSiteAddress1 = "varchar(100)";
  std::string FTPSiteAddress2 = "varchar(100)";
  std::string UserName = "varchar(50)";
  std::string Password = "varchar(50)";
  std::string UpdateInstalled = "integer";
  std::string LastUpdatedDate = "timestamp";
};

class PostgresServer {
 public:
  // Started on first use; a server that cannot start ends the process.
  static PostgresServer& Get();

  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;
  ~PostgresServer();

  // The folder holding the private odbcinst.ini.
  std::string odbc_folder() const { return folder_ + "/odbc"; }

  static std::string ConnectionString(
      const std::string& server = "127.0.0.1",
      const std::string& database = "Quillmere");

  // Sets ODBCSYSINI and PGPORT for the life of `env`. Call it before the
  // process's first ODBC call: the driver manager reads ODBCSYSINI once.
  void UseIn(ScopedEnv& env) const;

  // Runs `sql` through psql as `role` in `database`: psql's output (one line
  // per row, fields separated by "|", no headers), or its error message.
  Result<std::string> Exec(const std::string& sql,
                           const std::string& role = "qorin",
                           const std::string& database = "Quillmere");
  // The same, recording a test failure when the SQL fails.
  std::string ExecOrFail(const std::string& sql,
                         const std::string& role = "qorin",
                         const std::string& database = "Quillmere");

  // (Re)creates qorin.UpdateCustomerInfo holding `rows`, in that order.
  void CreateCustomerTable(const CustomerColumnTypes& types = {},
                           const std::vector<CustomerRow>& rows = {});

  // Stops the server (connections then fail at once) and starts it again on
  // the same port.
  void Stop();
  void Start();

 private:
  PostgresServer();
  bool running() const { return pid_ > 0; }
  std::string log_file() const { return folder_ + "/server.log"; }

  std::string folder_;
  int port_ = 0;
  pid_t pid_ = -1;  // the server, run in the foreground as our child
};

}  // namespace mv

#endif  // MVUPDATE_TESTS_SUPPORT_POSTGRES_SERVER_H_
