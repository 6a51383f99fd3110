// The Comm module: blocking FTP operations over the asynchronous FTP
// component form.ftpTransfer, and the state they share.
//
// Each operation starts one component method and then waits: it lets the
// window's events run, lets the component work for at most a short bound
// (blocking on its sockets, never spinning) and stops when the component's
// Done has arrived or the operation's time limit has passed. A wait that
// reaches its limit aborts the method and fails. Trace lines go to the
// event log file only (CommLogMessage); the password and the file names are
// never traced.
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
  // False while an operation waits for its Done.
  bool TransferDone = false;
  // The code of the most recent Done; never reset by an operation.
  int16_t TransferError = 0;
  // When the current operation started its method (a monotonic clock, so a
  // wait across midnight or a clock change ends on time).
  std::chrono::steady_clock::time_point TransferStartTime;
  CommLog log;
};

// Limit of GetFile and PutFile; Connect, ChangeDirectory and Disconnect use
// FtpTimeoutSeconds() (system/deployment.h).
inline constexpr double kTransferLimitSeconds = 3600;

// Logs in unless the component is connected already (then the connection
// is kept, whatever host it goes to). False when there is no component.
bool Connect(Form& form, std::string_view host, std::string_view user,
             std::string_view password);
// Changes the remote directory relative to the current one ("..\Update").
bool ChangeDirectory(Form& form, std::string_view directory);
// Downloads or uploads one file; `error_code` receives the completion code
// (0 on success). A session that is not connected fails at once.
bool GetFile(Form& form, std::string_view local_file,
             std::string_view remote_file, int16_t& error_code);
bool PutFile(Form& form, std::string_view local_file,
             std::string_view remote_file, int16_t& error_code);
// Ends the login; writes a warning line when there is none.
void Disconnect(Form& form);
// True when more than `limit_seconds` have passed since TransferStartTime.
bool TimeOut(Form& form, double limit_seconds);

// The handler of the component's Done: records the result and logs a
// failure as an Error line "code-text".
void ftpTransfer_Done(Form& form, int32_t LastMethod, int16_t ErrorCode,
                      std::string_view ErrorString);

// Start-up step: creates the FTP component (form.make_ftp_component, else
// the libcurl component), connects its events to the window and makes
// <app>/Download the current directory. Failures are logged; start-up goes
// on.
void InitFTPControl(Form& form);

}  // namespace mv

#endif  // MVUPDATE_TRANSPORT_COMM_H_
