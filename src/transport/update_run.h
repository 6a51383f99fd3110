// The update run started by the Update System button: the server flavour
// works against the primary or the alternate FTP site, the client flavour
// against the server's share.
#ifndef MVUPDATE_TRANSPORT_UPDATE_RUN_H_
#define MVUPDATE_TRANSPORT_UPDATE_RUN_H_

#include <string_view>

namespace mv {

class Form;

// Empties the list box and runs the update against the site the "Use
// Alternate" box chooses.
void UpdateSystemClick(Form& form);

void RunUpdate(Form& form);               // primary site
void CommunicateWithFTPSite(Form& form);  // alternate site

// Deletes the files that match a pattern of a work folder.
void ClearFolder(Form& form, std::string_view pattern);
bool ConnectToFtpSite(Form& form);
bool ConnectToAlternateSite(Form& form);
void PutStatusFile(Form& form);
void PutAlternateStatusFile(Form& form);
void DisconnectFtpSite(Form& form);

}  // namespace mv

#endif  // MVUPDATE_TRANSPORT_UPDATE_RUN_H_
