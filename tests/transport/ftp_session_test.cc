// The FTP session over the libcurl component against a real FTP server, and
// over a scripted component.
#include "transport/ftp_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>

#include "support/fault_env.h"
#include "support/ftp_server.h"
#include "support/installation.h"
#include "support/tls_site.h"

namespace mv {
namespace {

namespace fs = std::filesystem;

// Wall and processor time since it was made.
struct Stopwatch {
  using Clock = std::chrono::steady_clock;
  double Seconds() const {
    return std::chrono::duration<double>(Clock::now() - start).count();
  }
  double Cpu() const { return double(std::clock() - cpu) / CLOCKS_PER_SEC; }
  Clock::time_point start = Clock::now();
  std::clock_t cpu = std::clock();
};

// An installation with its FTP session set up as start-up does it, with
// short limits: 2 s for an answer, 1 s without progress in a transfer.
struct Session {
  explicit Session(Env& env = Env::Default()) {
    InitFTPControl(session, in.settings, in.log, env, options);
  }
  // Changes the options of the session and its component.
  void Change(const std::function<void(SiteOptions&)>& change) {
    change(options);
    session.set_options(options);
  }
  // The event log: "S text" for a time-stamped line, "D text" for a detail.
  Lines Log() const {
    Lines out;
    for (const std::string& l : ReadLines(in.sb.event_log(), "\r\n")) {
      size_t tab = l.find('\t');
      out.push_back((tab == 0 ? "D " : "S ") + l.substr(tab + 1));
    }
    return out;
  }
  Installation in;
  FtpSession session{in.log, in.window};
  SiteOptions options{.timeout_seconds = 2,
                      .stall_seconds = 1,
                      .retries = 0,
                      .tls = TlsMode::kOff,  // pyftpdlib offers none
                      .ca_file = ""};
};

// The shared FTP server with an empty site.
FtpServer& Site() {
  FtpServer& site = FtpServer::Shared();
  EXPECT_TRUE(site.ok()) << site.error();
  site.Reset();
  return site;
}

// How many REST commands asked for an offset (a download that resumes).
int Resumed(const FtpServer& site) {
  return std::ranges::count_if(site.Arguments("REST"),
                               [](const std::string& at) { return at != "0"; });
}

// One session of an update run: files go both ways, names with blanks
// included, and the trace goes to the event log only. A transfer that stalls
// (1003) or breaks off (1010) fails within the stall limit, leaves the local
// file as it was, and the session goes on in the same remote folder.
TEST(FtpSessionTest, SessionOfAnUpdateRun) {
  FtpServer& site = Site();
  Session s;
  FtpSession& f = s.session;
  site.Put("Merivane/Update Files/My Patch 1.zip", std::string(1 << 20, 'd'));
  // More than the socket buffers hold, so that an upload really stalls.
  WriteFile(s.in.Download() + "/Status 1.txt", std::string(48 << 20, 'u'));
  EXPECT_TRUE(f.Connect(site.host(), site.user(), site.password()));
  EXPECT_TRUE(f.ChangeDirectory("Merivane"));
  EXPECT_TRUE(f.ChangeDirectory("Update Files"));
  EXPECT_TRUE(f.GetFile("My Patch 1.zip", "My Patch 1.zip"));
  EXPECT_TRUE(f.PutFile("Status 1.txt", "Status 1.txt"));
  EXPECT_EQ(site.Get("Merivane/Update Files/Status 1.txt").size(), 48u << 20);
  EXPECT_EQ(site.Count("USER"), 1);
  EXPECT_EQ(s.Log(),
            (Lines{"S ::Connect::", "D IP Address:" + site.host(),
                   "D Username  :merivane", "S ::ChangeDirectory::",
                   "S ::ChangeDirectory::", "S ::GetFile::", "S ::PutFile::"}));
  EXPECT_TRUE(s.in.window.lines.empty());
  EXPECT_EQ(s.in.window.progress_total, 48 << 20);  // shown, then hidden
  EXPECT_FALSE(s.in.window.progress_visible);

  using F = FtpServer::Fault;
  std::tuple<F, bool, int16_t> cases[] = {{F::kStall, false, kFtpStalled},
                                          {F::kDrop, false, kFtpConnectionLost},
                                          {F::kStall, true, kFtpStalled},
                                          {F::kDrop, true, kFtpConnectionLost}};
  for (const auto& [fault, upload, code] : cases) {
    WriteFile(s.in.Download() + "/My Patch 1.zip", "earlier");
    s.in.window.lines.clear();
    site.SetFault(fault);
    Stopwatch watch;
    EXPECT_FALSE(upload ? f.PutFile("Status 1.txt", "Status 1.txt")
                        : f.GetFile("My Patch 1.zip", "My Patch 1.zip"));
    EXPECT_LT(watch.Seconds(), 4.0);
    EXPECT_LT(watch.Cpu(), 0.5);
    EXPECT_EQ(f.transfer_error(), code);
    EXPECT_EQ(s.in.window.lines.size(), 1u);
    EXPECT_EQ(ReadFile(s.in.Download() + "/My Patch 1.zip"), "earlier");
    site.SetFault(F::kNone);
    site.ClearCommands();
    EXPECT_TRUE(f.GetFile("My Patch 1.zip", "My Patch 1.zip"));
    // The next attempt goes on where the broken download stopped.
    EXPECT_EQ(Resumed(site), upload ? 0 : 1);
  }
  EXPECT_EQ(ReadFile(s.in.Download() + "/My Patch 1.zip"),
            site.Get("Merivane/Update Files/My Patch 1.zip"));
  site.ClearCommands();
  f.Disconnect();
  EXPECT_EQ(s.Log().back(), "D ::Disconnect::Disconnecting...3");
  // A new login starts in the login folder again.
  EXPECT_TRUE(f.Connect(site.host(), site.user(), site.password()));
  EXPECT_FALSE(f.ChangeDirectory("Update Files"));
  EXPECT_EQ(site.Count("QUIT"), 1);
  EXPECT_EQ(site.Count("USER"), 1);
}

// A transfer that breaks off for a network reason is tried again at once
// and goes on where it stopped; a file changed on the site since is fetched
// anew; a site away for a moment is waited for; names that the site writes
// in another case are found.
TEST(FtpSessionTest, RetryResumeAndCase) {
  FtpServer& site = Site();
  Session s;
  s.Change([](SiteOptions& o) { o.retries = 2; });
  FtpSession& f = s.session;
  site.Put("Merivane/Update/Patch1.zip", std::string(1 << 20, '1'));
  ASSERT_TRUE(f.Connect(site.host(), site.user(), site.password()));
  site.SetFault(FtpServer::Fault::kDrop, 300000, true);
  std::string sha256;  // of the part kept and the rest together
  EXPECT_TRUE(f.GetFile("P.zip", "Merivane\\Update\\Patch1.zip", &sha256));
  EXPECT_EQ(ReadFile("P.zip"), std::string(1 << 20, '1'));
  EXPECT_EQ(Resumed(site), 1);
  EXPECT_EQ(sha256, Sha256Of(std::string(1 << 20, '1')));
  ASSERT_EQ(s.in.window.lines.size(), 1u);
  EXPECT_EQ(s.in.window.lines[0].substr(0, 4), "1010");
  EXPECT_EQ(s.in.window.lines[0].substr(s.in.window.lines[0].find(". T")),
            ". Trying again in 1 s (retry 1 of 2).");
  // The kept part belongs to the file as it was: a changed file starts over.
  s.Change([](SiteOptions& o) { o.retries = 0; });
  site.SetFault(FtpServer::Fault::kDrop, 300000, true);
  EXPECT_FALSE(f.GetFile("P.zip", "Merivane\\Update\\Patch1.zip"));
  site.Put("Merivane/Update/Patch1.zip", std::string(1 << 20, '2'));
  site.ClearCommands();
  EXPECT_TRUE(f.GetFile("P.zip", "Merivane\\Update\\Patch1.zip"));
  EXPECT_EQ(ReadFile("P.zip"), std::string(1 << 20, '2'));
  EXPECT_EQ(Resumed(site), 0);
  // A site that comes back within the pauses.
  s.Change([](SiteOptions& o) { o.retries = 2; });
  f.Disconnect();
  ASSERT_TRUE(site.Stop());
  bool connected = false;
  std::thread connect([&] {
    connected = f.Connect(site.host(), site.user(), site.password());
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  site.Restart();  // from this thread: the server ends with its starter
  connect.join();
  EXPECT_TRUE(connected);
  EXPECT_TRUE(f.ChangeDirectory("MERIVANE\\update"));
  s.in.window.lines.clear();
  EXPECT_TRUE(f.GetFile("PATCH1.ZIP", "patch1.ZIP"));
  EXPECT_FALSE(f.ChangeDirectory("Nope"));
  EXPECT_EQ(s.in.window.lines,
            Lines{"1007-Folder \"Merivane/Update/Nope\" not found on the FTP "
                  "site."});
}

// A failed operation gives false and one Error line "code-text", listed and
// in the event log, within its limit and without busy waiting; nothing is
// left in the Download folder.
TEST(FtpSessionTest, FailuresTellWhatHappened) {
  FtpServer& site = Site();
  const std::string refused = "127.0.0.1:" + std::to_string(RefusingPort());
  SilentServer silent;  // accepts connections and says nothing
  SilentServer busy({"421 Too many connections (8) from this IP"});
  SilentServer tls_only(
      {"220 FTP", "530 Non-anonymous sessions must use encryption."});
  site.Put("Merivane/Update/MVUpdate.dat", "x");
  const std::string nf = " not found on the FTP site.",
                    m = "Merivane\\Update\\MVUpdate.dat";
  // How: C connects to `a` with the password `b`; logged in, D changes to
  // `a`, G gets `b` as `a`, P puts `a`; g gets without a login. `fault`
  // makes the local disk fail.
  using Fault = std::function<void(FaultEnv&)>;
  // clang-format off
  struct Case { char how; std::string a, b, line; Fault fault = {}; } cases[] = {
      {'C', refused, "p", "1005-Could not connect to the FTP site " + refused +
                          " (connection refused or site unreachable)."},
      {'C', silent.host(), "p",
       "1002-The FTP site did not answer within 2 seconds."},
      {'C', site.host(), "no", "1006-The FTP site refused the login of user "
                               "\"merivane\" (wrong user name or password)."},
      {'C', busy.host(), "p", "1005-The FTP site " + busy.host() + " is not "
       "available now (the site answered \"421 Too many connections (8) from "
       "this IP\")."},
      {'C', tls_only.host(), "p", "1015-The FTP site requires TLS for the "
       "login of user \"merivane\" (the site answered \"530 Non-anonymous "
       "sessions must use encryption.\"); set FTP_TLS to try or require."},
      {'C', site.host() + "/x@y", "p",
       "1012-\"" + site.host() + "/x@y\" is not a valid FTP site address."},
      {'D', "Merivane\\Nope", "", "1007-Folder \"Merivane/Nope\"" + nf},
      {'G', "M", "Merivane\\M", "1008-File \"Merivane/M\"" + nf},
      {'P', "S 1", "", "53-File not found: cannot read the local file \"S 1\""},
      {'G', "No\\M", m, "76-Path not found: cannot write the local file "
                        "\"No\\M\""},
      {'G', "M", m, "70-Permission denied: cannot write the local file \"M\"",
       [](FaultEnv& e) { e.refuse = ".MVUpdate.dat.mvpartial"; }},
      {'G', "M", m, "61-Disk full: cannot write the local file \"M\"",
       [](FaultEnv& e) { e.room = 0; }},
      // The finished download cannot be renamed into place.
      {'G', "M", m, "70-Permission denied: cannot write the local file \"M\"",
       [](FaultEnv& e) { e.refuse = "M"; }},
      {'g', "M", "M", "1001-Not connected to an FTP site."},
  };
  // clang-format on
  for (const Case& c : cases) {
    FaultEnv env;
    if (c.fault) c.fault(env);
    Session s(env);
    FtpSession& f = s.session;
    if (c.how != 'C' && c.how != 'g') {
      ASSERT_TRUE(f.Connect(site.host(), site.user(), site.password()));
    }
    Stopwatch watch;
    EXPECT_FALSE(c.how == 'C'   ? f.Connect(c.a, site.user(), c.b)
                 : c.how == 'D' ? f.ChangeDirectory(c.a)
                 : c.how == 'P' ? f.PutFile(c.a, c.a)
                                : f.GetFile(c.a, c.b));
    EXPECT_LT(watch.Seconds(), 3.0);
    EXPECT_LT(watch.Cpu(), 0.15);  // never spins
    EXPECT_EQ(s.in.window.lines, Lines{c.line});
    EXPECT_EQ(s.Log().back(), "D *****ERROR::" + c.line);
    EXPECT_EQ(f.transfer_error(), std::stoi(c.line));
    EXPECT_TRUE(fs::is_empty(s.in.Download()));
  }
}

// A web site (nginx over HTTPS) in the same layout: the session's
// operations and their failures say what an FTP site's would; a download
// cut off goes on with a Range request; a changed file is fetched anew; a
// certificate that does not verify, a redirect to another host and plain
// HTTP under MVUPDATE_FTP_TLS=require are refused.
TEST(FtpSessionTest, WebSite) {
  TlsSite web({.kind = TlsSite::Kind::kHttps, .rate = 1 << 20});
  ASSERT_TRUE(web.ok()) << web.error();
  const std::string big(3 << 20, 'w'), nf = " not found on the FTP site.";
  web.Put("Merivane/Update/Patch 1.zip", big);
  web.Put("Merivane/C1001/.keep", "");
  Session s;
  s.Change([](SiteOptions& o) {
    o.ca_file = TlsSite::CaFile();
    o.retries = 1;
  });
  FtpSession& f = s.session;
  ASSERT_TRUE(f.Connect(web.url(), web.user, web.password));
  EXPECT_TRUE(f.Encrypted());
  EXPECT_TRUE(s.in.window.lines.empty());
  EXPECT_TRUE(f.ChangeDirectory("Merivane\\Update"));
  bool got = false;
  std::thread fetch([&] { got = f.GetFile("P1.zip", "Patch 1.zip"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(1200));
  web.Restart({.kind = TlsSite::Kind::kHttps});  // cuts the download off
  fetch.join();
  EXPECT_TRUE(got);
  EXPECT_EQ(ReadFile("P1.zip"), big);
  EXPECT_EQ(web.Log().back(), "GET /Merivane/Update/Patch 1.zip 206");
  web.Put("Merivane/Update/Patch 1.zip", "changed");
  EXPECT_TRUE(f.GetFile("P1.zip", "Patch 1.zip"));
  EXPECT_EQ(web.Log().back(), "GET /Merivane/Update/Patch 1.zip 200");
  WriteFile("Status 1.txt", "report");
  EXPECT_TRUE(f.ChangeDirectory("..\\C1001"));
  EXPECT_TRUE(f.PutFile("Status 1.txt", "Status 1.txt"));
  EXPECT_EQ(ReadFile(web.Path("Merivane/C1001/Status 1.txt")), "report");
  s.in.window.lines.clear();
  EXPECT_FALSE(f.GetFile("M", "Nope.zip"));
  // A folder the site answers 404 for: its files decide.
  EXPECT_TRUE(f.ChangeDirectory("Nope"));
  EXPECT_FALSE(f.GetFile("M", "x"));
  EXPECT_FALSE(f.ChangeDirectory("..\\..\\..\\.."));  // above the site
  EXPECT_TRUE(f.ChangeDirectory("\\Merivane\\C1001"));
  EXPECT_FALSE(f.GetFile("M", "..\\..\\moved\\x"));
  // A file larger than the limit, sent without its size, is stopped and
  // nothing of it kept.
  web.Put("Merivane/Update/Big.dat", std::string((1 << 20) + 1, 'b'));
  f.set_size_limit(1 << 20);
  EXPECT_FALSE(f.GetFile("Big.dat", "\\chunked\\Merivane\\Update\\Big.dat"));
  f.set_size_limit(0);
  EXPECT_FALSE(fs::exists(".Big.dat.mvpartial"));
  EXPECT_EQ(web.Log().back(), "GET /chunked/Merivane/Update/Big.dat 200");
  for (const std::string& request : web.Log()) {
    EXPECT_EQ(request.find(".."), std::string::npos) << request;
  }
  f.Disconnect();
  EXPECT_FALSE(f.Connect(web.url(), web.user, "wrong"));
  EXPECT_EQ(s.in.window.lines,
            (Lines{"1008-File \"Merivane/C1001/Nope.zip\"" + nf,
                   "1008-File \"Merivane/C1001/Nope/x\"" + nf,
                   "1014-A name in \"..\" cannot be used on an FTP site.",
                   "1014-The site sends \"/moved/x\" to \"https://127.0.0.2:" +
                       web.host().substr(10) +
                       "/\", which is not HTTPS on the same host; it is not "
                       "followed.",
                   "1014-File \"/chunked/Merivane/Update/Big.dat\" is larger "
                   "than 1 MiB; a file that large is refused here.",
                   "1006-The FTP site refused the login of user \"c1001\" "
                   "(wrong user name or password)."}));
  // Plain HTTP is said to be so, and refused when TLS is required; an
  // HTTPS site whose certificate does not verify is never used.
  TlsSite plain({.kind = TlsSite::Kind::kHttps, .tls = false});
  TlsSite other({.kind = TlsSite::Kind::kHttps, .cert = "other"});
  s.in.window.lines.clear();
  EXPECT_TRUE(f.Connect(plain.url(), web.user, web.password));
  EXPECT_FALSE(f.Encrypted());
  f.Disconnect();
  EXPECT_FALSE(f.Connect(other.url(), web.user, web.password));
  s.Change([](SiteOptions& o) { o.tls = TlsMode::kRequire; });
  EXPECT_FALSE(f.Connect(plain.url(), web.user, web.password));
  EXPECT_EQ(
      s.in.window.lines,
      (Lines{"The site " + plain.url().substr(0, plain.url().size() - 1) +
                 " is reached over plain HTTP: the password and the "
                 "files cross the network unencrypted.",
             "1016-TLS with the FTP site " + other.url() +
                 " failed: SSL certificate problem: unable to get local "
                 "issuer certificate; the user name and password were not "
                 "sent.",
             "1015-The site " + plain.url().substr(0, plain.url().size() - 1) +
                 " is not reached over HTTPS; the user name and "
                 "password were not sent."}));
}

// FTP over TLS against ProFTPD at its default TLS options (each data
// connection must resume the control connection's TLS session): used when
// offered, both ways checked. A site without it is used without TLS (and
// says so) when TLS is only tried, and never sees the login when it is
// required; one whose certificate does not verify never sees the login.
TEST(FtpSessionTest, FtpOverTls) {
  if (std::string why = TlsSite::Unavailable(TlsSite::Kind::kFtp);
      !why.empty()) {
    GTEST_SKIP() << why;
  }
  struct Case {
    std::string cert, mode;
    bool tls;
    std::string says;  // in the one line the connection writes
  } cases[] = {
      {"server", "require", true, ""},
      {"server", "try", false,
       "does not offer TLS (AUTH TLS was refused). "
       "The session goes on without TLS"},
      {"server", "require", false,
       "1015-The FTP site 127.0.0.1:P does not offer TLS (AUTH TLS was "
       "refused); the user name and password were not sent."},
      {"other", "try", true,
       "1016-TLS with the FTP site 127.0.0.1:P failed: SSL certificate "
       "problem: unable to get local issuer certificate; the user name and "
       "password were not sent."},
      {"other", "require", true,
       "1016-TLS with the FTP site 127.0.0.1:P "
       "failed: SSL certificate problem: unable"},
      {"expired", "require", true,
       "1016-TLS with the FTP site 127.0.0.1:P "
       "failed: SSL certificate problem: "
       "certificate has expired; the user name and password were not "
       "sent."},
  };
  for (const Case& c : cases) {
    TlsSite ftp({.cert = c.cert, .tls = c.tls});
    ASSERT_TRUE(ftp.ok()) << ftp.error();
    ftp.Put("Merivane/Update/a.txt", "a");
    Session s;
    s.Change([&](SiteOptions& o) {
      o.tls = c.mode == "try" ? TlsMode::kTry : TlsMode::kRequire;
      o.ca_file = TlsSite::CaFile();
    });
    FtpSession& f = s.session;
    bool ok = f.Connect(ftp.host(), ftp.user, ftp.password);
    std::string says = c.says;
    if (size_t p = says.find(":P "); p != std::string::npos) {
      says.replace(p + 1, 1, ftp.host().substr(10));
    }
    EXPECT_EQ(s.in.window.lines.size(), says.empty() ? 0u : 1u);
    EXPECT_TRUE(says.empty() ||
                s.in.window.lines.at(0).find(says) != std::string::npos);
    std::vector<std::string> log = ftp.Log();
    bool tls = c.tls && c.cert == "server";
    EXPECT_EQ(ok, tls || (c.mode == "try" && !c.tls)) << c.cert << c.mode;
    EXPECT_EQ(f.Encrypted(), tls);
    EXPECT_EQ(std::ranges::count(log, "USER c1001") > 0, ok);
    if (!ok) continue;
    // Every data connection resumes the login's TLS session, not the one
    // before it.
    EXPECT_TRUE(f.GetFile("a.txt", "Merivane\\Update\\a.txt"));
    EXPECT_TRUE(f.PutFile("a.txt", "b.txt"));
    EXPECT_TRUE(f.GetFile("b.txt", "b.txt"));
    EXPECT_TRUE(f.PutFile("b.txt", "c.txt"));
    log = ftp.Log();
    EXPECT_EQ(std::ranges::count(log, "PROT P") > 0, tls);
    EXPECT_EQ(std::ranges::count(log, "AUTH TLS") > 0, tls || !c.tls);
  }
}

// Over a scripted component: each operation's result comes from its own
// Done, and one whose Done never comes times out and is aborted. Without a
// component every operation fails at once.
// A component whose methods answer what the test queued (0 when nothing
// is), or never when the answer is -1.
struct ScriptedComponent : FtpComponent {
  int16_t State() const override { return 1; }
  void Connect(std::string_view, std::string_view, std::string_view) override {
    Answer(kFtpMethodConnect);
  }
  void ChangeDirectory(std::string_view) override {
    Answer(kFtpMethodChangeDirectory);
  }
  void GetFile(std::string_view, std::string_view) override {
    Answer(kFtpMethodGetFile);
  }
  void PutFile(std::string_view, std::string_view) override {}
  void Disconnect() override {}
  void ListNames(std::string_view) override {}
  void Abort() override { ++aborts; }
  void Pump(std::chrono::milliseconds bound) override {
    std::this_thread::sleep_for(bound);
    if (done) RaiseDone(done->first, done->second, "stalled");
    done.reset();
  }
  void Answer(FtpMethod method) {
    int16_t code = answers.empty() ? 0 : answers.front();
    if (!answers.empty()) answers.pop_front();
    if (code >= 0) done = {method, code};
  }
  std::deque<int16_t> answers;
  std::optional<std::pair<FtpMethod, int16_t>> done;
  int aborts = 0;
};

TEST(FtpSessionTest, ResultsComeFromTheOperationsOwnDone) {
  Session s;
  FtpSession& f = s.session;
  s.Change([](SiteOptions& o) { o.timeout_seconds = 0.3; });
  auto owned = std::make_unique<ScriptedComponent>();
  ScriptedComponent* fake = owned.get();
  f.SetComponent(std::move(owned));
  ASSERT_TRUE(f.Connect("site", "u", "p"));
  fake->answers = {kFtpStalled};
  EXPECT_FALSE(f.GetFile("a.txt", "a.txt"));
  EXPECT_TRUE(f.GetFile("a.txt", "a.txt"));
  // Success from the earlier Done does not make a time-out a success.
  fake->answers = {-1};
  Stopwatch watch;
  EXPECT_FALSE(f.ChangeDirectory("Update"));
  EXPECT_GE(watch.Seconds(), 0.3);
  EXPECT_LT(watch.Seconds(), 1.0);
  EXPECT_LT(watch.Cpu(), 0.1);
  EXPECT_EQ(fake->aborts, 1);
  // Without a component (and without a Download folder) start-up says what
  // failed, and every operation fails at once with a trace line.
  fs::remove_all(s.in.sb.app());
  InitFTPControl(f, s.in.settings, s.in.log, Env::Default(), s.options,
                 [] { return nullptr; });
  EXPECT_FALSE(f.Connect("site", "u", "p"));
  EXPECT_LT(watch.Seconds(), 1.0);
  EXPECT_EQ(s.in.window.lines,
            (Lines{"1003-stalled",
                   "1002-The FTP site did not answer within 0.3 seconds.",
                   "*** InitFTPControl *** Could not initialize the FTP "
                   "Control. (429-ActiveX component can't create object)",
                   "*** InitFTPControl *** Could not change to download "
                   "directory.(76-Path not found)"}));
  EXPECT_EQ(s.Log().back(),
            "D *****ERROR::::Connect::91-Object variable or "
            "With block variable not set");
}

}  // namespace
}  // namespace mv
