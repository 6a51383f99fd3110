// A real PostgreSQL 15 server for tests that reach the suite database
// through ODBC.
//
// One server per test process, started at the first PostgresServer::Get()
// and stopped when the process ends, however it ends: a small watchdog
// process, which waits on a pipe that only this process holds open, stops
// the server and removes its folder. Under ctest the first process of a
// build leaves a copy of its fresh cluster in the build folder
// (postgres-template-1) and later processes start from a copy of it, which
// saves initdb's time. The server runs from a temporary folder
// (owned by the user "postgres" when the tests run as root, since PostgreSQL
// refuses to run as root), listens on 127.0.0.1 only, on a free port, and
// keeps its socket in that folder.
//
// It holds the role qorin (password wzq), the database "Quillmere" (with its
// capital, as the suite names it) owned by qorin, and the schema qorin, so
// that both qorin.UpdateCustomerInfo and the bare UpdateCustomerInfo name the
// customer table. A private odbcinst.ini registers the psqlODBC driver under
// the name "SQL Server", so the utility's own connection string works
// unchanged; the port reaches the driver through PGPORT.
//
// Typical use:
//
//   Sandbox sb;
//   PostgresServer& pg = PostgresServer::Get();
//   pg.UseIn(sb.env());                 // ODBCSYSINI and PGPORT
//   pg.CreateCustomerTable({}, {{"C1", "ftp.example", std::nullopt, ...}});
//   ... run the code under test with PostgresServer::ConnectionString() ...
//   EXPECT_EQ(pg.CustomerRows(), ...);
#ifndef MVUPDATE_TESTS_SUPPORT_POSTGRES_SERVER_H_
#define MVUPDATE_TESTS_SUPPORT_POSTGRES_SERVER_H_

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

#include "support/sandbox.h"
#include "system/failure.h"

namespace mv {

// One row of UpdateCustomerInfo; nullopt is NULL. Values are given as text
// and converted by the server to the column's type.
struct CustomerRow {
  std::optional<std::string> CustomerNum;
  std::optional<std::string> FTPSiteAddress1;
  std::optional<std::string> FTPSiteAddress2;
  std::optional<std::string> UserName;
  std::optional<std::string> Password;
  std::optional<std::string> UpdateInstalled;
  std::optional<std::string> LastUpdatedDate;
};

// SQL types of the columns of UpdateCustomerInfo, for tables that differ
// from the usual one (a text UpdateInstalled, a short CustomerNum...).
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
  // The server of this test process, started on first use. A server that
  // cannot be started ends the process with a message.
  static PostgresServer& Get();

  PostgresServer(const PostgresServer&) = delete;
  PostgresServer& operator=(const PostgresServer&) = delete;
  ~PostgresServer();

  int port() const { return port_; }
  // The folder holding the private odbcinst.ini.
  std::string odbc_folder() const;
  // The server's own log file, for diagnosing a failed test.
  std::string log_file() const;

  // The utility's connection string for the given server and database.
  static std::string ConnectionString(
      const std::string& server = "127.0.0.1",
      const std::string& database = "Quillmere");

  // Points ODBCSYSINI at the private odbcinst.ini and PGPORT at the server
  // for the life of `env`. Call it before the process makes its first ODBC
  // call: the driver manager reads ODBCSYSINI only once per process.
  void UseIn(ScopedEnv& env) const;

  // Runs `sql` (one or more statements) through psql as `role` in
  // `database`, over the server's socket. Gives psql's output (one line per
  // row, fields separated by "|", no headers), or a failure holding psql's
  // error message.
  Result<std::string> Exec(const std::string& sql,
                           const std::string& role = "qorin",
                           const std::string& database = "Quillmere");
  // The same, recording a test failure when the SQL fails.
  std::string ExecOrFail(const std::string& sql,
                         const std::string& role = "qorin",
                         const std::string& database = "Quillmere");

  // Drops qorin.UpdateCustomerInfo if it exists and creates it holding
  // `rows`, in that order.
  void CreateCustomerTable(const CustomerColumnTypes& types = {},
                           const std::vector<CustomerRow>& rows = {});
  // Drops it.
  void DropCustomerTable();
  // Inserts one row.
  void InsertCustomer(const CustomerRow& row);
  // Every row in the order in which a query without ORDER BY returns them
  // now (insertion order on a fresh table; an updated row moves to the
  // end), as psql prints it: "C1|ftp.example||user|pw|5|2026-01-02
  // 03:04:05", NULL as "".
  std::vector<std::string> CustomerRows();

  // Stops the server (connections then fail at once: nothing listens on the
  // port) and starts it again on the same port.
  void Stop();
  void Start();
  bool running() const { return running_; }

 private:
  PostgresServer();
  void Boot();
  void MakeCluster();
  void Publish(const std::string& templ);
  bool StartOnPort(int port);
  void StartWatchdog();
  std::vector<std::string> AsServerUser(std::vector<std::string> argv) const;
  int RunServerCommand(const std::vector<std::string>& argv,
                       std::string* output) const;

  std::string folder_;
  int port_ = 0;
  bool running_ = false;
  int watchdog_pipe_ = -1;  // write end; closing it stops the server
  pid_t watchdog_pid_ = -1;
};

// A port on 127.0.0.1 that accepts connections (the kernel completes them)
// but never answers: a server that hangs. Closed when the object goes.
class SilentListener {
 public:
  SilentListener();
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;
  ~SilentListener();
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// SQL text literal: 'text' with quotes doubled.
std::string SqlLiteral(const std::string& text);

}  // namespace mv

#endif  // MVUPDATE_TESTS_SUPPORT_POSTGRES_SERVER_H_
