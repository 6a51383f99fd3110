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
// The number the stored time belongs to. The registry sets one value at a
// time, so a write cut short could pair a new number with the time of an
// older update; the time counts only beside the number it names.
constexpr std::string_view kTimeForKey = "LastUpdateInstalledOnFor";
// Never a stored value: values hold no line breaks.
constexpr std::string_view kMissing = "\n";

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
  // Stores written before the tag was kept have none: their number and
  // time were written together.
  Result<std::string> time_for =
      store.GetSetting(kApplication, kSection, kTimeForKey, kMissing);
  if (!time_for.ok()) return std::nullopt;
  if (time_for.value() != kMissing) {
    Result<int32_t> number = ReadLastUpdateInstalled(store);
    Result<int32_t> tagged = ParseWholeNumber(time_for.value());
    if (!number.ok() || !tagged.ok() || number.value() != tagged.value()) {
      return std::nullopt;
    }
  }
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
  // In this order, so that wherever a one-value-at-a-time write stops, the
  // number is never read with another update's time: the tag is cleared,
  // time and number set, the tag names the number last. The file store
  // writes the outcome in one step.
  return store.SaveSettings(kApplication, kSection,
                            {{kTimeForKey, ""},
                             {kKey, number},
                             {kTimeKey, time},
                             {kTimeForKey, number}});
}

Result<int32_t> ReadHighestUpdateAccepted(const SettingsStore& store) {
  return ReadNumber(store, kHighestKey);
}

Status StoreHighestUpdateAccepted(SettingsStore& store, int32_t n) {
  return store.SaveSetting(kApplication, kSection, kHighestKey,
                           std::to_string(n));
}

}  // namespace mv
