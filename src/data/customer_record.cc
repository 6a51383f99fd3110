#include "data/customer_record.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "data/column_values.h"
#include "data/odbc.h"
#include "system/date_time.h"
#include "system/deployment.h"
#include "system/progress.h"
#include "system/text.h"

namespace mv {

namespace {

constexpr std::string_view kColumns[] = {
    "CustomerNum", "FTPSiteAddress1", "FTPSiteAddress2", "UserName",
    "Password",    "UpdateInstalled", "LastUpdatedDate"};

constexpr size_t kUpdateInstalledColumn = 5;

constexpr char kLoadQuery[] =
    "SELECT CustomerNum, FTPSiteAddress1, FTPSiteAddress2, UserName, "
    "Password, UpdateInstalled, LastUpdatedDate FROM qorin.UpdateCustomerInfo";

constexpr char kRecordQuery[] =
    "SELECT CustomerNum, FTPSiteAddress1, FTPSiteAddress2, UserName, "
    "Password, UpdateInstalled, LastUpdatedDate FROM UpdateCustomerInfo";

// A statement that waits longer (on a lock held elsewhere, say) fails
// instead of holding the run.
constexpr int kQuerySeconds = 30;

// Runs `work` on a thread of its own while the calling thread waits in
// `pump`, running the window's events, and gives what `work` gave; without a
// pump, runs it right here. `work` touches neither the log nor the window:
// its ODBC handles are made, used and freed on the worker alone. A call that
// takes longer than a second says so in the status bar.
template <typename Work>
auto OffThread(EventPump* pump, Work work) -> decltype(work()) {
  bool said = false;
  auto result =
      WhilePumping(pump, work, [&](std::chrono::steady_clock::duration waited) {
        std::string text = WaitingText("the database", waited);
        if (text.empty()) return;
        pump->ShowActivity(text);
        said = true;
      });
  if (said) pump->ShowActivity("");
  return result;
}

Result<OdbcConnection> Connect(const std::string& connection_string,
                               const DatabaseOptions& options) {
  OdbcTimeouts t;
  t.login_seconds =
      std::max(1, static_cast<int>(std::ceil(options.login_timeout_seconds)));
  t.query_seconds = kQuerySeconds;
  return OdbcConnection::Open(connection_string, t);
}

// A text column that must not be NULL.
Result<std::string> RequiredText(OdbcRows& rows, std::string_view column) {
  Result<std::optional<std::string>> v = rows.Get(column);
  if (!v.ok()) return v.failure();
  if (!v.value()) return Failure(kInvalidUseOfNull);
  return *v.value();
}

// A host column: NULL or blank gives `fallback`, anything else is kept as
// stored.
Result<std::string> HostOrDefault(OdbcRows& rows, std::string_view column,
                                  const std::string& fallback) {
  Result<std::optional<std::string>> v = rows.Get(column);
  if (!v.ok()) return v.failure();
  if (!v.value() || TrimSpaces(*v.value()).empty()) return fallback;
  return *v.value();
}

// Reads the current row into `c` column by column; a failing column ends
// the read and leaves it and the later fields as they were.
Status ReadCustomer(OdbcRows& rows, const DatabaseOptions& options,
                    CustomerUpdateInfo& c) {
  const std::string& primary = options.default_primary_host;
  const std::string& alternate = options.default_alternate_host;
  Result<std::string> text = RequiredText(rows, "CustomerNum");
  if (!text.ok()) return text.failure();
  c.customer_number = text.value();

  text = HostOrDefault(rows, "FTPSiteAddress1", primary);
  if (!text.ok()) return text.failure();
  c.site_address1 = text.value();
  text = HostOrDefault(rows, "FTPSiteAddress2", alternate);
  if (!text.ok()) return text.failure();
  c.site_address2 = text.value();
  // The default primary host is reached through the alternate one, whatever
  // the row names as its alternate. Both sides are upper-cased, so a default
  // given in lower case through the environment still matches.
  if (ToUpperAscii(TrimSpaces(c.site_address1)) == ToUpperAscii(primary)) {
    c.site_address1 = alternate;
    c.site_address2 = primary;
  }

  text = RequiredText(rows, "UserName");
  if (!text.ok()) return text.failure();
  c.user_name = text.value();
  text = RequiredText(rows, "Password");
  if (!text.ok()) return text.failure();
  c.password = text.value();

  Result<std::optional<std::string>> v = rows.Get("UpdateInstalled");
  if (!v.ok()) return v.failure();
  if (!v.value()) {
    c.update_installed = 1000;
  } else {
    Result<int32_t> n = ParseWholeNumber(*v.value());
    if (!n.ok()) return n.failure();
    c.update_installed = n.value();
  }

  v = rows.Get("LastUpdatedDate");
  if (!v.ok()) return v.failure();
  if (v.value()) {
    Result<DateTime> t = ToDateTime(*v.value());
    if (!t.ok()) return t.failure();
    c.last_updated = t.value();
  }
  return Status::Ok();
}

// Reads the first row of the table into `customer`: true when there was
// one, false when the table is empty. The connection is closed on return.
Result<bool> ReadFirstCustomer(const std::string& connection_string,
                               const DatabaseOptions& options,
                               CustomerUpdateInfo& customer) {
  Result<OdbcConnection> db = Connect(connection_string, options);
  if (!db.ok()) return db.failure();
  Result<OdbcRows> rows = db.value().Query(kLoadQuery);
  if (!rows.ok()) return rows.failure();
  if (rows.value().eof()) return false;
  Status st = ReadCustomer(rows.value(), options, customer);
  if (!st.ok()) return st.failure();
  return true;
}

bool LoadFailed(RunLog& log, const Failure& failure) {
  log.Error(failure.Text());
  return false;
}

// The statement that records an update (number and, `with_date`, date as the
// first parameters; an unknown date is NULL) in the row whose seven values
// were read as `v`. The table has no
// key, so the row is found by all its values; NULLs are matched with IS NULL in
// the text rather than through a parameter, whose type some servers cannot
// infer. Rows identical in all seven columns cannot be told apart and are
// updated together.
std::string RecordStatement(const std::vector<std::optional<std::string>>& v,
                            bool with_date) {
  std::string sql = "UPDATE UpdateCustomerInfo SET UpdateInstalled = ?, ";
  sql += with_date ? "LastUpdatedDate = ? WHERE "
                   : "LastUpdatedDate = NULL WHERE ";
  for (size_t i = 0; i < std::size(kColumns); ++i) {
    if (i > 0) sql += " AND ";
    sql += std::string(kColumns[i]) + (v[i] ? " = ?" : " IS NULL");
  }
  return sql;
}

// The first row as read for recording an update: its columns as the driver
// describes them and its seven values.
struct RowImage {
  std::vector<OdbcColumn> columns;
  std::vector<std::optional<std::string>> values;
};

// The first row of the table, or nullopt when it has none. The result set
// is closed on return: some drivers allow one active statement only.
Result<std::optional<RowImage>> ReadRowImage(OdbcConnection& db) {
  Result<OdbcRows> rows = db.Query(kRecordQuery);
  if (!rows.ok()) return rows.failure();
  if (rows.value().eof()) return std::optional<RowImage>();
  RowImage image;
  for (std::string_view name : kColumns) {
    Result<std::optional<std::string>> v = rows.value().Get(name);
    if (!v.ok()) return v.failure();
    image.columns.push_back(rows.value().columns()[*rows.value().Find(name)]);
    image.values.push_back(v.value());
  }
  return std::optional<RowImage>(std::move(image));
}

Status RecordUpdate(OdbcConnection& db, const RowImage& row, int32_t n,
                    std::optional<DateTime> installed_on) {
  std::vector<OdbcParam> params = {
      OdbcParam::Like(row.columns[kUpdateInstalledColumn], std::to_string(n))};
  if (installed_on) {
    params.push_back(OdbcParam::Text(FormatMmDdYyyy(*installed_on)));
  }
  for (size_t i = 0; i < row.values.size(); ++i) {
    if (row.values[i]) {
      params.push_back(OdbcParam::Like(row.columns[i], *row.values[i]));
    }
  }
  Result<int64_t> count =
      db.Execute(RecordStatement(row.values, installed_on.has_value()), params);
  if (!count.ok()) return count.failure();
  if (count.value() == 0) {
    return Failure(kDatabaseError,
                   "Row cannot be located for updating. Some values may have "
                   "been changed since it was last read.");
  }
  return Status::Ok();
}

// Records update `n` in the first row: false when the table has none. A
// client installation reads the row but leaves it as it is.
Result<bool> RecordInFirstRow(const InstallSettings& settings, int32_t n,
                              const DateTime& installed_on) {
  Result<OdbcConnection> db =
      Connect(settings.connection_string, settings.database);
  if (!db.ok()) return db.failure();
  Result<std::optional<RowImage>> row = ReadRowImage(db.value());
  if (!row.ok()) return row.failure();
  if (!row.value()) return false;
  if (!settings.is_server()) return true;
  Status st = RecordUpdate(db.value(), *row.value(), n, installed_on);
  if (!st.ok()) return st.failure();
  return true;
}

// What a repair came to: the number the row held when it lagged, and the
// failure that stopped the repair, if any.
struct Repair {
  std::optional<int32_t> lagging;
  Status status;
};

Repair RepairRow(const InstallSettings& settings, int32_t stored,
                 std::optional<DateTime> installed_on) {
  Result<OdbcConnection> db =
      Connect(settings.connection_string, settings.database);
  if (!db.ok()) return {std::nullopt, db.failure()};
  Result<std::optional<RowImage>> row = ReadRowImage(db.value());
  if (!row.ok()) return {std::nullopt, row.failure()};
  if (!row.value()) return {};
  // A NULL number reads as 1000 (see ReadCustomer): never below `stored`.
  const std::optional<std::string>& text =
      row.value()->values[kUpdateInstalledColumn];
  Result<int32_t> in_row = text ? ParseWholeNumber(*text)
                                : Result<int32_t>(Failure(kInvalidUseOfNull));
  if (!in_row.ok() || in_row.value() >= stored) return {};
  return {in_row.value(),
          RecordUpdate(db.value(), *row.value(), stored, installed_on)};
}

}  // namespace

bool CustomerUpdateInfo::has_alternate() const {
  return !TrimSpaces(site_address2).empty();
}

bool LoadCustomerInfo(const std::string& connection_string,
                      const DatabaseOptions& options,
                      CustomerUpdateInfo& customer, RunLog& log,
                      bool show_details, EventPump* pump) {
  log.Info("[CUSTOMER FTP]");
  // The worker fills a copy; a failing column leaves its fields as the
  // read left them, as when the record is read in place.
  CustomerUpdateInfo read = customer;
  Result<bool> found = OffThread(pump, [&] {
    return ReadFirstCustomer(connection_string, options, read);
  });
  customer = std::move(read);
  if (!found.ok()) return LoadFailed(log, found.failure());
  customer.table_read = true;
  if (!found.value()) {
    log.Error("!!! No entry exists in UpdateCustomerInfo table. !!! ");
    log.Error(std::string("...") + kLoadQuery);
  } else if (show_details) {
    // The password is never shown.
    const CustomerUpdateInfo& c = customer;
    log.Info("Customer Number  : " + c.customer_number);
    log.Info("Host IP Address  : " + c.site_address1);
    log.Info("Alt IP Address   : " + c.site_address2);
    log.Info("User Name        : " + c.user_name);
  }
  log.Info(" ");
  return found.value();
}

Result<bool> UpdateCustomerInfoRecord(const InstallSettings& settings,
                                      RunLog& log, int32_t n,
                                      const DateTime& installed_on,
                                      EventPump* pump) {
  Result<bool> found = OffThread(
      pump, [&] { return RecordInFirstRow(settings, n, installed_on); });
  if (found.ok() && !found.value()) {
    log.Warning("!!! Entry in UpdateCustomerInfo Table does NOT exist. ");
    log.Warning(std::string("  ") + kRecordQuery);
  }
  return found;
}

bool RepairCustomerInfoRecord(const InstallSettings& settings, RunLog& log,
                              int32_t stored,
                              std::optional<DateTime> installed_on,
                              EventPump* pump) {
  if (!settings.is_server()) return false;
  Repair r = OffThread(
      pump, [&] { return RepairRow(settings, stored, installed_on); });
  std::string n = "update " + std::to_string(stored);
  if (!r.status.ok()) {
    log.Warning(
        r.lagging
            ? "!!! The customer row still says update " +
                  std::to_string(*r.lagging) + ", but " + n +
                  " is installed here; it could not be brought up to date (" +
                  r.status.failure().Text() + "). The next run tries again."
            : "!!! The customer row could not be checked against " + n +
                  ", installed here (" + r.status.failure().Text() +
                  "); if it lags behind, the next run brings it up to date.");
    return false;
  }
  if (!r.lagging) return false;
  log.Warning("!!! Repaired the customer row left behind: it said update " +
              std::to_string(*r.lagging) + ", but " + n +
              " is installed here.");
  return true;
}

}  // namespace mv
