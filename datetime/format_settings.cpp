#include <algorithm>
#include <charconv>
#include <cstddef>
#include <string_view>
#include <tuple>

#include "datetime/format_item_source.h"
#include "datetime/format_settings.h"

namespace {

std::string TextItem(const FormatItemSource& source, FormatItem item, const std::string& fallback,
                     int index = 0) {
  return source.Item(item, index).value_or(fallback);
}

std::size_t CharacterCount(std::string_view utf8) {
  std::size_t count = 0;
  for (char c : utf8) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

// A separator is read with room for one character: a longer one cannot be
// read and the default takes its place.
std::string CharItem(const FormatItemSource& source, FormatItem item, const std::string& fallback) {
  std::optional<std::string> text = source.Item(item, 0);
  return text && CharacterCount(*text) <= 1 ? *text : fallback;
}

// A number item is text; text that is not a whole integer counts as 0.
int NumberItem(const FormatItemSource& source, FormatItem item, int fallback) {
  std::optional<std::string> text = source.Item(item, 0);
  if (!text) return fallback;
  int value = 0;
  const char* end = text->data() + text->size();
  auto [stop, ec] = std::from_chars(text->data(), end, value);
  return ec == std::errc{} && stop == end ? value : 0;
}

bool IsQuote(char c) { return c == '\'' || c == '"'; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Copies the pattern with each run of letters outside quoted text passed
// through `rewrite(lower-case letter, run)`.
template <typename Rewrite>
std::string RewriteLetters(std::string_view pattern, Rewrite rewrite) {
  std::string out;
  std::size_t i = 0;
  while (i < pattern.size()) {
    const char c = pattern[i];
    std::size_t end = i + 1;
    if (IsQuote(c)) {
      end = pattern.find(c, i + 1);
      end = end == std::string_view::npos ? pattern.size() : end + 1;
      out.append(pattern.substr(i, end - i));
    } else {
      while (end < pattern.size() && Lower(pattern[end]) == Lower(c)) ++end;
      out += rewrite(Lower(c), pattern.substr(i, end - i));
    }
    i = end;
  }
  return out;
}

// For an era calendar: year elements become era year elements (y: without
// leading zero, yy: two digits, yyyy: four digits). The era name element gg
// is already written as such.
std::string RewriteForEras(std::string_view pattern) {
  return RewriteLetters(pattern, [](char c, std::string_view run) -> std::string {
    if (c != 'y') return std::string(run);
    return run.size() == 1 ? "e" : run.size() == 2 ? "ee" : "eeee";
  });
}

std::string RemoveEraNames(std::string_view pattern) {
  return RewriteLetters(pattern, [](char c, std::string_view run) -> std::string {
    return c == 'g' ? std::string() : std::string(run);
  });
}

bool UsesEraNames(const std::string& language) {
  return language == "zh" || language == "ja" || language == "ko";
}

}  // namespace

TFormatSettings ReadFormatSettings(const FormatItemSource& source) {
  TFormatSettings s;
  s.ShortDatePattern = TextItem(source, FormatItem::kShortDate, s.ShortDatePattern);
  s.LongDatePattern = TextItem(source, FormatItem::kLongDate, s.LongDatePattern);
  s.DateSepChar = CharItem(source, FormatItem::kDateSeparator, s.DateSepChar);
  s.TimeSepChar = CharItem(source, FormatItem::kTimeSeparator, s.TimeSepChar);
  s.AmText = TextItem(source, FormatItem::kAmText, s.AmText);
  s.PmText = TextItem(source, FormatItem::kPmText, s.PmText);

  // The time patterns always come from the three clock numbers, never from a
  // time pattern of the region.
  const bool leadingZero = NumberItem(source, FormatItem::kHourLeadingZero, 0) != 0;
  const bool twelveHour = NumberItem(source, FormatItem::kClock, 0) == 0;
  const bool designatorFirst = NumberItem(source, FormatItem::kDesignatorPosition, 0) != 0;
  const std::string prefix = twelveHour && designatorFirst ? "AMPM " : "";
  const std::string suffix = twelveHour && !designatorFirst ? " AMPM" : "";
  const std::string hour = leadingZero ? "hh" : "h";
  s.LongTimePattern = prefix + hour + ":mm:ss" + suffix;
  s.ShortTimePattern = prefix + hour + ":mm" + suffix;

  for (int day = 0; day < 7; ++day) {
    auto& shortName = s.ShortDayNames[static_cast<std::size_t>(day)];
    auto& longName = s.LongDayNames[static_cast<std::size_t>(day)];
    shortName = TextItem(source, FormatItem::kShortDayName, shortName, day);
    longName = TextItem(source, FormatItem::kLongDayName, longName, day);
  }
  for (int month = 1; month <= 12; ++month) {
    auto& shortName = s.ShortMonthNames[static_cast<std::size_t>(month - 1)];
    auto& longName = s.LongMonthNames[static_cast<std::size_t>(month - 1)];
    shortName = TextItem(source, FormatItem::kShortMonthName, shortName, month);
    longName = TextItem(source, FormatItem::kLongMonthName, longName, month);
  }

  const int calendar = NumberItem(source, FormatItem::kCalendarType, 1);
  if (calendar >= 3 && calendar <= 5) {
    s.ShortDatePattern = RewriteForEras(s.ShortDatePattern);
    s.LongDatePattern = RewriteForEras(s.LongDatePattern);
    s.Eras = source.Eras();
    std::sort(s.Eras.begin(), s.Eras.end(), [](const TEra& a, const TEra& b) {
      return std::tie(a.year, a.month, a.day) < std::tie(b.year, b.month, b.day);
    });
  } else if (UsesEraNames(TextItem(source, FormatItem::kLanguage, ""))) {
    // These regions' patterns may name the era, which their other calendars lack.
    s.ShortDatePattern = RemoveEraNames(s.ShortDatePattern);
    s.LongDatePattern = RemoveEraNames(s.LongDatePattern);
  }
  return s;
}
