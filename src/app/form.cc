#include "app/form.h"

#include "system/paths.h"

namespace mv {

Form::Form(Window& w, FormConfig config)
    : window(w),
      env(*config.env),
      deployment(ReadDeploymentOptions()),
      log(&w),
      registry(std::move(config.registry_file)),
      registry_queries(registry),
      settings_store(std::move(config.settings_folder), env),
      session(log, w),
      make_ftp_component(std::move(config.make_ftp_component)) {
  settings.database = deployment.database;
}

std::string Form::RunLockFile() {
  // The folder as it is written on disk ("database", say), so that the lock
  // never makes a second one beside it.
  return ResolveCase(
      JoinPath(registry_queries.GetInstallPath(), "\\Database\\MVUpdate.lock"));
}

}  // namespace mv
