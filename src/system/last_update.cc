#include "system/last_update.h"

#include <string>

#include "system/text.h"

namespace mv {

namespace {

constexpr std::string_view kApplication = "Qorin";
constexpr std::string_view kSection = "MVUpdate";
constexpr std::string_view kKey = "LastUpdateInstalled";
constexpr std::string_view kHighestKey = "HighestUpdateAccepted";

Result<int32_t> ReadNumber(const SettingsStore& store, std::string_view key) {
  Result<std::string> text = store.GetSetting(kApplication, kSection, key, "0");
  if (!text.ok()) return text.failure();
  return ParseWholeNumber(text.value());
}

}  // namespace

Result<int32_t> ReadLastUpdateInstalled(const SettingsStore& store) {
  return ReadNumber(store, kKey);
}

Status StoreLastUpdateInstalled(SettingsStore& store, int32_t n) {
  return store.SaveSetting(kApplication, kSection, kKey, std::to_string(n));
}

Result<int32_t> ReadHighestUpdateAccepted(const SettingsStore& store) {
  return ReadNumber(store, kHighestKey);
}

Status StoreHighestUpdateAccepted(SettingsStore& store, int32_t n) {
  return store.SaveSetting(kApplication, kSection, kHighestKey,
                           std::to_string(n));
}

}  // namespace mv
