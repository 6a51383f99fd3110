#include "data/customer_record.h"

#include <fnmatch.h>
#include <gtest/gtest.h>

#include <chrono>

#include "app/form.h"
#include "app/startup.h"
#include "data/column_values.h"
#include "data/odbc.h"
#include "support/ftp_server.h"
#include "support/installation.h"
#include "support/postgres_server.h"

namespace mv {
namespace {

TEST(ColumnValuesTest, ToDateTime) {
  const char* cases[][2] = {
      {"2026-12-06 16:08:27+01", "12/06/2026 16:08:27"},
      {"2026-12-06 16:08:27.999999-05:30", "12/06/2026 16:08:27"},
      {"2026-12-06", "12/06/2026 00:00:00"},
      {"2024-02-29 00:00:00", "02/29/2024 00:00:00"},
      {"12/6/2026 4:08:27 PM", "12/06/2026 16:08:27"},
      {"12/6/2026 12:00:01 AM", "12/06/2026 00:00:01"},
      {"12/6/2026 12:30 pm", "12/06/2026 12:30:00"}};
  for (auto [text, value] : cases)
    EXPECT_EQ(FormatMmDdYyyy(ToDateTime(text).value()), value) << text;
  for (const char* text :
       {"not a date", "2023-02-29", "2026-04-31", "2026-1-2", "0099-12-31",
        "2026-12-06 24:00:00", "2026-12-06 16:08:27 junk", "12/06/26",
        "12/6/2026 13:00 PM", "12/6/2026 0:00 AM"})
    EXPECT_EQ(ToDateTime(text).failure().number(), kTypeMismatch) << text;
}

using Field = std::optional<std::string> CustomerRow::*;
constexpr Field kColumns[] = {
    &CustomerRow::CustomerNum,     &CustomerRow::FTPSiteAddress1,
    &CustomerRow::FTPSiteAddress2, &CustomerRow::UserName,
    &CustomerRow::Password,        &CustomerRow::UpdateInstalled,
    &CustomerRow::LastUpdatedDate};

// Rows written as psql prints them: "C1|h1||u|p|5|2026-01-02 03:04:05", an
// empty field being NULL.
std::vector<CustomerRow> Rows(const Lines& texts) {
  std::vector<CustomerRow> rows(texts.size());
  for (size_t i = 0, at = 0; i < texts.size(); ++i, at = 0) {
    for (Field column : kColumns) {
      size_t end = std::min(texts[i].find('|', at), texts[i].size());
      if (end > at) rows[i].*column = texts[i].substr(at, end - at);
      at = end + 1;
    }
  }
  return rows;
}

class CustomerRecordTest : public testing::Test {
 protected:
  CustomerRecordTest() {
    pg_.UseIn(in_.sb.env());
    in_.settings.connection_string = PostgresServer::ConnectionString();
    in_.settings.database = {.login_timeout_seconds = 1,
                             .default_primary_host = "FTP1.TEST",
                             .default_alternate_host = "FTP2.TEST"};
  }

  // Loads an earlier record from a table of `rows`, then records update 7, the
  // fault made by `port` (PGPORT) or `fault` (SQL as postgres; `mend` undoes
  // it). `loaded`: the record after the load; `load`, `record`: patterns of the
  // lines each logs (the load's after its first); `errors`: Error lines.
  void Check(const Lines& rows, const std::string& loaded,
             const std::string& load = "", const std::string& record = "",
             int errors = 0, const CustomerColumnTypes& types = {},
             int port = 0, const std::string& fault = "",
             const std::string& mend = "") {
    SCOPED_TRACE(loaded.substr(0, 40) + " " + fault + record);
    pg_.CreateCustomerTable(types, Rows(rows));
    if (port) in_.sb.env().Set("PGPORT", std::to_string(port));
    if (!fault.empty()) pg_.ExecOrFail(fault, "postgres");
    in_.window.lines.clear();
    int errors_before = in_.log.error_lines();
    CustomerUpdateInfo c = {
        "OLD", "o1", "o2", "ou", "op", 42, {2020, 1, 2, 3, 4, 5}};
    auto start = std::chrono::steady_clock::now();
    bool load_ok = LoadCustomerInfo(in_.settings.connection_string,
                                    in_.settings.database, c, in_.log, true);
    std::string load_lines = Joined(in_.window.lines, 1);
    in_.window.lines.clear();
    Result<bool> recorded =
        UpdateCustomerInfoRecord(in_.settings, in_.log, 7, Now());
    // The failure as the installation logs it on a client.
    if (!recorded.ok()) in_.log.Error(recorded.failure().Text());
    bool record_ok = recorded.ok() && recorded.value();
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::seconds(10));  // far below a statement time-out
    pg_.UseIn(in_.sb.env());
    if (!mend.empty()) pg_.ExecOrFail(mend, "postgres");
    EXPECT_EQ(load_ok, load.empty());
    EXPECT_EQ(c.customer_number + "|" + c.site_address1 + "|" +
                  c.site_address2 + "|" + c.user_name + "|" + c.password + "|" +
                  std::to_string(c.update_installed) + "|" +
                  FormatMmDdYyyy(c.last_updated),
              loaded);
    EXPECT_EQ(c.table_read, load_ok || rows.empty());
    EXPECT_EQ(fnmatch(load_ok ? "*" : load.c_str(), load_lines.c_str(), 0), 0)
        << load_lines;
    EXPECT_EQ(record_ok, record.empty());
    std::string record_lines = Joined(in_.window.lines);
    EXPECT_EQ(fnmatch(record.c_str(), record_lines.c_str(), 0), 0)
        << record_lines;
    EXPECT_EQ(in_.log.error_lines() - errors_before, errors);
  }

  Installation in_;
  PostgresServer& pg_ = PostgresServer::Get();
};

// The first row is taken, default hosts standing in for missing ones; a value
// that cannot be taken ends the load, the fields before it holding new values.
// A failing server, login or table gives each step an Error line in time.
TEST_F(CustomerRecordTest, LoadAndRecord) {
  const std::string in = "|2026-01-02 03:04:05", out = "|01/02/2026 03:04:05";
  const std::string row = "C1|h1|h2|u|p|5", old_date = "|01/02/2020 03:04:05";
  const std::string old = "OLD|o1|o2|ou|op|42" + old_date;
  const std::string long_name(100000, 'u'), table = "qorin.UpdateCustomerInfo";
  // Both defaults, swapped; the default primary drops the alternate.
  Check({"C1||   |u|p|5" + in}, "C1|FTP2.TEST|FTP1.TEST|u|p|5" + out);
  Check({"C1|h1||u|p|5" + in}, "C1|h1|FTP2.TEST|u|p|5" + out);
  Check({"C1|  ftp1.test |h2|u|p|5" + in},
        "C1|FTP2.TEST|FTP1.TEST|u|p|5" + out);
  Check({" C1 | h1 |h2|" + long_name + "|p|5" + in},
        " C1 | h1 |h2|" + long_name + "|p|5" + out, "", "", 0,
        {.UserName = "text"});
  Check({"C1|h1|h2|u|p||"}, "C1|h1|h2|u|p|1000" + old_date);
  Check({"C1|h1|h2|u|p|7.50|12/06/2026 16:08:27"},
        "C1|h1|h2|u|p|8|12/06/2026 16:08:27", "", "", 0,
        {.UpdateInstalled = "numeric(10,2)", .LastUpdatedDate = "varchar(30)"});
  Check({row + in, "C2|h3|h4|v|q|6" + in}, row + out);
  Check({"C1|h1|h2||p|5" + in}, "C1|h1|h2|ou|op|42" + old_date,
        "94-Invalid use of Null\n", "", 1);
  Check({"C1|h1|h2|u|p|3000000000" + in}, "C1|h1|h2|u|p|42" + old_date,
        "6-Overflow\n", "", 1, {.UpdateInstalled = "bigint"});
  Check({row + "|soon"}, row + old_date, "13-Type mismatch\n", "", 1,
        {.LastUpdatedDate = "varchar(30)"});
  // The load's lines are Errors, the record's Warnings.
  Check({}, old,
        "!!! No entry exists in UpdateCustomerInfo table. !!! \n...SELECT *"
        "FROM qorin.UpdateCustomerInfo\n \n",
        "!!! Entry in UpdateCustomerInfo Table does NOT exist. \n  SELECT *"
        "FROM UpdateCustomerInfo\n",
        2);
  auto fails = [&](std::string pattern, int port, std::string fault = "",
                   std::string mend = "") {  // both steps alike
    Check({row}, old, pattern, pattern, 2, {}, port, fault, mend);
  };
  fails("-2147467259-*\\[08001] *Connection refused*", RefusingPort());
  SilentServer silent;
  fails("-2147467259-*\\[08001] *timeout expired\n", silent.port());
  fails("*\\[08001] *password authentication failed*", 0,
        "ALTER ROLE qorin PASSWORD 'x'", "ALTER ROLE qorin PASSWORD 'wzq'");
  fails("*\\[42P01] *relation *updatecustomerinfo\" does not exist*", 0,
        "DROP TABLE " + table);
  fails("*\\[42703] *column \"password\" does not exist*", 0,
        "ALTER TABLE " + table + " DROP Password");
  // A login that may read the row but not change it.
  Check({row}, row + old_date, "", "*\\[42501] ERROR: permission denied*", 1,
        {}, 0,
        "ALTER TABLE " + table + " OWNER TO postgres; GRANT SELECT ON " +
            table + " TO qorin",
        "ALTER TABLE " + table + " OWNER TO qorin");
  // A row that changes between reading and updating it.
  Check({row}, row + old_date, "",
        "-2147467259-Row cannot be located for updating. Some values may "
        "have been changed since it was last read.\n",
        1, {}, 0,
        "CREATE OR REPLACE FUNCTION qorin.gone() RETURNS trigger AS 'BEGIN "
        "RETURN NULL; END' LANGUAGE plpgsql; CREATE TRIGGER gone BEFORE UPDATE "
        "ON "
        "qorin.UpdateCustomerInfo FOR EACH ROW EXECUTE FUNCTION qorin.gone()");
}

// The first row is found again by all its values, NULLs and fractions of a
// second included; rows that differ from it keep their values. `updated`:
// whether each row now holds update 7 and a date of now.
TEST_F(CustomerRecordTest, RecordUpdatesTheFirstRowOnly) {
  auto record = [&](std::vector<CustomerRow> rows, std::string updated,
                    CustomerColumnTypes types = {}) {
    pg_.CreateCustomerTable(types, rows);
    // Numbers the rows in the order they were inserted.
    pg_.ExecOrFail("ALTER TABLE qorin.UpdateCustomerInfo ADD n serial");
    EXPECT_TRUE(
        UpdateCustomerInfoRecord(in_.settings, in_.log, 7, Now()).value());
    EXPECT_EQ(in_.window.lines, Lines{});
    EXPECT_EQ(pg_.ExecOrFail(
                  "SELECT string_agg(CASE WHEN UpdateInstalled = 7 AND now() - "
                  "LastUpdatedDate::timestamp < '1 min' THEN '1' ELSE '0' END, "
                  "'' ORDER BY n) FROM qorin.UpdateCustomerInfo"),
              updated + "\n");
  };
  const std::string row = "C1|h1|h2|u1|p1|5|2026-01-02 03:04:05";
  const std::string c2 = "C2" + row.substr(2);
  record(Rows({row, c2, c2}), "100");
  record(Rows({row, row, c2}), "110");  // identical rows cannot be told apart
  record(Rows({row + ".25", row + ".5"}), "10");
  record(Rows({row}), "1", {.LastUpdatedDate = "timestamptz"});
  record(Rows({row}), "1", {.LastUpdatedDate = "varchar(30)"});
  for (Field column : kColumns) {
    std::vector<CustomerRow> rows = Rows({row, row});
    rows[0].*column = std::nullopt;
    record(rows, "10");
  }
  in_.settings.installation_type = InstallationType::kClient;
  record(Rows({row}), "0");  // a client only reads the row
}

// The driver manager names a driver it cannot load in its message: a driver
// named like the password shows that the message is masked.
TEST(OdbcTest, PasswordsAreMaskedInDriverMessages) {
  Sandbox sb;
  const char* cases[][2] = {
      {"driver={a;b}}c};Password={a;b}}c};x=y", "'****'"},
      {"driver={two};pwd=one;database=Q;pwd=two", "'****'"},
      {"driver={abcdef};pwd=abc;password=abcdef", "'****'"},
      {"driver={Plain};pwd=", "'Plain'"},
      // An unclosed brace: the plain scan finds the password.
      {"driver={Secret-77;pwd=Secret-77", "'****;pwd=****'"}};
  for (auto [cs, shown] : cases) {
    std::string text = OdbcConnection::Open(cs, {}).failure().Text();
    EXPECT_NE(text.find(shown), std::string::npos) << cs << "\n" << text;
  }
}

// A failure the driver words in its own terms is led by a sentence a person
// can act on; the driver's text follows as it was.
TEST(OdbcTest, FailuresExplained) {
  const char* cases[][3] = {
      {"57014", "ERROR: canceling statement due to statement timeout",
       "did not answer in time"},
      {"HYT00", "[Microsoft][ODBC SQL Server Driver]Timeout expired",
       "did not answer in time"},
      {"08001", "FATAL:  password authentication failed for user \"qorin\"",
       "refused the login"},
      {"28000", "Login failed for user 'qorin'.", "refused the login"},
      {"08001", "could not connect to server: Connection refused",
       "cannot be reached"},
      {"IM002", "[unixODBC][Driver Manager]Data source name not found",
       "driver named in the connection string is not installed"},
      {"01000",
       "[unixODBC][Driver Manager]Can't open lib 'SQL Server' : file "
       "not found",
       "is not installed"},
      {"42P01", "relation \"x\" does not exist", ""}};
  for (auto [state, message, sentence] : cases) {
    std::string said = ExplainDatabaseFailure(state, message);
    EXPECT_EQ(said.empty(), *sentence == '\0') << state;
    EXPECT_NE(said.find(sentence), std::string::npos) << state << said;
  }
  Sandbox sb;
  EXPECT_NE(OdbcConnection::Open("driver={None}", {})
                .failure()
                .Text()
                .find("is not installed. [01000]"),
            std::string::npos);
}

// The registry's names go into the connection string as they are: a ";" adds
// an attribute (a later one wins), blanks and braces stay part of the name.
// No password shows up in the list box or the event log, whatever happens.
TEST(OdbcTest, RegistryValuesInTheConnectionString) {
  const std::string cases[][3] = {
      {"127.0.0.1;database=Other", "Quillmere",
       "\n[CUSTOMER FTP]\nCustomer Number  : C1\nHost IP Address  : h1\n"
       "Alt IP Address   : h2\nUser Name        : user1\n \n"},
      {"127.0.0.1", "Quillmere;pwd=other", "password authentication failed"},
      {" 127.0.0.1 ", "Quillmere", "translate host name \" 127.0.0.1 \""},
      {"127.0.0.1", "{Quillmere}", "database \"{Quillmere}\" does not exist"},
      {"{127.0.0.1", "Quillmere", "[08001] Connection string parse error"}};
  for (const auto& [server, database, shown] : cases) {
    Sandbox sb({.db_server = server, .db_name = database});
    PostgresServer::Get().UseIn(sb.env());
    PostgresServer::Get().CreateCustomerTable(
        {}, Rows({"C1|h1|h2|user1|ftp-secret-9|5|"}));
    RecordingWindow window;
    Form form(window, sb.config());
    StartUp(form);
    std::string all = ReadFile(sb.event_log()) + "\n" + Joined(window.history);
    EXPECT_NE(all.find(shown), std::string::npos) << all;
    EXPECT_EQ(all.find("wzq"), std::string::npos) << all;
    EXPECT_EQ(all.find("ftp-secret-9"), std::string::npos) << all;
  }
}

}  // namespace
}  // namespace mv
