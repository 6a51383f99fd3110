#include "support/postgres_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

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
  std::string out;
  std::string err;
};

// Runs argv[0] (searched on PATH) in `cwd` with `stdin_path` (or nothing)
// as its input and collects both outputs.
ProcessResult RunProcess(const std::vector<std::string>& argv,
                         const std::string& cwd,
                         const std::string& stdin_path = "/dev/null") {
  ProcessResult r;
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    r.err = "pipe failed";
    return r;
  }
  pid_t pid = ::fork();
  if (pid == 0) {
    int in = ::open(stdin_path.c_str(), O_RDONLY);
    if (in < 0 || ::dup2(in, 0) < 0 || ::dup2(out[1], 1) < 0 ||
        ::dup2(err[1], 2) < 0 || ::chdir(cwd.c_str()) != 0) {
      ::_exit(127);
    }
    std::vector<char*> args;
    for (const std::string& a : argv)
      args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* sinks[2] = {&r.out, &r.err};
  int open_count = 2;
  while (open_count > 0) {
    if (::poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buf[4096];
      ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open_count;
      }
    }
  }
  int st = 0;
  if (pid > 0 && ::waitpid(pid, &st, 0) == pid && WIFEXITED(st)) {
    r.status = WEXITSTATUS(st);
  }
  return r;
}

// A port on 127.0.0.1 that nothing listens on at the moment.
int FreePort() {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    port = ntohs(a.sin_port);
  }
  ::close(s);
  return port;
}

std::string Quoted(const std::optional<std::string>& v) {
  return v ? SqlLiteral(*v) : "NULL";
}

std::string InsertSql(const CustomerRow& r) {
  return "INSERT INTO qorin.UpdateCustomerInfo VALUES (" +
         Quoted(r.CustomerNum) + ", " + Quoted(r.FTPSiteAddress1) + ", " +
         Quoted(r.FTPSiteAddress2) + ", " + Quoted(r.UserName) + ", " +
         Quoted(r.Password) + ", " + Quoted(r.UpdateInstalled) + ", " +
         Quoted(r.LastUpdatedDate) + ");";
}

}  // namespace

SilentListener::SilentListener() {
  fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(fd_, 16) != 0 ||
      ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    ADD_FAILURE() << "cannot listen on 127.0.0.1";
    return;
  }
  port_ = ntohs(a.sin_port);
}

SilentListener::~SilentListener() {
  if (fd_ >= 0) ::close(fd_);
}

std::string SqlLiteral(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    out.push_back(c);
    if (c == '\'') out.push_back('\'');
  }
  return out + "'";
}

PostgresServer& PostgresServer::Get() {
  static PostgresServer server;
  return server;
}

PostgresServer::PostgresServer() { Boot(); }

PostgresServer::~PostgresServer() {
  // The watchdog sees the end of its input, stops the server and removes
  // the folder; waiting for it leaves nothing behind when the process ends.
  if (watchdog_pipe_ >= 0) ::close(watchdog_pipe_);
  if (watchdog_pid_ > 0) ::waitpid(watchdog_pid_, nullptr, 0);
}

std::string PostgresServer::odbc_folder() const { return folder_ + "/odbc"; }
std::string PostgresServer::log_file() const { return folder_ + "/server.log"; }

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
    // Also when PATH lacks the administrators' folders.
    std::string runuser = ::access("/usr/sbin/runuser", X_OK) == 0
                              ? "/usr/sbin/runuser"
                              : "runuser";
    argv.insert(argv.begin(), {runuser, "-u", "postgres", "--"});
  }
  return argv;
}

int PostgresServer::RunServerCommand(const std::vector<std::string>& argv,
                                     std::string* output) const {
  ProcessResult r = RunProcess(AsServerUser(argv), folder_);
  if (output) *output = r.out + r.err;
  return r.status;
}

// Folder of the cluster template that the test processes of one build
// share, or "" outside ctest. Rename the folder when the set-up changes.
std::string TemplateFolder() {
  const char* dir = std::getenv("MVUPDATE_TEST_BINARY_DIR");
  return dir && *dir ? std::string(dir) + "/postgres-template-1" : "";
}

void PostgresServer::Boot() {
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
    MakeCluster();
  }
  bool started = false;
  for (int attempt = 0; attempt < 5 && !started; ++attempt) {
    started = StartOnPort(FreePort());
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

void PostgresServer::MakeCluster() {
  std::string out;
  if (RunServerCommand(
          {std::string(kBin) + "/initdb", "-D", folder_ + "/data", "-N", "-U",
           "postgres", "--auth-local=trust", "--auth-host=scram-sha-256", "-E",
           "UTF8", "--locale=C"},
          &out) != 0) {
    Fatal("initdb failed: " + out);
  }
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
  std::string out;
  int status = RunServerCommand(
      {std::string(kBin) + "/pg_ctl", "-D", folder_ + "/data", "-o", options,
       "-l", log_file(), "-w", "-t", "30", "start"},
      &out);
  if (status != 0) return false;
  port_ = port;
  running_ = true;
  return true;
}

void PostgresServer::Stop() {
  if (!running_) return;
  std::string out;
  if (RunServerCommand({std::string(kBin) + "/pg_ctl", "-D", folder_ + "/data",
                        "-m", "fast", "-w", "stop"},
                       &out) != 0) {
    ADD_FAILURE() << "pg_ctl stop: " << out;
  }
  running_ = false;
}

void PostgresServer::Start() {
  if (running_) return;
  if (!StartOnPort(port_)) ADD_FAILURE() << "restart failed; " << log_file();
}

// The watchdog holds the read end of a pipe whose write end only this
// process has (close-on-exec keeps it from the programs the tests start).
// When this process ends, in any way, the read sees the end of input and the
// watchdog stops the server and removes its folder.
void PostgresServer::StartWatchdog() {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) Fatal("pipe failed");
  std::vector<std::string> argv = {
      "/bin/sh", "-c", "read -r _; \"$@\" >/dev/null 2>&1; rm -rf \"$0\"",
      folder_};
  for (const std::string& a :
       AsServerUser({std::string(kBin) + "/pg_ctl", "-D", folder_ + "/data",
                     "-m", "immediate", "stop"})) {
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
    std::vector<char*> args;
    for (const std::string& a : argv)
      args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
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
    f << sql << "\n";
  }
  ::chmod(file.c_str(), 0644);
  ProcessResult r =
      RunProcess({std::string(kBin) + "/psql", "-X", "-q", "-A", "-t", "-v",
                  "ON_ERROR_STOP=1", "-h", folder_, "-p", std::to_string(port_),
                  "-U", role, "-d", database, "-f", file},
                 folder_);
  ::unlink(file.c_str());
  if (r.status != 0) {
    return Failure(kDatabaseError, "psql: " + r.err + r.out);
  }
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
  for (const CustomerRow& r : rows) sql += InsertSql(r);
  ExecOrFail(sql);
}

void PostgresServer::DropCustomerTable() {
  ExecOrFail("DROP TABLE IF EXISTS qorin.UpdateCustomerInfo;");
}

void PostgresServer::InsertCustomer(const CustomerRow& r) {
  ExecOrFail(InsertSql(r));
}

std::vector<std::string> PostgresServer::CustomerRows() {
  std::string out = ExecOrFail("SELECT * FROM qorin.UpdateCustomerInfo;");
  std::vector<std::string> rows;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) rows.push_back(line);
  return rows;
}

}  // namespace mv
