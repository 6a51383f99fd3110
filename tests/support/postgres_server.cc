#include "support/postgres_server.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/child_process.h"
#include "support/ftp_server.h"

namespace mv {

namespace {

constexpr char kBin[] = "/usr/lib/postgresql/15/bin";
constexpr char kDriver[] = "/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so";

[[noreturn]] void Fatal(const std::string& why) {
  std::fprintf(stderr, "PostgresServer: %s\n", why.c_str());
  std::exit(1);
}

// A program of the database, as the user postgres when we are root (the
// server refuses to run as root), its output to `log`. A server is stopped
// by the kernel (SIGQUIT, an immediate shutdown) when we end, however we end.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& log,
            bool server) {
  return SpawnProgram(
      argv,
      {.out = log, .user = "postgres", .death_signal = server ? SIGQUIT : 0});
}

// Runs a program of the database to its end: its exit status (-1 when it
// did not exit) and its output.
std::pair<int, std::string> RunToEnd(const std::vector<std::string>& argv,
                                     const std::string& folder) {
  static int serial = 0;
  std::string log = folder + "/run-" + std::to_string(++serial) + ".out";
  int st = 0;
  pid_t pid = Spawn(argv, log, false);
  int status = pid > 0 && ::waitpid(pid, &st, 0) == pid && WIFEXITED(st)
                   ? WEXITSTATUS(st)
                   : -1;
  std::string out = ReadFile(log);
  ::unlink(log.c_str());
  return {status, out};
}

// A SQL text literal, quotes doubled, or NULL.
std::string Quoted(const std::optional<std::string>& v) {
  if (!v) return "NULL";
  std::string out = "'";
  for (char c : *v) out += c == '\'' ? "''" : std::string(1, c);
  return out + "'";
}

}  // namespace

PostgresServer& PostgresServer::Get() {
  static PostgresServer server;
  return server;
}

PostgresServer::PostgresServer() {
  char pattern[] = "/tmp/mvpg-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) Fatal("cannot make a temporary folder");
  folder_ = pattern;
  if (passwd* pw = ::geteuid() == 0 ? ::getpwnam("postgres") : nullptr;
      pw && ::chown(folder_.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
    Fatal("cannot give " + folder_ + " to postgres");
  }
  auto [status, out] =
      RunToEnd({std::string(kBin) + "/initdb", "-D", folder_ + "/data", "-N",
                "-U", "postgres", "--auth-local=trust",
                "--auth-host=scram-sha-256", "-E", "UTF8", "--locale=C"},
               folder_);
  if (status != 0) Fatal("initdb failed: " + out);
  for (int attempt = 0; attempt < 5 && !running(); ++attempt) {
    port_ = RefusingPort();
    Start();
  }
  if (!running()) Fatal("the server did not start; see " + log_file());
  for (auto [sql, role, database] :
       {std::tuple{"CREATE ROLE qorin LOGIN PASSWORD 'wzq';", "postgres",
                   "postgres"},
        {"CREATE DATABASE \"Quillmere\" OWNER qorin;", "postgres", "postgres"},
        {"CREATE SCHEMA qorin AUTHORIZATION qorin;", "qorin", "Quillmere"}}) {
    Result<std::string> r = Exec(sql, role, database);
    if (!r.ok()) Fatal(r.failure().description());
  }
  std::filesystem::create_directories(odbc_folder());
  std::ofstream(odbc_folder() + "/odbcinst.ini")
      << "[SQL Server]\nDescription=PostgreSQL for tests\nDriver=" << kDriver
      << "\n";
}

PostgresServer::~PostgresServer() {
  Stop();
  std::filesystem::remove_all(folder_);
}

std::string PostgresServer::ConnectionString(const std::string& server,
                                             const std::string& database) {
  return "driver={SQL Server};server=" + server +
         ";uid=qorin;pwd=wzq;database=" + database;
}

void PostgresServer::UseIn(ScopedEnv& env) const {
  env.Set("ODBCSYSINI", odbc_folder());
  env.Set("PGPORT", std::to_string(port_));
}

void PostgresServer::Start() {
  if (running()) return;
  pid_ = Spawn({std::string(kBin) + "/postgres", "-D", folder_ + "/data", "-c",
                "listen_addresses=127.0.0.1", "-p", std::to_string(port_), "-k",
                folder_, "-c", "fsync=off", "-c", "full_page_writes=off"},
               log_file(), true);
  // Ready when it accepts sessions, which comes after its socket.
  bool up = WaitUntil([&] {
    return ::waitpid(pid_, nullptr, WNOHANG) != 0 ||
           RunToEnd({std::string(kBin) + "/pg_isready", "-q", "-h", folder_,
                     "-p", std::to_string(port_)},
                    folder_)
                   .first == 0;
  });
  if (!up || ::waitpid(pid_, nullptr, WNOHANG) != 0) pid_ = -1;
  if (!running()) ADD_FAILURE() << "the server did not start; " << log_file();
}

// A fast shutdown: the sessions are ended, the server is gone on return.
void PostgresServer::Stop() {
  if (!running()) return;
  ::kill(pid_, SIGINT);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

Result<std::string> PostgresServer::Exec(const std::string& sql,
                                         const std::string& role,
                                         const std::string& database) {
  static int serial = 0;
  std::string file = folder_ + "/exec-" + std::to_string(++serial) + ".sql";
  // Notices (a table that is not there to drop) would mix with the rows.
  std::ofstream(file, std::ios::binary | std::ios::trunc)
      << "SET client_min_messages = warning;\n"
      << sql << "\n";
  ::chmod(file.c_str(), 0644);
  auto [status, out] =
      RunToEnd({std::string(kBin) + "/psql", "-X", "-q", "-A", "-t", "-v",
                "ON_ERROR_STOP=1", "-h", folder_, "-p", std::to_string(port_),
                "-U", role, "-d", database, "-f", file},
               folder_);
  ::unlink(file.c_str());
  if (status != 0) return Failure(kDatabaseError, "psql: " + out);
  return out;
}

std::string PostgresServer::ExecOrFail(const std::string& sql,
                                       const std::string& role,
                                       const std::string& database) {
  Result<std::string> r = Exec(sql, role, database);
  if (!r.ok()) {
    ADD_FAILURE() << r.failure().description() << "\nSQL: " << sql;
    return "";
  }
  return r.value();
}

void PostgresServer::CreateCustomerTable(const CustomerColumnTypes& t,
                                         const std::vector<CustomerRow>& rows) {
  std::string sql =
      "DROP TABLE IF EXISTS qorin.UpdateCustomerInfo;"
      "CREATE TABLE qorin.UpdateCustomerInfo (CustomerNum " +
      t.CustomerNum + ", FTPSiteAddress1 " + t.FTPSiteAddress1 +
      ", FTPSiteAddress2 " + t.FTPSiteAddress2 + ", UserName " + t.UserName +
      ", Password " + t.Password + ", UpdateInstalled " + t.UpdateInstalled +
      ", LastUpdatedDate " + t.LastUpdatedDate + ");";
  for (const CustomerRow& r : rows) {
    sql += "INSERT INTO qorin.UpdateCustomerInfo VALUES (" +
           Quoted(r.CustomerNum) + ", " + Quoted(r.FTPSiteAddress1) + ", " +
           Quoted(r.FTPSiteAddress2) + ", " + Quoted(r.UserName) + ", " +
           Quoted(r.Password) + ", " + Quoted(r.UpdateInstalled) + ", " +
           Quoted(r.LastUpdatedDate) + ");";
  }
  ExecOrFail(sql);
}

}  // namespace mv
