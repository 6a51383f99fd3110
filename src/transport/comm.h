// The Comm module: blocking FTP operations over the asynchronous FTP
// component, and the state they share.
#ifndef MVUPDATE_TRANSPORT_COMM_H_
#define MVUPDATE_TRANSPORT_COMM_H_

#include <chrono>
#include <cstdint>
#include <string_view>

namespace mv {

class clsQorinEventLogTCP;
class Form;

// The event log and the copy of VerbosityLevel that start-up hands to the
// module; CommLogMessage writes through them.
struct CommLog {
  clsQorinEventLogTCP* event_log = nullptr;
  int16_t verbosity = 2;
};

struct Comm {
  bool TransferDone = false;
  int16_t TransferError = 0;
  std::chrono::steady_clock::time_point TransferStartTime;
  CommLog log;
};

// Start-up step: creates the FTP component and makes <app>/Download the
// current directory. Failures are logged; start-up goes on.
void InitFTPControl(Form& form);

bool Connect(Form& form, std::string_view host, std::string_view user,
             std::string_view password);
bool ChangeDirectory(Form& form, std::string_view directory);
void Disconnect(Form& form);
bool GetFile(Form& form, std::string_view local_file,
             std::string_view remote_file, int16_t& error_code);
bool PutFile(Form& form, std::string_view local_file,
             std::string_view remote_file, int16_t& error_code);

}  // namespace mv

#endif  // MVUPDATE_TRANSPORT_COMM_H_
