// STUB: replaced on merge.
#include "app/form.h"
#include "transport/comm.h"
namespace mv {
bool Connect(Form&, std::string_view, std::string_view, std::string_view) {
  return false;
}
bool ChangeDirectory(Form&, std::string_view) { return false; }
void Disconnect(Form&) {}
bool GetFile(Form&, std::string_view, std::string_view, int16_t& code) {
  code = 1;
  return false;
}
bool PutFile(Form&, std::string_view, std::string_view, int16_t& code) {
  code = 1;
  return false;
}
}  // namespace mv
