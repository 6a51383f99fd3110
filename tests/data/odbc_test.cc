#include "data/odbc.h"

#include <gtest/gtest.h>

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
      {"Password=s3;uid=u", {"s3"}},
      {"uid=u;pwd= sp ;x=y", {" sp ", "sp"}},
      {"uid=u;pwd={a;b}}c};x=y", {"a;b}c", "a"}},
      {"pwd=one;database=Q;pwd=two", {"one", "two"}},
      // An unbalanced brace hides the password from a careful parser; the
      // plain scan still finds it.
      {"server={h;uid=qorin;pwd=wzq;database=Q", {"wzq"}},
      {"driver={SQL Server};server=S;uid=qorin", {}},
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

TEST(OdbcServerTest, ReadsRowsAndColumnsByName) {
  Sandbox sb;
  PostgresServer& pg = PostgresServer::Get();
  pg.UseIn(sb.env());
  pg.CreateCustomerTable(
      {.UserName = "text"},
      {{"C1", "h1", std::nullopt, std::string(100000, 'u'), "p", "5",
        "2026-01-02 03:04:05"},
       {"C2", "", "h2", "", "", std::nullopt, std::nullopt}});
  Result<OdbcConnection> db =
      OdbcConnection::Open(PostgresServer::ConnectionString(), {});
  ASSERT_TRUE(db.ok()) << db.failure().Text();
  Result<OdbcRows> rows = db.value().Query(
      "SELECT CustomerNum, FTPSiteAddress1, FTPSiteAddress2, UserName, "
      "UpdateInstalled, LastUpdatedDate FROM qorin.UpdateCustomerInfo");
  ASSERT_TRUE(rows.ok()) << rows.failure().Text();
  OdbcRows& r = rows.value();
  ASSERT_EQ(r.columns().size(), 6u);
  using Value = std::optional<std::string>;
  const std::vector<std::pair<const char*, Value>> expected[] = {
      // Read out of column order: later columns first, then earlier ones.
      {{"LASTUPDATEDDATE", "2026-01-02 03:04:05"},
       {"customernum", "C1"},
       {"UpdateInstalled", "5"},
       {"FTPSiteAddress2", std::nullopt},
       {"UserName", std::string(100000, 'u')},
       {"CustomerNum", "C1"}},
      {{"CustomerNum", "C2"},
       {"FTPSiteAddress1", ""},
       {"UserName", ""},
       {"UpdateInstalled", std::nullopt},
       {"LastUpdatedDate", std::nullopt}},
  };
  for (const auto& row : expected) {
    ASSERT_FALSE(r.eof());
    for (const auto& [name, value] : row) {
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

}  // namespace
}  // namespace mv
