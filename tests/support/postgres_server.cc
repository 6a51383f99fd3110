#include "support/postgres_server.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/ftp_server.h"

namespace mv {

namespace {

constexpr char kBin[] = "/usr/lib/postgresql/15/bin";
constexpr char kDriver[] = "/usr/lib/x86_64-linux-gnu/odbc/psqlodbcw.so";

bool RunningAsRoot() { return ::geteuid() == 0; }

[[noreturn]] void Fatal(const std::string& why) {
  std::fprintf(stderr, "PostgresServer: %s\n", why.c_str());
  std::exit(1);
}

struct ProcessResult {
  int status = -1;  // exit status, -1 when it did not exit normally
  std::string out;  // standard output and error
};

// Executes argv[0], searched on PATH, in this process.
[[noreturn]] void Run(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) {
    args.push_back(const_cast<char*>(a.c_str()));
  }
  args.push_back(nullptr);
  ::execvp(args[0], args.data());
  ::_exit(127);
}

// Runs argv[0] in `cwd` and collects its outputs.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::string& cwd) {
  ProcessResult r;
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return r;
  pid_t pid = ::fork();
  if (pid == 0) {
    int in = ::open("/dev/null", O_RDONLY);
    if (in < 0 || ::dup2(in, 0) < 0 || ::dup2(out[1], 1) < 0 ||
        ::dup2(out[1], 2) < 0 || ::chdir(cwd.c_str()) != 0) {
      ::_exit(127);
    }
    Run(argv);
  }
  ::close(out[1]);
  char buf[4096];
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) {
    r.out.append(buf, static_cast<size_t>(n));
  }
  ::close(out[0]);
  int st = 0;
  if (pid > 0 && ::waitpid(pid, &st, 0) == pid && WIFEXITED(st)) {
    r.status = WEXITSTATUS(st);
  }
  return r;
}

// A SQL text literal, quotes doubled, or NULL.
std::string Quoted(const std::optional<std::string>& v) {
  if (!v) return "NULL";
  std::string out = "'";
  for (char c : *v) {
    out.push_back(c);
    if (c == '\'') out.push_back('\'');
  }
  return out + "'";
}

}  // namespace

PostgresServer& PostgresServer::Get() {
  static PostgresServer server;
  return server;
}

PostgresServer::~PostgresServer() {
  // Waiting for the watchdog leaves nothing behind when the process ends.
  if (watchdog_pipe_ >= 0) ::close(watchdog_pipe_);
  if (watchdog_pid_ > 0) ::waitpid(watchdog_pid_, nullptr, 0);
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

std::vector<std::string> PostgresServer::AsServerUser(
    std::vector<std::string> argv) const {
  if (RunningAsRoot()) {
    argv.insert(argv.begin(), {"/usr/sbin/runuser", "-u", "postgres", "--"});
  }
  return argv;
}

std::vector<std::string> PostgresServer::PgCtlArgv(
    const std::vector<std::string>& args) const {
  std::vector<std::string> argv = {std::string(kBin) + "/pg_ctl", "-D",
                                   folder_ + "/data"};
  argv.insert(argv.end(), args.begin(), args.end());
  return AsServerUser(argv);
}

// Folder of the cluster template that the test processes of one build
// share, or "" outside ctest. Rename the folder when the set-up changes.
std::string TemplateFolder() {
  const char* dir = std::getenv("MVUPDATE_TEST_BINARY_DIR");
  return dir && *dir ? std::string(dir) + "/postgres-template-1" : "";
}

PostgresServer::PostgresServer() {
  char pattern[] = "/tmp/mvpg-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) Fatal("cannot make a temporary folder");
  folder_ = pattern;
  StartWatchdog();
  if (RunningAsRoot()) {
    passwd* pw = ::getpwnam("postgres");
    if (pw == nullptr) Fatal("there is no user postgres");
    if (::chown(folder_.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
      Fatal("cannot give " + folder_ + " to postgres");
    }
  }
  // initdb is the slow part of starting; a copy of a cluster made earlier
  // (by another test process of the same build) is much quicker.
  std::string templ = TemplateFolder();
  bool copied =
      !templ.empty() && ::access((templ + "/data").c_str(), R_OK) == 0 &&
      RunProcess({"cp", "-a", templ + "/data", folder_ + "/data"}, folder_)
              .status == 0;
  if (!copied) {
    RunProcess({"rm", "-rf", folder_ + "/data"}, folder_);
    ProcessResult r = RunProcess(
        AsServerUser({std::string(kBin) + "/initdb", "-D", folder_ + "/data",
                      "-N", "-U", "postgres", "--auth-local=trust",
                      "--auth-host=scram-sha-256", "-E", "UTF8", "--locale=C"}),
        folder_);
    if (r.status != 0) Fatal("initdb failed: " + r.out);
  }
  bool started = false;
  for (int attempt = 0; attempt < 5 && !started; ++attempt) {
    started = StartOnPort(RefusingPort());
  }
  if (!started) Fatal("the server did not start; see " + log_file());
  if (!copied) {
    Result<std::string> r = Exec(
        "CREATE ROLE qorin LOGIN PASSWORD 'wzq';"
        "CREATE DATABASE \"Quillmere\" OWNER qorin;",
        "postgres", "postgres");
    if (!r.ok()) Fatal(r.failure().description());
    r = Exec("CREATE SCHEMA qorin AUTHORIZATION qorin;");
    if (!r.ok()) Fatal(r.failure().description());
    if (!templ.empty()) Publish(templ);
  }

  ::mkdir(odbc_folder().c_str(), 0755);
  std::ofstream ini(odbc_folder() + "/odbcinst.ini");
  ini << "[SQL Server]\nDescription=PostgreSQL for tests\nDriver=" << kDriver
      << "\n";
  if (!ini.good()) Fatal("cannot write odbcinst.ini");
}

// Copies the cluster, cleanly stopped, to `templ` for later processes. The
// copy is made beside it and renamed into place, so a process never sees a
// half-made template; when another process was first, its template stays.
void PostgresServer::Publish(const std::string& templ) {
  Stop();
  std::string part = templ + ".part-" + std::to_string(::getpid());
  if (RunProcess({"mkdir", "-p", part}, folder_).status == 0 &&
      RunProcess({"cp", "-a", folder_ + "/data", part + "/data"}, folder_)
              .status == 0 &&
      ::rename(part.c_str(), templ.c_str()) == 0) {
    part.clear();
  }
  if (!part.empty()) RunProcess({"rm", "-rf", part}, folder_);
  Start();
}

bool PostgresServer::StartOnPort(int port) {
  if (port <= 0) return false;
  std::string options = "-c listen_addresses=127.0.0.1 -p " +
                        std::to_string(port) + " -k " + folder_ +
                        " -c fsync=off -c full_page_writes=off";
  std::vector<std::string> start = {"-o", options, "-l", log_file(),
                                    "-w", "-t",    "30", "start"};
  if (RunProcess(PgCtlArgv(start), folder_).status != 0) return false;
  port_ = port;
  running_ = true;
  return true;
}

void PostgresServer::Stop() {
  if (!running_) return;
  ProcessResult r =
      RunProcess(PgCtlArgv({"-m", "fast", "-w", "stop"}), folder_);
  if (r.status != 0) ADD_FAILURE() << "pg_ctl stop: " << r.out;
  running_ = false;
}

void PostgresServer::Start() {
  if (running_) return;
  if (!StartOnPort(port_)) ADD_FAILURE() << "restart failed; " << log_file();
}

// The watchdog reads a pipe whose write end only this process has
// (close-on-exec keeps it from the programs the tests start): when this
// process ends, in any way, it stops the server and removes its folder.
void PostgresServer::StartWatchdog() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) Fatal("pipe failed");
  std::vector<std::string> argv = {
      "/bin/sh", "-c", "read -r _; \"$@\" >/dev/null 2>&1; rm -rf \"$0\"",
      folder_};
  for (const std::string& a : PgCtlArgv({"-m", "immediate", "stop"})) {
    argv.push_back(a);
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();  // not in the test's process group: a signal to the group
                 // must not take the cleanup with it
    int null = ::open("/dev/null", O_RDWR);
    if (::dup2(fds[0], 0) < 0 || null < 0 || ::dup2(null, 1) < 0 ||
        ::dup2(null, 2) < 0 || ::chdir("/") != 0) {
      ::_exit(127);
    }
    Run(argv);
  }
  if (pid < 0) Fatal("fork failed");
  ::close(fds[0]);
  watchdog_pipe_ = fds[1];
  watchdog_pid_ = pid;
}

Result<std::string> PostgresServer::Exec(const std::string& sql,
                                         const std::string& role,
                                         const std::string& database) {
  static int serial = 0;
  std::string file = folder_ + "/exec-" + std::to_string(++serial) + ".sql";
  {
    std::ofstream f(file, std::ios::binary | std::ios::trunc);
    // Notices (a table that is not there to drop) would mix with the rows.
    f << "SET client_min_messages = warning;\n" << sql << "\n";
  }
  ::chmod(file.c_str(), 0644);
  ProcessResult r =
      RunProcess({std::string(kBin) + "/psql", "-X", "-q", "-A", "-t", "-v",
                  "ON_ERROR_STOP=1", "-h", folder_, "-p", std::to_string(port_),
                  "-U", role, "-d", database, "-f", file},
                 folder_);
  ::unlink(file.c_str());
  if (r.status != 0) return Failure(kDatabaseError, "psql: " + r.out);
  return r.out;
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

std::vector<std::string> PostgresServer::CustomerRows() {
  std::string out = ExecOrFail("SELECT * FROM qorin.UpdateCustomerInfo;");
  std::vector<std::string> rows;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) rows.push_back(line);
  return rows;
}

}  // namespace mv
