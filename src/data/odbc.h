// A small RAII layer over the ODBC C API (unixODBC): one connection opened
// from a connection string, queries read row by row with columns found by
// name, and statements with character parameters. Only what the customer
// record needs.
//
// Every failure of the driver manager or the driver becomes a Failure with
// the number kDatabaseError and a description holding each diagnostic record
// as "[SQLSTATE] message", led by a sentence a person can act on when the
// first record says what went wrong in terms one can name (timed out,
// login refused, server unreachable, driver missing). Passwords named in the
// connection string (keys "pwd" and "password") are masked in every such
// description, so a failure text can be logged as it is.
#ifndef MVUPDATE_DATA_ODBC_H_
#define MVUPDATE_DATA_ODBC_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "system/failure.h"

namespace mv {

struct OdbcTimeouts {
  int login_seconds = 5;   // connecting and logging in
  int query_seconds = 30;  // each statement
};

// A column of a result set as the driver describes it.
struct OdbcColumn {
  std::string name;
  int16_t sql_type = 0;  // SQL_VARCHAR, SQL_INTEGER, SQL_TYPE_TIMESTAMP...
  uint64_t size = 0;
  int16_t decimal_digits = 0;
};

// A statement parameter, always given to the driver as character data; the
// driver converts it to `sql_type`.
struct OdbcParam {
  std::string text;
  int16_t sql_type;
  uint64_t size;  // 0: the length of the text
  int16_t decimal_digits = 0;

  // A plain character parameter.
  static OdbcParam Text(std::string text);
  // A parameter of the type of `column` (for comparing with that column).
  static OdbcParam Like(const OdbcColumn& column, std::string text);
};

class OdbcHandle;

// The result of one query, positioned on its first row (eof() when it has
// none): the utility reads one row per query. Columns are read on first
// use, in column order, and kept. Must not
// outlive the connection that made it.
class OdbcRows {
 public:
  OdbcRows(OdbcRows&&) noexcept;
  OdbcRows& operator=(OdbcRows&&) noexcept;
  ~OdbcRows();

  bool eof() const { return eof_; }
  const std::vector<OdbcColumn>& columns() const { return columns_; }
  // Index of the column named `name` (compared without regard to case, as
  // drivers may fold names), or nullopt.
  std::optional<size_t> Find(std::string_view name) const;

  // The value of column `name` in the current row as text; nullopt for
  // NULL. A failure for an unknown name, at eof() or when the driver fails.
  Result<std::optional<std::string>> Get(std::string_view name);

 private:
  friend class OdbcConnection;
  OdbcRows(std::unique_ptr<OdbcHandle> stmt, std::vector<std::string> secrets);
  Status Fetch();
  Status ReadThrough(size_t index);

  std::unique_ptr<OdbcHandle> stmt_;
  std::vector<std::string> secrets_;
  std::vector<OdbcColumn> columns_;
  std::vector<std::optional<std::string>> values_;  // columns read so far
  bool eof_ = true;
};

// One open connection; disconnected when destroyed.
class OdbcConnection {
 public:
  // Connects without prompting. A server that does not answer fails after
  // about `timeouts.login_seconds`.
  static Result<OdbcConnection> Open(std::string_view connection_string,
                                     const OdbcTimeouts& timeouts);

  OdbcConnection(OdbcConnection&&) noexcept;
  OdbcConnection& operator=(OdbcConnection&&) noexcept;
  ~OdbcConnection();

  // Runs a query and positions on its first row.
  Result<OdbcRows> Query(std::string_view sql);

  // Runs a statement with one parameter per "?" and gives the number of rows
  // it affected.
  Result<int64_t> Execute(std::string_view sql,
                          const std::vector<OdbcParam>& params);

 private:
  OdbcConnection() = default;
  Result<std::unique_ptr<OdbcHandle>> NewStatement();

  std::unique_ptr<OdbcHandle> env_;
  std::unique_ptr<OdbcHandle> dbc_;
  std::vector<std::string> secrets_;
  int query_seconds_ = 30;
  bool connected_ = false;
};

// The values of the keys "pwd" and "password" of a connection string
// (";"-separated key=value pairs, a value may be wrapped in braces).
std::vector<std::string> ConnectionStringSecrets(std::string_view cs);

// The sentence that leads a database failure whose first diagnostic record
// has `sqlstate` and `message`; empty when neither says anything plainer.
std::string ExplainDatabaseFailure(std::string_view sqlstate,
                                   std::string_view message);

// `text` with every occurrence of each non-empty secret replaced by "****".
std::string MaskSecrets(std::string text,
                        const std::vector<std::string>& secrets);

}  // namespace mv

#endif  // MVUPDATE_DATA_ODBC_H_
