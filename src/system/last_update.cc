#include "system/last_update.h"

#include <string>

#include "system/text.h"

namespace mv {

namespace {

constexpr std::string_view kApplication = "Qorin";
constexpr std::string_view kSection = "MVUpdate";
constexpr std::string_view kKey = "LastUpdateInstalled";

}  // namespace

Result<int32_t> ReadLastUpdateInstalled(const SettingsStore& store) {
  Result<std::string> text =
      store.GetSetting(kApplication, kSection, kKey, "0");
  if (!text.ok()) return text.failure();
  return ParseWholeNumber(text.value());
}

Status StoreLastUpdateInstalled(SettingsStore& store, int32_t n) {
  return store.SaveSetting(kApplication, kSection, kKey, std::to_string(n));
}

}  // namespace mv
