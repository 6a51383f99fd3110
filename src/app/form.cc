#include "app/form.h"

#include "tools/file_version.h"
#include "transport/ftp_component.h"

namespace mv {

Form::Form(Window& w, FormConfig config)
    : window(w),
      registry(std::move(config.registry_file)),
      registry_queries(registry),
      settings_store(std::move(config.settings_folder)) {}

Form::~Form() = default;

bool Form::ServerFlavour() const {
  return settings.InstallationType == 0 || window.UpdateFromFtpTicked();
}

}  // namespace mv
