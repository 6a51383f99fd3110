// The FTP component ftpTransfer: asynchronous methods and one completion
// notification.
#ifndef MVUPDATE_TRANSPORT_FTP_COMPONENT_H_
#define MVUPDATE_TRANSPORT_FTP_COMPONENT_H_

namespace mv {

class FtpComponent {
 public:
  virtual ~FtpComponent() = default;
};

}  // namespace mv

#endif  // MVUPDATE_TRANSPORT_FTP_COMPONENT_H_
