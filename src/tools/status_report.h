// The status report a server-flavour update run leaves on the FTP site.
#ifndef MVUPDATE_TOOLS_STATUS_REPORT_H_
#define MVUPDATE_TOOLS_STATUS_REPORT_H_

namespace mv {

class Form;

// Reloads the customer record and writes "Status YYMMDDhhmmss.txt" into
// <app>/Download; its bare name goes to form.status_file_name.
void WriteStatusFile(Form& form);

}  // namespace mv

#endif  // MVUPDATE_TOOLS_STATUS_REPORT_H_
