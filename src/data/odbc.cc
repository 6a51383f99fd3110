#include "data/odbc.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "system/odbc_headers.h"
#include "system/text.h"
#include "system/unicode.h"

namespace mv {

// Owns one ODBC handle of any type.
class OdbcHandle {
 public:
  OdbcHandle(SQLSMALLINT type, SQLHANDLE handle)
      : type_(type), handle_(handle) {}
  OdbcHandle(const OdbcHandle&) = delete;
  OdbcHandle& operator=(const OdbcHandle&) = delete;
  ~OdbcHandle() { SQLFreeHandle(type_, handle_); }

  SQLSMALLINT type() const { return type_; }
  SQLHANDLE get() const { return handle_; }

 private:
  SQLSMALLINT type_;
  SQLHANDLE handle_;
};

namespace {

// ODBC's wide characters are UTF-16 units on every platform.
static_assert(sizeof(SQLWCHAR) == sizeof(char16_t));
SQLWCHAR* Wide(char16_t* text) { return reinterpret_cast<SQLWCHAR*>(text); }

// Control characters (drivers write multi-line messages) become blanks and
// runs of blanks one blank, so that a message fits on one log line.
std::string OneLine(std::string_view text) {
  std::string out;
  for (char c : text) {
    unsigned char u = static_cast<unsigned char>(c);
    bool blank = u < 0x20 || u == 0x7f || c == ' ';
    if (blank) {
      if (!out.empty() && out.back() != ' ') out.push_back(' ');
    } else {
      out.push_back(c);
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// The diagnostic records of `handle` as one failure.
Failure Diagnose(SQLSMALLINT type, SQLHANDLE handle,
                 const std::vector<std::string>& secrets) {
  std::string description, explained;
  // A handful of records tells the story; a driver that keeps answering
  // must not make the text endless.
  for (SQLSMALLINT rec = 1; rec <= 8; ++rec) {
    SQLWCHAR state[6] = {0};
    SQLINTEGER native = 0;
    std::u16string message(1024, u'\0');
    SQLSMALLINT length = 0;
    SQLRETURN r =
        SQLGetDiagRecW(type, handle, rec, state, &native, Wide(message.data()),
                       static_cast<SQLSMALLINT>(message.size()), &length);
    if (r == SQL_SUCCESS_WITH_INFO && length >= 0 &&
        static_cast<size_t>(length) >= message.size()) {
      // The message was cut: ask again with room for all of it.
      message.assign(static_cast<size_t>(length) + 1, u'\0');
      r = SQLGetDiagRecW(type, handle, rec, state, &native,
                         Wide(message.data()),
                         static_cast<SQLSMALLINT>(message.size()), &length);
    }
    if (!SQL_SUCCEEDED(r)) break;
    message.resize(std::u16string_view(message.c_str()).size());
    if (rec == 1) {
      explained = ExplainDatabaseFailure(
          Utf16ToUtf8(reinterpret_cast<const char16_t*>(state)),
          Utf16ToUtf8(message));
    }
    if (!description.empty()) description += " ";
    description += "[";
    description += Utf16ToUtf8(reinterpret_cast<const char16_t*>(state));
    description += "] ";
    description += OneLine(Utf16ToUtf8(message));
  }
  if (description.empty()) {
    description = "The ODBC call failed without a diagnostic record.";
  }
  if (!explained.empty()) description = explained + " " + description;
  return Failure(kDatabaseError, MaskSecrets(description, secrets));
}

Failure Diagnose(const OdbcHandle& h, const std::vector<std::string>& s) {
  return Diagnose(h.type(), h.get(), s);
}

}  // namespace

std::string ExplainDatabaseFailure(std::string_view sqlstate,
                                   std::string_view message) {
  struct Case {
    std::string_view state;  // SQLSTATE, or "" for any
    std::string_view clue;   // part of the message in lower case, or ""
    std::string_view sentence;
  };
  static constexpr std::string_view kTimedOut =
      "The database did not answer in time (timed out): the server may be "
      "busy, out of reach, or waiting on a lock another program holds.";
  static constexpr std::string_view kLogin =
      "The database refused the login; check the user name and password.";
  static constexpr std::string_view kUnreachable =
      "The database server cannot be reached; check its name in the "
      "registry and that it is running.";
  static constexpr std::string_view kDriver =
      "The ODBC driver named in the connection string is not installed.";
  // Drivers differ in the states they give: the message settles it where
  // a state is used for several causes.
  static constexpr Case kCases[] = {
      {"HYT00", "", kTimedOut},
      {"HYT01", "", kTimedOut},
      {"57014", "", kTimedOut},
      {"28000", "", kLogin},
      {"28P01", "", kLogin},
      {"", "password authentication failed", kLogin},
      {"", "login failed", kLogin},
      {"", "timeout expired", kTimedOut},
      {"IM002", "", kDriver},
      {"01000", "can't open lib", kDriver},
      {"IM003", "", kDriver},
      {"08001", "", kUnreachable},
      {"08004", "", kUnreachable},
      {"08S01", "", kUnreachable},
      {"08006", "", kUnreachable},
  };
  const std::string lower = ToLowerAscii(message);
  for (const Case& c : kCases) {
    if (!c.state.empty() && c.state != sqlstate) continue;
    if (!c.clue.empty() && lower.find(c.clue) == std::string::npos) continue;
    return std::string(c.sentence);
  }
  return "";
}

std::vector<std::string> ConnectionStringSecrets(std::string_view cs) {
  std::vector<std::string> secrets;
  size_t pos = 0;
  while (pos < cs.size()) {
    size_t eq = cs.find('=', pos);
    size_t semi = cs.find(';', pos);
    if (eq == std::string_view::npos) break;
    if (semi != std::string_view::npos && semi < eq) {
      pos = semi + 1;  // an attribute without a value
      continue;
    }
    std::string_view key = TrimWhitespace(cs.substr(pos, eq - pos));
    size_t v = eq + 1;
    std::string value;
    std::string_view braced;  // the value as written, braces and all
    size_t end;
    if (v < cs.size() && cs[v] == '{') {
      // {value}, where "}}" stands for one "}".
      end = v + 1;
      while (end < cs.size()) {
        if (cs[end] == '}') {
          if (end + 1 < cs.size() && cs[end + 1] == '}') {
            value.push_back('}');
            end += 2;
            continue;
          }
          ++end;
          break;
        }
        value.push_back(cs[end++]);
      }
      braced = cs.substr(v, end - v);
      end = cs.find(';', end);
    } else {
      end = cs.find(';', v);
      value = std::string(
          cs.substr(v, end == std::string_view::npos ? end : end - v));
    }
    if (EqualsIgnoreCase(key, "pwd") || EqualsIgnoreCase(key, "password")) {
      // As the driver may quote it: braced as written, and bare.
      if (!braced.empty()) secrets.emplace_back(braced);
      secrets.push_back(value);
      std::string trimmed(TrimWhitespace(value));
      if (trimmed != value) secrets.push_back(trimmed);
    }
    if (end == std::string_view::npos) break;
    pos = end + 1;
  }
  // Drivers split malformed strings (an unbalanced brace, say) in their own
  // ways, so also take every bare "pwd=" or "password=" value wherever it
  // stands, up to the next ";". A braced value was taken whole above: a
  // piece of it would mask that piece anywhere in a message ("pass" of
  // "pass;word" in "password authentication failed") and so reveal it.
  std::string lower = ToLowerAscii(cs);
  for (std::string_view key : {"pwd=", "password="}) {
    for (size_t at = lower.find(key); at != std::string::npos;
         at = lower.find(key, at + 1)) {
      size_t v = at + key.size();
      if (v < cs.size() && cs[v] == '{') continue;
      size_t end = cs.find(';', v);
      std::string value(cs.substr(
          v, end == std::string_view::npos ? std::string_view::npos : end - v));
      if (std::find(secrets.begin(), secrets.end(), value) == secrets.end()) {
        secrets.push_back(value);
      }
    }
  }
  return secrets;
}

std::string MaskSecrets(std::string text,
                        const std::vector<std::string>& secrets) {
  // Longest first, so that a secret inside another is not masked in part.
  std::vector<std::string> sorted = secrets;
  std::sort(sorted.begin(), sorted.end(),
            [](const std::string& a, const std::string& b) {
              return a.size() > b.size();
            });
  for (const std::string& secret : sorted) {
    if (secret.empty()) continue;
    for (size_t at = text.find(secret); at != std::string::npos;
         at = text.find(secret, at + 4)) {
      text.replace(at, secret.size(), "****");
    }
  }
  return text;
}

OdbcParam OdbcParam::Text(std::string text) {
  return OdbcParam{std::move(text), SQL_VARCHAR, 0, 0};
}

OdbcParam OdbcParam::Like(const OdbcColumn& column, std::string text) {
  return OdbcParam{std::move(text), column.sql_type, column.size,
                   column.decimal_digits};
}

// ---------------------------------------------------------------------------
// OdbcRows

OdbcRows::OdbcRows(std::unique_ptr<OdbcHandle> stmt,
                   std::vector<std::string> secrets)
    : stmt_(std::move(stmt)), secrets_(std::move(secrets)) {}
OdbcRows::OdbcRows(OdbcRows&&) noexcept = default;
OdbcRows& OdbcRows::operator=(OdbcRows&&) noexcept = default;
OdbcRows::~OdbcRows() = default;

std::optional<size_t> OdbcRows::Find(std::string_view name) const {
  for (size_t i = 0; i < columns_.size(); ++i) {
    if (EqualsIgnoreCase(columns_[i].name, name)) return i;
  }
  return std::nullopt;
}

Result<std::optional<std::string>> OdbcRows::Get(std::string_view name) {
  std::optional<size_t> index = Find(name);
  if (!index) {
    return Failure(kDatabaseError,
                   "Item cannot be found in the collection "
                   "corresponding to the requested name: " +
                       std::string(name));
  }
  if (eof_) return Failure(kNoCurrentRecord);
  Status st = ReadThrough(*index);
  if (!st.ok()) return st.failure();
  return values_[*index];
}

// Reads the columns up to `index` that have not been read yet. Drivers need
// not allow reading columns out of order, so each is read once, in order.
Status OdbcRows::ReadThrough(size_t index) {
  while (values_.size() <= index) {
    SQLUSMALLINT column = static_cast<SQLUSMALLINT>(values_.size() + 1);
    std::string value;
    bool is_null = false;
    char buf[4096];
    for (;;) {
      SQLLEN length = 0;
      SQLRETURN r = SQLGetData(stmt_->get(), column, SQL_C_CHAR, buf,
                               sizeof buf, &length);
      if (r == SQL_NO_DATA) break;  // every part has been read
      if (!SQL_SUCCEEDED(r)) return Diagnose(*stmt_, secrets_);
      if (length == SQL_NULL_DATA) {
        is_null = true;
        break;
      }
      bool whole =
          length != SQL_NO_TOTAL && length < static_cast<SQLLEN>(sizeof buf);
      value.append(buf, whole ? static_cast<size_t>(length) : sizeof buf - 1);
      if (r == SQL_SUCCESS || whole) break;
    }
    values_.push_back(is_null ? std::nullopt
                              : std::optional<std::string>(std::move(value)));
  }
  return Status::Ok();
}

Status OdbcRows::Fetch() {
  values_.clear();
  SQLRETURN r = SQLFetch(stmt_->get());
  if (r == SQL_NO_DATA) {
    eof_ = true;
    return Status::Ok();
  }
  if (!SQL_SUCCEEDED(r)) {
    eof_ = true;
    return Diagnose(*stmt_, secrets_);
  }
  eof_ = false;
  return Status::Ok();
}

// ---------------------------------------------------------------------------
// OdbcConnection

OdbcConnection::OdbcConnection(OdbcConnection&& other) noexcept
    : env_(std::move(other.env_)),
      dbc_(std::move(other.dbc_)),
      secrets_(std::move(other.secrets_)),
      query_seconds_(other.query_seconds_),
      connected_(std::exchange(other.connected_, false)) {}

OdbcConnection& OdbcConnection::operator=(OdbcConnection&& other) noexcept {
  if (this != &other) {
    if (connected_) SQLDisconnect(dbc_->get());
    dbc_ = std::move(other.dbc_);
    env_ = std::move(other.env_);
    secrets_ = std::move(other.secrets_);
    query_seconds_ = other.query_seconds_;
    connected_ = std::exchange(other.connected_, false);
  }
  return *this;
}

OdbcConnection::~OdbcConnection() {
  if (connected_) SQLDisconnect(dbc_->get());
}

Result<OdbcConnection> OdbcConnection::Open(std::string_view connection_string,
                                            const OdbcTimeouts& timeouts) {
  OdbcConnection c;
  c.secrets_ = ConnectionStringSecrets(connection_string);
  c.query_seconds_ = timeouts.query_seconds;

  SQLHANDLE env = SQL_NULL_HANDLE;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env))) {
    return Failure(kDatabaseError,
                   "The ODBC driver manager could not be initialised.");
  }
  c.env_ = std::make_unique<OdbcHandle>(SQL_HANDLE_ENV, env);
  SQLRETURN r = SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION,
                              reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  if (!SQL_SUCCEEDED(r)) return Diagnose(*c.env_, c.secrets_);

  SQLHANDLE dbc = SQL_NULL_HANDLE;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
    return Diagnose(*c.env_, c.secrets_);
  }
  c.dbc_ = std::make_unique<OdbcHandle>(SQL_HANDLE_DBC, dbc);
  // Without a bound, a server that accepts the connection and never answers
  // would hold the window for the operating system's TCP time-outs.
  SQLSetConnectAttrW(dbc, SQL_ATTR_LOGIN_TIMEOUT,
                     reinterpret_cast<SQLPOINTER>(
                         static_cast<intptr_t>(timeouts.login_seconds)),
                     0);
  std::u16string text = Utf8ToUtf16(connection_string);
  SQLSMALLINT out_length = 0;
  r = SQLDriverConnectW(dbc, nullptr, Wide(text.data()),
                        static_cast<SQLSMALLINT>(text.size()), nullptr, 0,
                        &out_length, SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(r)) return Diagnose(*c.dbc_, c.secrets_);
  c.connected_ = true;
  return c;
}

Result<std::unique_ptr<OdbcHandle>> OdbcConnection::NewStatement() {
  SQLHANDLE stmt = SQL_NULL_HANDLE;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc_->get(), &stmt))) {
    return Diagnose(*dbc_, secrets_);
  }
  auto handle = std::make_unique<OdbcHandle>(SQL_HANDLE_STMT, stmt);
  // A driver that cannot bound statements still runs them.
  SQLSetStmtAttrW(
      stmt, SQL_ATTR_QUERY_TIMEOUT,
      reinterpret_cast<SQLPOINTER>(static_cast<intptr_t>(query_seconds_)), 0);
  return handle;
}

Result<OdbcRows> OdbcConnection::Query(std::string_view sql) {
  Result<std::unique_ptr<OdbcHandle>> stmt = NewStatement();
  if (!stmt.ok()) return stmt.failure();
  OdbcRows rows(std::move(stmt.value()), secrets_);
  SQLHANDLE h = rows.stmt_->get();
  std::u16string text = Utf8ToUtf16(sql);
  SQLRETURN r = SQLExecDirectW(h, Wide(text.data()),
                               static_cast<SQLINTEGER>(text.size()));
  if (r == SQL_NO_DATA) return rows;  // a statement without rows
  if (!SQL_SUCCEEDED(r)) return Diagnose(*rows.stmt_, secrets_);

  SQLSMALLINT count = 0;
  if (!SQL_SUCCEEDED(SQLNumResultCols(h, &count))) {
    return Diagnose(*rows.stmt_, secrets_);
  }
  for (SQLSMALLINT i = 1; i <= count; ++i) {
    char16_t name[256] = {0};
    SQLSMALLINT name_length = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    r = SQLDescribeColW(h, static_cast<SQLUSMALLINT>(i), Wide(name), 256,
                        &name_length, &type, &size, &digits, &nullable);
    if (!SQL_SUCCEEDED(r)) return Diagnose(*rows.stmt_, secrets_);
    rows.columns_.push_back(OdbcColumn{Utf16ToUtf8(name), type,
                                       static_cast<uint64_t>(size), digits});
  }
  if (count == 0) return rows;
  Status st = rows.Fetch();
  if (!st.ok()) return st.failure();
  return rows;
}

Result<int64_t> OdbcConnection::Execute(std::string_view sql,
                                        const std::vector<OdbcParam>& params) {
  Result<std::unique_ptr<OdbcHandle>> made = NewStatement();
  if (!made.ok()) return made.failure();
  const OdbcHandle& stmt = *made.value();
  // The driver reads the buffers and lengths at execution time.
  std::vector<SQLLEN> lengths(params.size());
  for (size_t i = 0; i < params.size(); ++i) {
    const OdbcParam& p = params[i];
    lengths[i] = static_cast<SQLLEN>(p.text.size());
    SQLULEN size = p.size != 0 ? p.size : std::max<size_t>(p.text.size(), 1);
    SQLRETURN r = SQLBindParameter(
        stmt.get(), static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT,
        SQL_C_CHAR, p.sql_type, size, p.decimal_digits,
        const_cast<char*>(p.text.data()), lengths[i], &lengths[i]);
    if (!SQL_SUCCEEDED(r)) return Diagnose(stmt, secrets_);
  }
  std::u16string text = Utf8ToUtf16(sql);
  SQLRETURN r = SQLExecDirectW(stmt.get(), Wide(text.data()),
                               static_cast<SQLINTEGER>(text.size()));
  if (r == SQL_NO_DATA) return int64_t{0};  // nothing matched
  if (!SQL_SUCCEEDED(r)) return Diagnose(stmt, secrets_);
  if (r == SQL_SUCCESS_WITH_INFO) {
    // Some drivers keep a statement's warnings pending until they are read;
    // the row count is only trusted after that.
    (void)Diagnose(stmt, secrets_);
  }
  SQLLEN count = 0;
  if (!SQL_SUCCEEDED(SQLRowCount(stmt.get(), &count))) {
    return Diagnose(stmt, secrets_);
  }
  return static_cast<int64_t>(count);
}

}  // namespace mv
