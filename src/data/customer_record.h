// The customer's row of the table UpdateCustomerInfo: read at start-up and
// for the status report, and updated after each installed update.
#ifndef MVUPDATE_DATA_CUSTOMER_RECORD_H_
#define MVUPDATE_DATA_CUSTOMER_RECORD_H_

#include <cstdint>

namespace mv {

class Form;

// Reads the first row into form.customer; logs the "[CUSTOMER FTP]" block
// (with the detail lines when ShowDetails) and enables "Use Alternate" when
// an alternate host is known. True when the row was read completely.
bool LoadCustomerInfo(Form& form, bool ShowDetails);

// Records update `n` and the present date in the first row of the table
// (server installations only; a client reads the row and leaves it). The
// table has no key: the row is found by all seven values just read, so
// other rows are never changed, but rows identical in all seven columns are
// updated together. True when the row was saved (or, on a client, found).
bool UpdateCustomerInfoRecord(Form& form, int32_t n);

}  // namespace mv

#endif  // MVUPDATE_DATA_CUSTOMER_RECORD_H_
