#include "system/last_update.h"

#include <cstdio>
#include <string>

#include "system/text.h"

namespace mv {

namespace {

constexpr std::string_view kApplication = "Qorin";
constexpr std::string_view kSection = "MVUpdate";
constexpr std::string_view kKey = "LastUpdateInstalled";
constexpr std::string_view kTimeKey = "LastUpdateInstalledOn";
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

std::optional<DateTime> ReadLastUpdateInstalledOn(const SettingsStore& store) {
  Result<std::string> text =
      store.GetSetting(kApplication, kSection, kTimeKey, "");
  if (!text.ok()) return std::nullopt;
  DateTime t;
  char end = 0;
  // Exactly the form FormatMmDdYyyy writes; anything else is no time.
  if (std::sscanf(text.value().c_str(), "%2d/%2d/%4d %2d:%2d:%2d%c", &t.month,
                  &t.day, &t.year, &t.hour, &t.minute, &t.second, &end) != 6 ||
      FormatMmDdYyyy(t) != text.value()) {
    return std::nullopt;
  }
  return t;
}

Status StoreLastUpdateInstalled(SettingsStore& store, int32_t n,
                                std::optional<DateTime> installed_on) {
  std::string number = std::to_string(n);
  std::string time = installed_on ? FormatMmDdYyyy(*installed_on) : "";
  return store.SaveSettings(kApplication, kSection,
                            {{kKey, number}, {kTimeKey, time}});
}

Result<int32_t> ReadHighestUpdateAccepted(const SettingsStore& store) {
  return ReadNumber(store, kHighestKey);
}

Status StoreHighestUpdateAccepted(SettingsStore& store, int32_t n) {
  return store.SaveSetting(kApplication, kSection, kHighestKey,
                           std::to_string(n));
}

}  // namespace mv
