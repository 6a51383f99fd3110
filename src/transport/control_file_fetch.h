// Fetching the two control files of an update run into <app>/Update: from
// the FTP site (server flavour) or from the server's share "MVUpdate"
// (client flavour). Each fetch decides the flavour when it starts and gives
// true when the file is now in <app>/Update.
#ifndef MVUPDATE_TRANSPORT_CONTROL_FILE_FETCH_H_
#define MVUPDATE_TRANSPORT_CONTROL_FILE_FETCH_H_

namespace mv {

class Form;

// MVControl.dat from the customer's folder (primary site).
bool GetCustomerControlFile(Form& form);
// MVControl.dat from "Merivane" then "Update" (alternate site).
bool GetAlternateCustomerControlFile(Form& form);
// MVUpdate.dat from "..\Update" (primary site).
bool GetUpdateControlFile(Form& form);
// MVUpdate.dat from the folder the alternate customer fetch left.
bool GetAlternateUpdateControlFile(Form& form);

}  // namespace mv

#endif  // MVUPDATE_TRANSPORT_CONTROL_FILE_FETCH_H_
