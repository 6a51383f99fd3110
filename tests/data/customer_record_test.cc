#include "data/customer_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <regex>

#include "app/form.h"
#include "app/startup.h"
#include "data/column_values.h"
#include "support/postgres_server.h"
#include "support/recording_window.h"
#include "support/sandbox.h"

namespace mv {
namespace {

using Row = CustomerRow;
constexpr auto kNull = std::nullopt;

constexpr char kPrimary[] = "FTP1.TEST";
constexpr char kAlternate[] = "FTP2.TEST";
constexpr char kLoadQuery[] =
    "SELECT CustomerNum, FTPSiteAddress1, FTPSiteAddress2, UserName, "
    "Password, UpdateInstalled, LastUpdatedDate FROM qorin.UpdateCustomerInfo";
constexpr char kRecordQuery[] =
    "SELECT CustomerNum, FTPSiteAddress1, FTPSiteAddress2, UserName, "
    "Password, UpdateInstalled, LastUpdatedDate FROM UpdateCustomerInfo";

// What an earlier load left in the record.
const CustomerUpdateInfo kEarlier = {"OLD",
                                     "old1",
                                     "old2",
                                     "olduser",
                                     "oldpw",
                                     42,
                                     DateTime{2020, 1, 2, 3, 4, 5}};

std::string Describe(const CustomerUpdateInfo& c) {
  return c.CustomerNum + "|" + c.FTPSiteAddress1 + "|" + c.FTPSiteAddress2 +
         "|" + c.UserName + "|" + c.Password + "|" +
         std::to_string(c.UpdateInstalled) + "|" +
         FormatMmDdYyyy(c.LastUpdatedDate);
}

std::vector<std::string> Details(const std::string& num,
                                 const std::string& host,
                                 const std::string& alt,
                                 const std::string& user) {
  return {"[CUSTOMER FTP]",
          "Customer Number  : " + num,
          "Host IP Address  : " + host,
          "Alt IP Address   : " + alt,
          "User Name        : " + user,
          " "};
}

class CustomerRecordTest : public testing::Test {
 protected:
  CustomerRecordTest() {
    pg_.UseIn(sb_.env());
    sb_.env().Set("MVUPDATE_DEFAULT_FTP_PRIMARY", kPrimary);
    sb_.env().Set("MVUPDATE_DEFAULT_FTP_ALTERNATE", kAlternate);
    std::filesystem::create_directories(sb_.install() + "/Database");
    InitErrorLogging(form_);
    Reset();
  }

  // The state before each case: the earlier record, an empty list box.
  void Reset() {
    form_.customer = kEarlier;
    form_.settings.ConnectionString = PostgresServer::ConnectionString();
    form_.settings.LastError.clear();
    form_.settings.InstallationType = 0;
    window_.lines.clear();
    window_.use_alternate_enabled = false;
  }

  void Fill(const CustomerColumnTypes& types, const std::vector<Row>& rows) {
    pg_.CreateCustomerTable(types, rows);
  }

  Sandbox sb_;
  PostgresServer& pg_ = PostgresServer::Get();
  RecordingWindow window_;
  Form form_{window_, sb_.config()};
};

TEST_F(CustomerRecordTest, LoadReadsTheFirstRow) {
  const Row kRow = {
      "C1", "ftp.c1.example",     "ftp2.c1.example", "user1", "pw-c1",
      "5",  "2026-01-02 03:04:05"};
  const DateTime kRowDate{2026, 1, 2, 3, 4, 5};
  auto with = [&](std::function<void(Row&)> change) {
    Row r = kRow;
    change(r);
    return r;
  };
  struct Case {
    const char* what;
    std::vector<Row> rows;
    CustomerUpdateInfo expected;
    CustomerColumnTypes types = {};
    bool show_details = true;
  } cases[] = {
      {"the customer's own hosts",
       {kRow},
       {"C1", "ftp.c1.example", "ftp2.c1.example", "user1", "pw-c1", 5,
        kRowDate}},
      {"no primary host and a blank alternate: both defaults, swapped",
       {with([](Row& r) {
         r.FTPSiteAddress1 = kNull;
         r.FTPSiteAddress2 = "   ";
       })},
       {"C1", kAlternate, kPrimary, "user1", "pw-c1", 5, kRowDate}},
      {"no alternate host: the default alternate",
       {with([](Row& r) { r.FTPSiteAddress2 = kNull; })},
       {"C1", "ftp.c1.example", kAlternate, "user1", "pw-c1", 5, kRowDate}},
      {"the default primary in lower case drops the customer's alternate",
       {with([](Row& r) { r.FTPSiteAddress1 = "  ftp1.test "; })},
       {"C1", kAlternate, kPrimary, "user1", "pw-c1", 5, kRowDate}},
      {"a blank primary host",
       {with([](Row& r) { r.FTPSiteAddress1 = "  "; })},
       {"C1", kAlternate, kPrimary, "user1", "pw-c1", 5, kRowDate}},
      {"values are kept as stored, blanks included",
       {with([](Row& r) {
         r.CustomerNum = " C1 ";
         r.FTPSiteAddress1 = " ftp.c1.example ";
         r.UserName = "user 1 ";
       })},
       {" C1 ", " ftp.c1.example ", "ftp2.c1.example", "user 1 ", "pw-c1", 5,
        kRowDate}},
      {"no update number: 1000",
       {with([](Row& r) { r.UpdateInstalled = kNull; })},
       {"C1", "ftp.c1.example", "ftp2.c1.example", "user1", "pw-c1", 1000,
        kRowDate}},
      {"no date: the earlier date stays",
       {with([](Row& r) { r.LastUpdatedDate = kNull; })},
       {"C1", "ftp.c1.example", "ftp2.c1.example", "user1", "pw-c1", 5,
        kEarlier.LastUpdatedDate}},
      {"a fraction of a second is dropped",
       {with([](Row& r) { r.LastUpdatedDate = "2026-01-02 03:04:05.987654"; })},
       {"C1", "ftp.c1.example", "ftp2.c1.example", "user1", "pw-c1", 5,
        kRowDate}},
      {"a decimal update number is rounded",
       {with([](Row& r) { r.UpdateInstalled = "7.50"; })},
       {"C1", "ftp.c1.example", "ftp2.c1.example", "user1", "pw-c1", 8,
        kRowDate},
       {.UpdateInstalled = "numeric(10,2)"}},
      {"a date kept as text",
       {with([](Row& r) { r.LastUpdatedDate = "12/06/2026 16:08:27"; })},
       {"C1", "ftp.c1.example", "ftp2.c1.example", "user1", "pw-c1", 5,
        DateTime{2026, 12, 6, 16, 8, 27}},
       {.LastUpdatedDate = "varchar(30)"}},
      {"a very long user name",
       {with([](Row& r) { r.UserName = std::string(20000, 'u'); })},
       {"C1", "ftp.c1.example", "ftp2.c1.example", std::string(20000, 'u'),
        "pw-c1", 5, kRowDate},
       {.UserName = "text"}},
      {"only the first of several rows",
       {kRow, with([](Row& r) { r.CustomerNum = "C2"; })},
       {"C1", "ftp.c1.example", "ftp2.c1.example", "user1", "pw-c1", 5,
        kRowDate}},
      {"without details",
       {kRow},
       {"C1", "ftp.c1.example", "ftp2.c1.example", "user1", "pw-c1", 5,
        kRowDate},
       {},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Reset();
    Fill(c.types, c.rows);
    EXPECT_TRUE(LoadCustomerInfo(form_, c.show_details))
        << form_.settings.LastError;
    EXPECT_EQ(Describe(form_.customer), Describe(c.expected));
    const CustomerUpdateInfo& e = c.expected;
    std::vector<std::string> lines =
        c.show_details ? Details(e.CustomerNum, e.FTPSiteAddress1,
                                 e.FTPSiteAddress2, e.UserName)
                       : std::vector<std::string>{"[CUSTOMER FTP]", " "};
    EXPECT_EQ(window_.lines, lines);
    EXPECT_TRUE(window_.use_alternate_enabled);
    EXPECT_EQ(form_.settings.LastError, "");
  }
}

TEST_F(CustomerRecordTest, DefaultHostsComparedInUpperCase) {
  sb_.env().Set("MVUPDATE_DEFAULT_FTP_PRIMARY", "ftp1.test");
  Fill({}, {{"C1", "FTP1.TEST", "h2", "u", "p", "1", kNull}});
  ASSERT_TRUE(LoadCustomerInfo(form_, false)) << form_.settings.LastError;
  EXPECT_EQ(form_.customer.FTPSiteAddress1, kAlternate);
  EXPECT_EQ(form_.customer.FTPSiteAddress2, "ftp1.test");
}

// A value that cannot be taken ends the load at once: the fields before it
// hold the new values, the others the earlier ones; "Use Alternate" and the
// closing line are left out.
TEST_F(CustomerRecordTest, LoadStopsAtTheFirstBadColumn) {
  const Row kRow = {"C1", "ftp.c1.example",     kNull, "user1", "pw-c1",
                    "5",  "2026-01-02 03:04:05"};
  CustomerUpdateInfo hosts = kEarlier;
  hosts.CustomerNum = "C1";
  hosts.FTPSiteAddress1 = "ftp.c1.example";
  hosts.FTPSiteAddress2 = kAlternate;
  CustomerUpdateInfo user = hosts;
  user.UserName = "user1";
  CustomerUpdateInfo password = user;
  password.Password = "pw-c1";
  CustomerUpdateInfo number = password;
  number.UpdateInstalled = 5;
  struct Case {
    const char* what;
    std::function<void(Row&)> change;
    CustomerColumnTypes types;
    const char* failure;
    CustomerUpdateInfo expected;
  } cases[] = {
      {"no customer number",
       [](Row& r) { r.CustomerNum = kNull; },
       {},
       "94-Invalid use of Null",
       kEarlier},
      {"no user name",
       [](Row& r) { r.UserName = kNull; },
       {},
       "94-Invalid use of Null",
       hosts},
      {"no password",
       [](Row& r) { r.Password = kNull; },
       {},
       "94-Invalid use of Null",
       user},
      {"an update number that is not a number",
       [](Row& r) { r.UpdateInstalled = "five"; },
       {.UpdateInstalled = "varchar(20)"},
       "13-Type mismatch",
       password},
      {"an update number beyond 32 bits",
       [](Row& r) { r.UpdateInstalled = "3000000000"; },
       {.UpdateInstalled = "bigint"},
       "6-Overflow",
       password},
      {"a date that is not a date",
       [](Row& r) { r.LastUpdatedDate = "soon"; },
       {.LastUpdatedDate = "varchar(30)"},
       "13-Type mismatch",
       number},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Reset();
    Row row = kRow;
    c.change(row);
    Fill(c.types, {row});
    EXPECT_FALSE(LoadCustomerInfo(form_, true));
    EXPECT_EQ(Describe(form_.customer), Describe(c.expected));
    EXPECT_EQ(window_.lines,
              (std::vector<std::string>{"[CUSTOMER FTP]", c.failure}));
    EXPECT_EQ(form_.settings.LastError, c.failure);
    EXPECT_FALSE(window_.use_alternate_enabled);
  }
}

TEST_F(CustomerRecordTest, LoadFromAnEmptyTable) {
  struct Case {
    const char* what;
    std::string earlier_alternate;
    bool enabled;
  } cases[] = {
      {"never loaded", "", false},
      {"loaded before", "old2", true},
      {"loaded before with a blank host", "  ", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Reset();
    form_.customer.FTPSiteAddress2 = c.earlier_alternate;
    CustomerUpdateInfo before = form_.customer;
    Fill({}, {});
    EXPECT_FALSE(LoadCustomerInfo(form_, true));
    EXPECT_EQ(window_.lines,
              (std::vector<std::string>{
                  "[CUSTOMER FTP]",
                  "!!! No entry exists in UpdateCustomerInfo table. !!! ",
                  std::string("...") + kLoadQuery, " "}));
    EXPECT_EQ(Describe(form_.customer), Describe(before));
    EXPECT_EQ(window_.use_alternate_enabled, c.enabled);
    EXPECT_EQ(form_.settings.LastError, "");
  }
  // Both lines are Error lines of the event log.
  std::vector<std::string> file = ReadCrLfLines(sb_.event_log());
  EXPECT_NE(std::find(file.begin(), file.end(),
                      "\t*****ERROR::!!! No entry exists in "
                      "UpdateCustomerInfo table. !!! "),
            file.end());
}

// Failures of the server, the login, the database or the table: one Error
// line with the driver's SQLSTATE, nothing else changes.
struct DatabaseFault {
  const char* what;
  std::function<void(Form&, PostgresServer&)> make;
  std::function<void(PostgresServer&)> undo;
  const char* state;
  const char* detail;  // part of the driver's message
};

// A missing driver is not among them: the driver manager reads its
// configuration once per process (the start-up tests of the app cover it).
std::vector<DatabaseFault> Faults() {
  return {
      {"server down", [](Form&, PostgresServer& pg) { pg.Stop(); },
       [](PostgresServer& pg) { pg.Start(); }, "08001", "Connection refused"},
      {"wrong password",
       [](Form&, PostgresServer& pg) {
         pg.ExecOrFail("ALTER ROLE qorin PASSWORD 'changed'", "postgres",
                       "postgres");
       },
       [](PostgresServer& pg) {
         pg.ExecOrFail("ALTER ROLE qorin PASSWORD 'wzq'", "postgres",
                       "postgres");
       },
       "08001", "password authentication failed"},
      {"database missing",
       [](Form& f, PostgresServer&) {
         f.settings.ConnectionString =
             PostgresServer::ConnectionString("127.0.0.1", "Nowhere");
       },
       [](PostgresServer&) {}, "08001", "\"Nowhere\" does not exist"},
      {"table missing",
       [](Form&, PostgresServer& pg) { pg.DropCustomerTable(); },
       [](PostgresServer&) {}, "42P01", "updatecustomerinfo"},
      {"column missing",
       [](Form&, PostgresServer& pg) {
         pg.ExecOrFail(
             "ALTER TABLE qorin.UpdateCustomerInfo DROP COLUMN "
             "UpdateInstalled");
       },
       [](PostgresServer&) {}, "42703", "updateinstalled"},
  };
}

TEST_F(CustomerRecordTest, LoadReportsDatabaseFaults) {
  for (const DatabaseFault& f : Faults()) {
    SCOPED_TRACE(f.what);
    Reset();
    Fill({}, {{"C1", "h1", "h2", "u", "p", "1", kNull}});
    f.make(form_, pg_);
    auto start = std::chrono::steady_clock::now();
    bool loaded = LoadCustomerInfo(form_, true);
    auto took = std::chrono::steady_clock::now() - start;
    f.undo(pg_);
    EXPECT_FALSE(loaded);
    EXPECT_LT(took, std::chrono::seconds(5));
    ASSERT_EQ(window_.lines.size(), 2u);
    EXPECT_EQ(window_.lines[0], "[CUSTOMER FTP]");
    const std::string& text = window_.lines[1];
    EXPECT_EQ(text.rfind("-2147467259-[" + std::string(f.state) + "] ", 0), 0u)
        << text;
    EXPECT_NE(text.find(f.detail), std::string::npos) << text;
    EXPECT_EQ(form_.settings.LastError, text);
    EXPECT_EQ(Describe(form_.customer), Describe(kEarlier));
    EXPECT_FALSE(window_.use_alternate_enabled);
  }
}

// The login time-out is a deployment value; a hanging server costs that
// long and no more.
TEST_F(CustomerRecordTest, LoadGivesUpOnASilentServer) {
  SilentListener silent;
  sb_.env().Set("PGPORT", std::to_string(silent.port()));
  sb_.env().Set("MVUPDATE_DB_LOGIN_TIMEOUT", "1");
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(LoadCustomerInfo(form_, true));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
  EXPECT_EQ(
      window_.lines,
      (std::vector<std::string>{
          "[CUSTOMER FTP]",
          "-2147467259-[08001] connection to server at \"127.0.0.1\", "
          "port " +
              std::to_string(silent.port()) + " failed: timeout expired"}));
}

// The rows after an update, sorted, with a LastUpdatedDate written during
// [before, after] shown as "<now>".
std::vector<std::string> RowsAfter(PostgresServer& pg, const DateTime& before,
                                   const DateTime& after) {
  std::vector<std::string> rows;
  for (std::string row : pg.CustomerRows()) {
    size_t bar = row.rfind('|');
    Result<DateTime> t = ToDateTime(row.substr(bar + 1));
    if (t.ok() && before <= t.value() && t.value() <= after) {
      row = row.substr(0, bar + 1) + "<now>";
    }
    rows.push_back(row);
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::string AsPrinted(const Row& r) {
  auto v = [](const std::optional<std::string>& s) { return s.value_or(""); };
  return v(r.CustomerNum) + "|" + v(r.FTPSiteAddress1) + "|" +
         v(r.FTPSiteAddress2) + "|" + v(r.UserName) + "|" + v(r.Password) +
         "|" + v(r.UpdateInstalled) + "|" + v(r.LastUpdatedDate);
}

std::optional<std::string>& Column(Row& r, int i) {
  std::optional<std::string>* columns[] = {
      &r.CustomerNum, &r.FTPSiteAddress1, &r.FTPSiteAddress2, &r.UserName,
      &r.Password,    &r.UpdateInstalled, &r.LastUpdatedDate};
  return *columns[i];
}

TEST_F(CustomerRecordTest, RecordUpdatesTheFirstRowOnly) {
  const Row kRow = {"C1", "h1", "h2", "u1", "p1", "5", "2026-01-02 03:04:05"};
  auto with = [&](std::function<void(Row&)> change) {
    Row r = kRow;
    change(r);
    return r;
  };
  struct Case {
    std::string what;
    std::vector<Row> rows;
    std::vector<bool> updated;  // per row
    CustomerColumnTypes types = {};
    int32_t installation_type = 0;
  };
  std::vector<Case> cases = {
      {"one row", {kRow}, {true}},
      {"a client leaves the row alone", {kRow}, {false}, {}, 1},
      {"several rows",
       {kRow, with([](Row& r) { r.CustomerNum = "C2"; }),
        with([](Row& r) { r.CustomerNum = "C3"; })},
       {true, false, false}},
      {"identical rows cannot be told apart",
       {kRow, kRow, with([](Row& r) { r.CustomerNum = "C2"; })},
       {true, true, false}},
      {"a fraction of a second tells rows apart",
       {with([](Row& r) { r.LastUpdatedDate = "2026-01-02 03:04:05.25"; }),
        with([](Row& r) { r.LastUpdatedDate = "2026-01-02 03:04:05.5"; })},
       {true, false}},
      {"a time zone",
       {with([](Row& r) { r.LastUpdatedDate = "2026-01-02 03:04:05+00"; })},
       {true},
       {.LastUpdatedDate = "timestamptz"}},
      {"a very long text",
       {with([](Row& r) { r.UserName = std::string(10000, 'u'); }),
        with([](Row& r) { r.UserName = std::string(10000, 'u') + "2"; })},
       {true, false},
       {.UserName = "text"}},
      {"an update number that is not a number",
       {with([](Row& r) { r.UpdateInstalled = "abc"; })},
       {true},
       {.UpdateInstalled = "varchar(20)"}},
  };
  // A NULL in any column: the row with the NULL and its twin with a value
  // are told apart, whichever comes first.
  static const char* kNames[] = {
      "CustomerNum", "FTPSiteAddress1", "FTPSiteAddress2", "UserName",
      "Password",    "UpdateInstalled", "LastUpdatedDate"};
  for (int i = 0; i < 7; ++i) {
    Row null_row = kRow;
    Column(null_row, i) = kNull;
    cases.push_back({std::string("NULL ") + kNames[i] + " first",
                     {null_row, kRow},
                     {true, false}});
    cases.push_back({std::string("NULL ") + kNames[i] + " second",
                     {kRow, null_row},
                     {true, false}});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Reset();
    form_.settings.InstallationType = c.installation_type;
    Fill(c.types, c.rows);
    DateTime before = Now();
    EXPECT_TRUE(UpdateCustomerInfoRecord(form_, 7)) << form_.settings.LastError;
    DateTime after = Now();
    EXPECT_EQ(window_.lines, std::vector<std::string>{});
    std::vector<std::string> expected;
    for (size_t i = 0; i < c.rows.size(); ++i) {
      Row r = c.rows[i];
      if (c.updated[i]) {
        r.UpdateInstalled = "7";
        r.LastUpdatedDate = "<now>";
      }
      expected.push_back(AsPrinted(r));
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(RowsAfter(pg_, before, after), expected);
  }
}

TEST_F(CustomerRecordTest, RecordWritesTheDateAsText) {
  Fill({.LastUpdatedDate = "varchar(30)"},
       {{"C1", "h1", "h2", "u1", "p1", "5", kNull}});
  ASSERT_TRUE(UpdateCustomerInfoRecord(form_, 12)) << form_.settings.LastError;
  std::vector<std::string> rows = pg_.CustomerRows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_TRUE(std::regex_match(
      rows[0], std::regex(R"(C1\|h1\|h2\|u1\|p1\|12\|\d\d/\d\d/\d{4} )"
                          R"(\d\d:\d\d:\d\d)")))
      << rows[0];
}

TEST_F(CustomerRecordTest, RecordWithoutARow) {
  for (int32_t type : {0, 1}) {
    SCOPED_TRACE(type);
    Reset();
    form_.settings.InstallationType = type;
    Fill({}, {});
    EXPECT_FALSE(UpdateCustomerInfoRecord(form_, 7));
    EXPECT_EQ(window_.lines,
              (std::vector<std::string>{
                  "!!! Entry in UpdateCustomerInfo Table does NOT exist. ",
                  std::string("  ") + kRecordQuery}));
    EXPECT_EQ(form_.settings.LastError, "");
  }
  std::vector<std::string> file = ReadCrLfLines(sb_.event_log());
  EXPECT_NE(std::find(file.begin(), file.end(),
                      std::string("\t***Warning::  ") + kRecordQuery),
            file.end());
}

TEST_F(CustomerRecordTest, RecordReportsDatabaseFaults) {
  std::vector<DatabaseFault> faults = Faults();
  // A row the login may read but not change.
  faults.push_back(
      {"row cannot be saved",
       [](Form&, PostgresServer& pg) {
         pg.ExecOrFail(
             "ALTER TABLE qorin.UpdateCustomerInfo OWNER TO postgres;"
             "GRANT SELECT ON qorin.UpdateCustomerInfo TO qorin;",
             "postgres");
       },
       [](PostgresServer& pg) {
         pg.ExecOrFail("ALTER TABLE qorin.UpdateCustomerInfo OWNER TO qorin;",
                       "postgres");
       },
       "42501", "permission denied"});
  for (const DatabaseFault& f : faults) {
    SCOPED_TRACE(f.what);
    Reset();
    Fill({}, {{"C1", "h1", "h2", "u", "p", "1", kNull}});
    f.make(form_, pg_);
    bool saved = UpdateCustomerInfoRecord(form_, 7);
    f.undo(pg_);
    EXPECT_FALSE(saved);
    ASSERT_EQ(window_.lines.size(), 1u);
    const std::string& text = window_.lines[0];
    EXPECT_EQ(text.rfind("-2147467259-[" + std::string(f.state) + "] ", 0), 0u)
        << text;
    EXPECT_NE(text.find(f.detail), std::string::npos) << text;
    EXPECT_EQ(form_.settings.LastError, "********** ERROR: " + text);
  }
}

}  // namespace
}  // namespace mv
