#include "data/customer_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>

#include "app/form.h"
#include "app/startup.h"
#include "data/column_values.h"
#include "support/ftp_server.h"
#include "support/postgres_server.h"
#include "support/recording_window.h"
#include "support/sandbox.h"

namespace mv {
namespace {

using Row = CustomerRow;
constexpr auto kNull = std::nullopt;
constexpr char kDate[] = "2026-01-02 03:04:05";
constexpr char kLoadQuery[] =
    "SELECT CustomerNum, FTPSiteAddress1, FTPSiteAddress2, UserName, "
    "Password, UpdateInstalled, LastUpdatedDate FROM qorin.UpdateCustomerInfo";

// What an earlier load left in the record.
const CustomerUpdateInfo kEarlier = {
    "OLD", "old1", "old2", "olduser", "oldpw", 42, {2020, 1, 2, 3, 4, 5}};

std::string Describe(const CustomerUpdateInfo& c) {
  return c.CustomerNum + "|" + c.FTPSiteAddress1 + "|" + c.FTPSiteAddress2 +
         "|" + c.UserName + "|" + c.Password + "|" +
         std::to_string(c.UpdateInstalled) + "|" +
         FormatStampDigits(c.LastUpdatedDate);
}

class CustomerRecordTest : public testing::Test {
 protected:
  CustomerRecordTest() {
    pg_.UseIn(sb_.env());
    sb_.env().Set("MVUPDATE_DEFAULT_FTP_PRIMARY", "FTP1.TEST");
    sb_.env().Set("MVUPDATE_DEFAULT_FTP_ALTERNATE", "FTP2.TEST");
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

  Sandbox sb_;
  PostgresServer& pg_ = PostgresServer::Get();
  RecordingWindow window_;
  Form form_{window_, sb_.config()};
};

// The first row is taken, with default hosts where the customer has none.
// A value that cannot be taken ends the load at once with an Error line:
// the fields before it hold the new values, the others the earlier ones,
// and "Use Alternate" stays off.
TEST_F(CustomerRecordTest, LoadReadsTheFirstRow) {
  struct Case {
    const char* what;
    std::vector<Row> rows;
    const char* expected;  // as Describe gives it
    CustomerColumnTypes types = {};
    const char* failure = "";
  } cases[] = {
      {"no primary host and a blank alternate: both defaults, swapped",
       {{"C1", kNull, "   ", "u", "p", "5", kDate}},
       "C1|FTP2.TEST|FTP1.TEST|u|p|5|260102030405"},
      {"no alternate host: the default alternate",
       {{"C1", "h1", kNull, "u", "p", "5", kDate}},
       "C1|h1|FTP2.TEST|u|p|5|260102030405"},
      {"the default primary in lower case drops the customer's alternate",
       {{"C1", "  ftp1.test ", "h2", "u", "p", "5", kDate}},
       "C1|FTP2.TEST|FTP1.TEST|u|p|5|260102030405"},
      {"values are kept as stored, blanks included",
       {{" C1 ", " h1 ", "h2", "u 1 ", "p", "5", kDate}},
       " C1 | h1 |h2|u 1 |p|5|260102030405"},
      {"no update number: 1000, no date: the earlier date stays",
       {{"C1", "h1", "h2", "u", "p", kNull, kNull}},
       "C1|h1|h2|u|p|1000|200102030405"},
      {"a decimal update number is rounded, a date kept as text",
       {{"C1", "h1", "h2", "u", "p", "7.50", "12/06/2026 16:08:27"}},
       "C1|h1|h2|u|p|8|261206160827",
       {.UpdateInstalled = "numeric(10,2)", .LastUpdatedDate = "varchar(30)"}},
      {"only the first of several rows",
       {{"C1", "h1", "h2", "u", "p", "5", kDate},
        {"C2", "h1", "h2", "u", "p", "5", kDate}},
       "C1|h1|h2|u|p|5|260102030405"},
      {"no user name",
       {{"C1", "h1", "h2", kNull, "p", "5", kDate}},
       "C1|h1|h2|olduser|oldpw|42|200102030405",
       {},
       "94-Invalid use of Null"},
      {"an update number beyond 32 bits",
       {{"C1", "h1", "h2", "u", "p", "3000000000", kDate}},
       "C1|h1|h2|u|p|42|200102030405",
       {.UpdateInstalled = "bigint"},
       "6-Overflow"},
      {"a date that is no date",
       {{"C1", "h1", "h2", "u", "p", "5", "soon"}},
       "C1|h1|h2|u|p|5|200102030405",
       {.LastUpdatedDate = "varchar(30)"},
       "13-Type mismatch"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Reset();
    pg_.CreateCustomerTable(c.types, c.rows);
    bool ok = *c.failure == '\0';
    EXPECT_EQ(LoadCustomerInfo(form_, true), ok) << form_.settings.LastError;
    EXPECT_EQ(Describe(form_.customer), c.expected);
    const CustomerUpdateInfo& e = form_.customer;
    std::vector<std::string> lines = {"[CUSTOMER FTP]", c.failure};
    if (ok) {
      lines = {"[CUSTOMER FTP]",
               "Customer Number  : " + e.CustomerNum,
               "Host IP Address  : " + e.FTPSiteAddress1,
               "Alt IP Address   : " + e.FTPSiteAddress2,
               "User Name        : " + e.UserName,
               " "};
    }
    EXPECT_EQ(window_.lines, lines);
    EXPECT_EQ(window_.use_alternate_enabled, ok);
    EXPECT_EQ(form_.settings.LastError, c.failure);
  }
}

TEST_F(CustomerRecordTest, LoadFromAnEmptyTable) {
  struct Case {
    std::string earlier_alternate;
    bool enabled;
  } cases[] = {{"", false}, {"old2", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.earlier_alternate);
    Reset();
    form_.customer.FTPSiteAddress2 = c.earlier_alternate;
    CustomerUpdateInfo before = form_.customer;
    pg_.CreateCustomerTable({}, {});
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

void SetPassword(PostgresServer& pg, const char* password) {
  pg.ExecOrFail(std::string("ALTER ROLE qorin PASSWORD '") + password + "'",
                "postgres", "postgres");
}

void SetOwner(PostgresServer& pg, const char* owner) {
  pg.ExecOrFail(std::string("ALTER TABLE qorin.UpdateCustomerInfo OWNER TO ") +
                    owner +
                    ";GRANT SELECT ON qorin.UpdateCustomerInfo TO qorin",
                "postgres");
}

// Failures of the server, the login or the table, while loading and then
// recording: each fails quickly with one Error line holding the driver's
// SQLSTATE, and the record loaded before stays.
TEST_F(CustomerRecordTest, DatabaseFaults) {
  using Change = std::function<void(PostgresServer&)>;
  struct Fault {
    const char* what;
    Change make, undo;
    const char* state;
    const char* detail;  // part of the driver's message
  } faults[] = {
      {"server down", [](PostgresServer& pg) { pg.Stop(); },
       [](PostgresServer& pg) { pg.Start(); }, "08001", "Connection refused"},
      {"wrong password", [](PostgresServer& pg) { SetPassword(pg, "x"); },
       [](PostgresServer& pg) { SetPassword(pg, "wzq"); }, "08001",
       "password authentication failed"},
      {"table missing",
       [](PostgresServer& pg) {
         pg.ExecOrFail("DROP TABLE qorin.UpdateCustomerInfo");
       },
       [](PostgresServer&) {}, "42P01", "updatecustomerinfo"},
      // A row the login may read but not change.
      {"row cannot be saved",
       [](PostgresServer& pg) { SetOwner(pg, "postgres"); },
       [](PostgresServer& pg) { SetOwner(pg, "qorin"); }, "42501",
       "permission denied"},
  };
  for (const Fault& f : faults) {
    SCOPED_TRACE(f.what);
    Reset();
    pg_.CreateCustomerTable({}, {{"C1", "h1", "h2", "u", "p", "1", kNull}});
    f.make(pg_);
    auto start = std::chrono::steady_clock::now();
    bool loaded = LoadCustomerInfo(form_, true);
    std::vector<std::string> load_lines = window_.lines;
    window_.lines.clear();
    bool saved = UpdateCustomerInfoRecord(form_, 7);
    auto took = std::chrono::steady_clock::now() - start;
    f.undo(pg_);
    EXPECT_FALSE(saved);
    EXPECT_LT(took, std::chrono::seconds(8));
    ASSERT_EQ(window_.lines.size(), 1u);
    auto driver_text = [&](const std::string& text) {
      EXPECT_EQ(text.rfind("-2147467259-[" + std::string(f.state) + "] ", 0),
                0u)
          << text;
      EXPECT_NE(text.find(f.detail), std::string::npos) << text;
    };
    driver_text(window_.lines[0]);
    EXPECT_EQ(form_.settings.LastError,
              "********** ERROR: " + window_.lines[0]);
    if (f.state == std::string("42501")) continue;  // the row could be read
    EXPECT_FALSE(loaded);
    ASSERT_EQ(load_lines.size(), 2u);
    EXPECT_EQ(load_lines[0], "[CUSTOMER FTP]");
    driver_text(load_lines[1]);
    EXPECT_EQ(Describe(form_.customer), Describe(kEarlier));
    EXPECT_FALSE(window_.use_alternate_enabled);
  }
}

// The login time-out is a deployment value; a hanging server costs that
// long and no more.
TEST_F(CustomerRecordTest, LoadGivesUpOnASilentServer) {
  SilentServer silent;
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

// The first row is found again by all its values, NULLs and fractions of
// a second included; rows that differ from it keep their values.
TEST_F(CustomerRecordTest, RecordUpdatesTheFirstRowOnly) {
  const Row kRow = {"C1", "h1", "h2", "u1", "p1", "5", kDate};
  struct Case {
    std::string what;
    std::vector<Row> rows;
    std::vector<bool> updated;  // per row
    CustomerColumnTypes types = {};
    int32_t installation_type = 0;
  };
  Row c2 = kRow, fraction = kRow, later = kRow, zone = kRow;
  c2.CustomerNum = "C2";
  fraction.LastUpdatedDate = "2026-01-02 03:04:05.25";
  later.LastUpdatedDate = "2026-01-02 03:04:05.5";
  zone.LastUpdatedDate = "2026-01-02 03:04:05+00";
  std::vector<Case> cases = {
      {"a client leaves the row alone", {kRow}, {false}, {}, 1},
      {"several rows", {kRow, c2, c2}, {true, false, false}},
      {"identical rows cannot be told apart",
       {kRow, kRow, c2},
       {true, true, false}},
      {"a fraction of a second", {fraction, later}, {true, false}},
      {"a time zone", {zone}, {true}, {.LastUpdatedDate = "timestamptz"}},
      {"a date kept as text",
       {kRow},
       {true},
       {.LastUpdatedDate = "varchar(30)"}},
  };
  std::optional<std::string> Row::*columns[] = {
      &Row::CustomerNum,    &Row::FTPSiteAddress1, &Row::FTPSiteAddress2,
      &Row::UserName,       &Row::Password,        &Row::UpdateInstalled,
      &Row::LastUpdatedDate};
  for (int i = 0; i < 7; ++i) {
    Row null_row = kRow;
    null_row.*columns[i] = kNull;
    std::string what = "NULL in column " + std::to_string(i);
    cases.push_back({what + " first", {null_row, kRow}, {true, false}});
    cases.push_back({what + " second", {kRow, null_row}, {true, false}});
  }
  auto printed = [&](const Row& r) {
    std::string s;
    for (auto column : columns) s += (r.*column).value_or("") + "|";
    return s;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Reset();
    form_.settings.InstallationType = c.installation_type;
    pg_.CreateCustomerTable(c.types, c.rows);
    DateTime before = Now();
    EXPECT_TRUE(UpdateCustomerInfoRecord(form_, 7)) << form_.settings.LastError;
    DateTime after = Now();
    EXPECT_EQ(window_.lines, std::vector<std::string>{});
    std::vector<std::string> expected, got;
    for (size_t i = 0; i < c.rows.size(); ++i) {
      Row r = c.rows[i];
      if (c.updated[i]) r.UpdateInstalled = "7", r.LastUpdatedDate = "<now>";
      expected.push_back(printed(r));
    }
    // Rows as the server prints them, a date written just now as "<now>".
    for (std::string row : pg_.CustomerRows()) {
      size_t bar = row.rfind('|');
      Result<DateTime> t = ToDateTime(row.substr(bar + 1));
      if (t.ok() && before <= t.value() && t.value() <= after) {
        row = row.substr(0, bar + 1) + "<now>";
      }
      got.push_back(row + "|");
    }
    std::sort(expected.begin(), expected.end());
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, expected);
  }
}

TEST_F(CustomerRecordTest, RecordWithoutARow) {
  const std::string query =
      "SELECT CustomerNum, FTPSiteAddress1, FTPSiteAddress2, UserName, "
      "Password, UpdateInstalled, LastUpdatedDate FROM UpdateCustomerInfo";
  pg_.CreateCustomerTable({}, {});
  EXPECT_FALSE(UpdateCustomerInfoRecord(form_, 7));
  EXPECT_EQ(window_.lines,
            (std::vector<std::string>{
                "!!! Entry in UpdateCustomerInfo Table does NOT exist. ",
                "  " + query}));
  EXPECT_EQ(form_.settings.LastError, "");
  std::vector<std::string> file = ReadCrLfLines(sb_.event_log());
  EXPECT_NE(std::find(file.begin(), file.end(), "\t***Warning::  " + query),
            file.end());
}

}  // namespace
}  // namespace mv
