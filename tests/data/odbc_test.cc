#include "data/odbc.h"

#include <gtest/gtest.h>

#include <chrono>

#include "support/postgres_server.h"
#include "support/sandbox.h"

namespace mv {
namespace {

TEST(OdbcSecretsTest, PasswordsOfConnectionStrings) {
  struct Case {
    const char* cs;
    std::vector<std::string> secrets;
  } cases[] = {
      {"driver={SQL Server};server=S;uid=qorin;pwd=wzq;database=Q", {"wzq"}},
      {"DRIVER={SQL Server};PWD=wzq", {"wzq"}},
      {"Password=s3;uid=u", {"s3"}},
      {"uid=u;pwd= sp ;x=y", {" sp ", "sp"}},
      {"uid=u;pwd={a;b}}c};x=y", {"a;b}c", "a"}},
      {"pwd=one;database=Q;pwd=two", {"one", "two"}},
      // An unbalanced brace hides the password from a careful parser; the
      // plain scan still finds it.
      {"server={h;uid=qorin;pwd=wzq;database=Q", {"wzq"}},
      {"driver={SQL Server};server=S;uid=qorin", {}},
      {"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cs);
    EXPECT_EQ(ConnectionStringSecrets(c.cs), c.secrets);
  }
}

TEST(OdbcSecretsTest, Masking) {
  struct Case {
    const char* text;
    std::vector<std::string> secrets;
    const char* masked;
  } cases[] = {
      {"login wzq failed for wzq", {"wzq"}, "login **** failed for ****"},
      {"nothing here", {"wzq"}, "nothing here"},
      {"empty secrets change nothing", {""}, "empty secrets change nothing"},
      {"pw abcdef", {"abc", "abcdef"}, "pw ****"},
      {"wzqwzq", {"wzq"}, "********"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(MaskSecrets(c.text, c.secrets), c.masked);
  }
}

// The driver manager names the missing driver in its message; a driver
// named like the password shows that driver messages are masked.
TEST(OdbcConnectionTest, DriverMessagesAreMasked) {
  Sandbox sb;
  Result<OdbcConnection> c =
      OdbcConnection::Open("driver={Secret-77};uid=u;pwd=Secret-77", {});
  ASSERT_FALSE(c.ok());
  EXPECT_EQ(c.failure().number(), kDatabaseError);
  EXPECT_EQ(c.failure().description().find("Secret-77"), std::string::npos)
      << c.failure().description();
  EXPECT_NE(c.failure().description().find("'****'"), std::string::npos)
      << c.failure().description();
}

class OdbcServerTest : public testing::Test {
 protected:
  void SetUp() override {
    pg_.UseIn(sb_.env());
    pg_.CreateCustomerTable({.UserName = "text"});
  }
  Result<OdbcConnection> Open() {
    return OdbcConnection::Open(PostgresServer::ConnectionString(), {});
  }

  Sandbox sb_;
  PostgresServer& pg_ = PostgresServer::Get();
};

TEST_F(OdbcServerTest, ReadsRowsAndColumnsByName) {
  pg_.InsertCustomer({"C1", "h1", std::nullopt, std::string(100000, 'u'), "p",
                      "5", "2026-01-02 03:04:05"});
  pg_.InsertCustomer({"C2", "", "h2", "", "", std::nullopt, std::nullopt});
  Result<OdbcConnection> db = Open();
  ASSERT_TRUE(db.ok()) << db.failure().Text();
  Result<OdbcRows> rows = db.value().Query(
      "SELECT CustomerNum, FTPSiteAddress1, FTPSiteAddress2, UserName, "
      "UpdateInstalled, LastUpdatedDate FROM qorin.UpdateCustomerInfo");
  ASSERT_TRUE(rows.ok()) << rows.failure().Text();
  OdbcRows& r = rows.value();
  ASSERT_EQ(r.columns().size(), 6u);
  using Value = std::optional<std::string>;
  struct Row {
    std::vector<std::pair<const char*, Value>> columns;
  } expected[] = {
      // Read out of column order: later columns first, then earlier ones.
      {{{"LASTUPDATEDDATE", "2026-01-02 03:04:05"},
        {"customernum", "C1"},
        {"UpdateInstalled", "5"},
        {"FTPSiteAddress2", std::nullopt},
        {"UserName", std::string(100000, 'u')},
        {"CustomerNum", "C1"}}},
      {{{"CustomerNum", "C2"},
        {"FTPSiteAddress1", ""},
        {"UserName", ""},
        {"UpdateInstalled", std::nullopt},
        {"LastUpdatedDate", std::nullopt}}},
  };
  for (const Row& row : expected) {
    ASSERT_FALSE(r.eof());
    for (const auto& [name, value] : row.columns) {
      SCOPED_TRACE(name);
      Result<Value> v = r.Get(name);
      ASSERT_TRUE(v.ok()) << v.failure().Text();
      EXPECT_EQ(v.value(), value);
    }
    Result<Value> unknown = r.Get("Password");
    ASSERT_FALSE(unknown.ok());
    EXPECT_EQ(unknown.failure().number(), kDatabaseError);
    ASSERT_TRUE(r.Next().ok());
  }
  EXPECT_TRUE(r.eof());
  EXPECT_EQ(r.Get("CustomerNum").failure().number(), kNoCurrentRecord);
}

TEST_F(OdbcServerTest, ExecuteCountsRowsAndReportsFailures) {
  for (const char* num : {"A", "B", "B"}) {
    pg_.InsertCustomer({num, "h", "h", "u", "p", "1", "2026-01-02 03:04:05"});
  }
  Result<OdbcConnection> db = Open();
  ASSERT_TRUE(db.ok()) << db.failure().Text();
  struct Case {
    const char* sql;
    std::vector<OdbcParam> params;
    int64_t rows;            // when state is empty
    const char* state = "";  // SQLSTATE of the failure
  } cases[] = {
      {"UPDATE UpdateCustomerInfo SET UpdateInstalled = ? WHERE "
       "CustomerNum = ?",
       {OdbcParam::Text("7"), OdbcParam::Text("A")},
       1},
      {"UPDATE UpdateCustomerInfo SET UpdateInstalled = ? WHERE "
       "CustomerNum = ?",
       {OdbcParam::Text("8"), OdbcParam::Text("B")},
       2},
      {"UPDATE UpdateCustomerInfo SET UpdateInstalled = 9 WHERE "
       "CustomerNum = ?",
       {OdbcParam::Text("none")},
       0},
      {"UPDATE UpdateCustomerInfo SET UpdateInstalled = ?",
       {OdbcParam::Text("not a number")},
       0,
       "22P02"},
      {"UPDATE NoSuchTable SET x = 1", {}, 0, "42P01"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    Result<int64_t> r = db.value().Execute(c.sql, c.params);
    if (*c.state == '\0') {
      ASSERT_TRUE(r.ok()) << r.failure().Text();
      EXPECT_EQ(r.value(), c.rows);
    } else {
      ASSERT_FALSE(r.ok());
      EXPECT_EQ(r.failure().number(), kDatabaseError);
      std::string head = "[";
      head += c.state;
      head += "] ";
      EXPECT_EQ(r.failure().description().rfind(head, 0), 0u)
          << r.failure().description();
      EXPECT_EQ(r.failure().description().find('\n'), std::string::npos);
    }
  }
  EXPECT_EQ(pg_.CustomerRows(),
            (std::vector<std::string>{"A|h|h|u|p|7|2026-01-02 03:04:05",
                                      "B|h|h|u|p|8|2026-01-02 03:04:05",
                                      "B|h|h|u|p|8|2026-01-02 03:04:05"}));
}

// A server that accepts the connection and never answers: the login
// time-out ends the wait.
TEST(OdbcTimeoutTest, SilentServerFailsWithinTheLoginTimeout) {
  Sandbox sb;
  PostgresServer::Get().UseIn(sb.env());
  SilentListener silent;
  sb.env().Set("PGPORT", std::to_string(silent.port()));
  auto start = std::chrono::steady_clock::now();
  Result<OdbcConnection> c = OdbcConnection::Open(
      PostgresServer::ConnectionString(), {.login_seconds = 1});
  auto took = std::chrono::steady_clock::now() - start;
  ASSERT_FALSE(c.ok());
  EXPECT_EQ(c.failure().description().rfind("[08001] ", 0), 0u)
      << c.failure().description();
  EXPECT_LT(took, std::chrono::seconds(4));
}

}  // namespace
}  // namespace mv
