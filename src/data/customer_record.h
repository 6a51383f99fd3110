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

// Records update `n` in the first row (server installations only). True
// when the row was saved.
bool UpdateCustomerInfoRecord(Form& form, int32_t n);

}  // namespace mv

#endif  // MVUPDATE_DATA_CUSTOMER_RECORD_H_
