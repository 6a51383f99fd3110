// Start-up against a real database: the connection string built from the
// registry values, and the passwords kept out of every text.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/form.h"
#include "app/startup.h"
#include "support/postgres_server.h"
#include "support/recording_window.h"
#include "support/sandbox.h"

namespace mv {
namespace {

// The registry's server and database names go into the connection string as
// they are: a ";" starts a further attribute (with this driver a later
// attribute wins over an earlier one of the same name), blanks stay part of
// the name, braces are passed on to the driver. Neither the login's password
// nor the customer's FTP password shows up in the list box, the event log or
// LastError, whatever happens.
TEST(StartUpDatabaseTest, RegistryValuesInTheConnectionString) {
  struct Case {
    const char* what;
    std::string db_server;
    std::string db_name;
    const char* failure;  // part of the Error line; "" when the row loads
  } cases[] = {
      {"a semicolon adds an attribute", "127.0.0.1;database=Other", "Quillmere",
       ""},
      {"an added password overrides the login", "127.0.0.1",
       "Quillmere;pwd=other", "password authentication failed"},
      {"blanks around the server", " 127.0.0.1 ", "Quillmere",
       "[08001] could not translate host name \" 127.0.0.1 \""},
      {"braces around the name", "127.0.0.1", "{Quillmere}",
       "database \"{Quillmere}\" does not exist"},
      {"an opening brace that is never closed", "{127.0.0.1", "Quillmere",
       "[08001] Connection string parse error"},
  };
  PostgresServer& pg = PostgresServer::Get();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox::Options o;
    o.db_server = c.db_server;
    o.db_name = c.db_name;
    Sandbox sb(o);
    pg.UseIn(sb.env());
    pg.CreateCustomerTable({}, {{"C1", "ftp.c1.example", "ftp2.c1.example",
                                 "user1", "ftp-secret-9", "5", std::nullopt}});
    RecordingWindow window;
    Form form(window, sb.config());
    StartUp(form);
    auto it =
        std::find(window.lines.begin(), window.lines.end(), "[CUSTOMER FTP]");
    std::vector<std::string> block(it, window.lines.end());
    if (*c.failure == '\0') {
      EXPECT_EQ(block, (std::vector<std::string>{
                           "[CUSTOMER FTP]", "Customer Number  : C1",
                           "Host IP Address  : ftp.c1.example",
                           "Alt IP Address   : ftp2.c1.example",
                           "User Name        : user1", " "}));
    } else {
      ASSERT_EQ(block.size(), 3u);
      EXPECT_NE(block[1].find(c.failure), std::string::npos) << block[1];
      EXPECT_EQ(block[2],
                "***Error SQL DB*** Could not load customer information.");
    }
    std::string everything =
        ReadFile(sb.event_log()) + "\n" + form.settings.LastError + "\n";
    for (const std::string& line : window.history) everything += line + "\n";
    EXPECT_EQ(everything.find("wzq"), std::string::npos) << everything;
    EXPECT_EQ(everything.find("ftp-secret-9"), std::string::npos) << everything;
    EXPECT_NE(form.settings.ConnectionString.find("pwd=wzq"),
              std::string::npos);
  }
}

}  // namespace
}  // namespace mv
