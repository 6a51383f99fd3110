// The customer's row of the table UpdateCustomerInfo: read at start-up and
// for the status report, and updated after each installed update.
#ifndef MVUPDATE_DATA_CUSTOMER_RECORD_H_
#define MVUPDATE_DATA_CUSTOMER_RECORD_H_

#include <cstdint>
#include <optional>
#include <string>

#include "log/run_log.h"
#include "system/date_time.h"
#include "system/install_settings.h"
#include "system/window.h"

namespace mv {

struct CustomerUpdateInfo {
  std::string customer_number;
  std::string site_address1;  // primary FTP site
  std::string site_address2;  // alternate FTP site
  std::string user_name;
  std::string password;
  int32_t update_installed = 0;
  DateTime last_updated;
  // Set once a load has reached the table (found the row, or found none);
  // from then on "Use Alternate" follows has_alternate().
  bool table_read = false;

  // True when an alternate site is known.
  bool has_alternate() const;
};

// The database calls of the functions below run on a worker thread
// while the calling thread waits in `pump`, so that a window keeps handling
// its events and painting its list however long the server takes (a locked
// table holds a statement for up to 30 seconds). Lines are logged on the
// calling thread only. Without a pump the calls block the calling thread.

// Reads the first row into `customer` over `connection_string` (`options`:
// its login time-out and the default sites); logs the
// "[CUSTOMER FTP]" block (with the detail lines when `show_details`). True
// when the row was read completely; a failing column leaves it and the
// later fields as they were.
bool LoadCustomerInfo(const std::string& connection_string,
                      const DatabaseOptions& options,
                      CustomerUpdateInfo& customer, RunLog& log,
                      bool show_details, EventPump* pump = nullptr);

// Records update `n`, installed here at `installed_on`, in the first row of
// the table (server installations only; a client reads the row and leaves
// it). The table has no key: the row is found by all seven values just
// read, so other rows are never changed, but rows identical in all seven
// columns are updated together. True when the row was saved (or, on a
// client, found); false when the table has no row, with two Warning lines.
// A database failure is given back unlogged: the caller says what it means
// for the update.
Result<bool> UpdateCustomerInfoRecord(const InstallSettings& settings,
                                      RunLog& log, int32_t n,
                                      const DateTime& installed_on,
                                      EventPump* pump = nullptr);

// Brings a row left behind up to date: when its UpdateInstalled is lower
// than `stored`, the number of the last update installed on this machine
// (an update recorded while the database could not be reached), records
// `stored` and the time it was installed here (NULL when that is not
// known, never the time of the repair) with a Warning line that says so.
// Never lowers the row; server installations only. A repair that fails is a
// Warning line saying that the row may still lag, and why. True when the row
// was repaired.
bool RepairCustomerInfoRecord(const InstallSettings& settings, RunLog& log,
                              int32_t stored,
                              std::optional<DateTime> installed_on,
                              EventPump* pump = nullptr);

}  // namespace mv

#endif  // MVUPDATE_DATA_CUSTOMER_RECORD_H_
