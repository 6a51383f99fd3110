// What the windows' status bars show, the same in every window: the
// position of the progress bar, and a text cut to the room of its pane.
#ifndef MVUPDATE_APP_STATUS_TEXT_H_
#define MVUPDATE_APP_STATUS_TEXT_H_

#include <algorithm>
#include <cstdint>
#include <string>

namespace mv {

// The progress bar's position in `steps` for `done` of `total` bytes (both
// known): the bar is full for an empty transfer and never runs over.
inline int ProgressPosition(int64_t done, int64_t total, int steps) {
  if (total <= 0) return steps;
  const int64_t clamped = std::clamp<int64_t>(done, 0, total);
  return static_cast<int>(static_cast<double>(clamped) /
                          static_cast<double>(total) * steps);
}

// `text` as it fits `room` pixels, `width(t)` being the pixels of `t`: all
// of it, or its first words with "..." (never a word cut in half, which
// reads as another word), or nothing when not even the first word fits.
// The pane's tooltip holds the whole text.
template <typename Char, typename Width>
std::basic_string<Char> FitWords(const std::basic_string<Char>& text, int room,
                                 const Width& width) {
  using String = std::basic_string<Char>;
  if (width(text) <= room) return text;
  auto trails = [](Char c) {
    return c == Char(' ') || c == Char(',') || c == Char(':') ||
           c == Char(';') || c == Char('.');
  };
  for (size_t end = text.rfind(Char(' ')); end != String::npos && end > 0;
       end = text.rfind(Char(' '), end - 1)) {
    // "Patch1.zip..." rather than "Patch1.zip:...".
    size_t kept = end;
    while (kept > 0 && trails(text[kept - 1])) --kept;
    if (kept == 0) continue;
    String shown = text.substr(0, kept) + String(3, Char('.'));
    if (width(shown) <= room) return shown;
  }
  return String();
}

}  // namespace mv

#endif  // MVUPDATE_APP_STATUS_TEXT_H_
