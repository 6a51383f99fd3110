// Fetching the two control files of an update run into <app>/Update: from
// the FTP site (server flavour) or from the server's share "MVUpdate"
// (client flavour). Each fetch decides the flavour when it starts and gives
// true when the file is now in <app>/Update. The primary and the alternate
// site keep their files in different folders and say so in different
// words; one routine serves all four fetches from a table.
#ifndef MVUPDATE_TRANSPORT_CONTROL_FILE_FETCH_H_
#define MVUPDATE_TRANSPORT_CONTROL_FILE_FETCH_H_

#include "transport/update_run.h"

namespace mv {

// MVControl.dat from the customer's folder (primary site).
bool GetCustomerControlFile(const RunContext& run);
// MVControl.dat from "Merivane" then "Update" (alternate site).
bool GetAlternateCustomerControlFile(const RunContext& run);
// MVUpdate.dat from "..\Update" (primary site).
bool GetUpdateControlFile(const RunContext& run);
// MVUpdate.dat from the folder the alternate customer fetch left.
bool GetAlternateUpdateControlFile(const RunContext& run);

}  // namespace mv

#endif  // MVUPDATE_TRANSPORT_CONTROL_FILE_FETCH_H_
