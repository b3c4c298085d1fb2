#include "datetime/date_time_format.h"

#include <charconv>
#include <cstdint>
#include <tuple>

// A pattern is read from left to right. Letters are matched without regard to
// case and a run of the same letter forms one element; quoted text is copied
// without its quotes; every other character stands for itself, except "/" and
// ":", which give the date and time separators.

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsQuote(char c) { return c == '\'' || c == '"'; }

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (Lower(text[i]) != prefix[i]) return false;
  }
  return true;
}

// Length of the am/pm designator element that starts the text: ampm, am/pm
// or a/p in any letter case; 0 when the text starts with none of them.
std::size_t DesignatorLength(std::string_view text) {
  if (StartsWithNoCase(text, "am/pm")) return 5;
  if (StartsWithNoCase(text, "ampm")) return 4;
  if (StartsWithNoCase(text, "a/p")) return 3;
  return 0;
}

// Index just past the quoted text that starts at `open`; an unclosed quote
// runs to the end of the pattern.
std::size_t SkipQuoted(std::string_view pattern, std::size_t open) {
  std::size_t close = pattern.find(pattern[open], open + 1);
  return close == std::string_view::npos ? pattern.size() : close + 1;
}

// Whether the first a or h after `from`, skipping quoted text, starts a
// designator: then the hour before it is written on the 12-hour clock.
bool DesignatorAhead(std::string_view pattern, std::size_t from) {
  std::size_t i = from;
  while (i < pattern.size()) {
    char c = Lower(pattern[i]);
    if (IsQuote(c)) {
      i = SkipQuoted(pattern, i);
    } else if (c == 'h') {
      return false;
    } else if (c == 'a') {
      return DesignatorLength(pattern.substr(i)) != 0;
    } else {
      ++i;
    }
  }
  return false;
}

// Appends the number with at least `digits` digits (zeros in front).
void AppendNumber(std::string& out, std::int64_t value, int digits) {
  char buffer[24];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value < 0 ? -value : value);
  (void)ec;  // 24 characters hold every 64-bit value
  if (value < 0) out += '-';
  for (auto length = end - buffer; length < digits; ++length) out += '0';
  out.append(buffer, end);
}

// Appends the name at the index; an index outside the names gives nothing.
void AppendName(std::string& out, const auto& names, std::int64_t index) {
  if (index >= 0 && static_cast<std::size_t>(index) < names.size()) {
    out += names[static_cast<std::size_t>(index)];
  }
}

// The era the moment falls in: the latest one that began on or before it.
const TEra* EraOf(const DateTimeParts& moment, const std::vector<TEra>& eras) {
  const TEra* found = nullptr;
  for (const TEra& era : eras) {
    if (std::tie(era.year, era.month, era.day) <= std::tie(moment.year, moment.month, moment.day))
      found = &era;
  }
  return found;
}

class PatternWriter {
 public:
  PatternWriter(const DateTimeParts& moment, const TFormatSettings& settings, std::string& out)
      : moment_(moment), settings_(settings), out_(out) {}

  // Writes one pattern. Elements that insert a whole pattern work only in the
  // pattern the caller gave; inside an inserted pattern they give nothing.
  void Write(std::string_view pattern, bool inserted);

 private:
  bool Full() const { return out_.size() >= kMaxDateTimeTextLength; }
  void Insert(const std::string& pattern, bool inserted) {
    if (!inserted) Write(pattern, true);
  }
  void AppendHour(bool twelveHour, std::size_t run);
  void AppendEraYear(std::size_t run);
  bool Morning() const { return moment_.hour < 12; }

  const DateTimeParts& moment_;
  const TFormatSettings& settings_;
  std::string& out_;
};

void PatternWriter::AppendHour(bool twelveHour, std::size_t run) {
  std::int64_t hour = moment_.hour;
  if (twelveHour) {
    hour %= 12;
    if (hour == 0) hour = 12;
  }
  AppendNumber(out_, hour, run >= 2 ? 2 : 1);
}

void PatternWriter::AppendEraYear(std::size_t run) {
  // Before the first era (or without eras) the year is written as it is.
  std::int64_t year = moment_.year;
  if (const TEra* era = EraOf(moment_, settings_.Eras)) year = year - era->year + 1;
  if (run == 1) {
    AppendNumber(out_, year, 1);
  } else if (run == 2) {
    AppendNumber(out_, (year % 100 + 100) % 100, 2);
  } else {
    AppendNumber(out_, year, 4);
  }
}

void PatternWriter::Write(std::string_view pattern, bool inserted) {
  bool twelveHour = false;  // sticky for the rest of this pattern
  bool afterHour = false;   // the nearest letter element so far is an hour
  std::size_t i = 0;
  while (i < pattern.size() && !Full()) {
    const char c = pattern[i];
    const char letter = Lower(c);
    if (IsQuote(c)) {
      std::size_t close = pattern.find(c, i + 1);
      if (close == std::string_view::npos) close = pattern.size();
      out_.append(pattern.substr(i + 1, close - (i + 1)));
      i = close + 1;
      continue;
    }
    if (!IsLetter(c)) {
      if (c == '/') {
        out_ += settings_.DateSepChar;
      } else if (c == ':') {
        out_ += settings_.TimeSepChar;
      } else {
        out_ += c;
      }
      ++i;
      continue;
    }
    const bool minutes = afterHour;
    afterHour = false;
    if (std::size_t length = letter == 'a' ? DesignatorLength(pattern.substr(i)) : 0) {
      std::string_view element = pattern.substr(i, length);
      if (length == 4) {
        out_ += Morning() ? settings_.AmText : settings_.PmText;
      } else if (length == 5) {
        out_ += Morning() ? element.substr(0, 2) : element.substr(3, 2);
      } else {
        out_ += Morning() ? element[0] : element[2];
      }
      twelveHour = true;
      i += length;
      continue;
    }
    std::size_t run = 1;
    while (i + run < pattern.size() && Lower(pattern[i + run]) == letter) ++run;
    const std::string_view element = pattern.substr(i, run);
    i += run;
    switch (letter) {
      case 'd':
        if (run <= 2) {
          AppendNumber(out_, moment_.day, static_cast<int>(run));
        } else if (run == 3) {
          AppendName(out_, settings_.ShortDayNames, moment_.dayOfWeek);
        } else if (run == 4) {
          AppendName(out_, settings_.LongDayNames, moment_.dayOfWeek);
        } else {
          Insert(run == 5 ? settings_.ShortDatePattern : settings_.LongDatePattern, inserted);
        }
        break;
      case 'm':
        if (minutes) {
          AppendNumber(out_, moment_.minute, run >= 2 ? 2 : 1);
        } else if (run <= 2) {
          AppendNumber(out_, moment_.month, static_cast<int>(run));
        } else {
          AppendName(out_, run == 3 ? settings_.ShortMonthNames : settings_.LongMonthNames,
                     std::int64_t{moment_.month} - 1);
        }
        break;
      case 'y':
        if (run <= 2) {
          AppendNumber(out_, (moment_.year % 100 + 100) % 100, 2);
        } else {
          AppendNumber(out_, moment_.year, 4);
        }
        break;
      case 'h':
        twelveHour = twelveHour || DesignatorAhead(pattern, i);
        AppendHour(twelveHour, run);
        afterHour = true;
        break;
      case 'n':
        AppendNumber(out_, moment_.minute, run >= 2 ? 2 : 1);
        break;
      case 's':
        AppendNumber(out_, moment_.second, run >= 2 ? 2 : 1);
        break;
      case 'a':  // aaa and aaaa are day names; a lone a or aa is plain text
        if (run == 3) {
          AppendName(out_, settings_.ShortDayNames, moment_.dayOfWeek);
        } else if (run >= 4) {
          AppendName(out_, settings_.LongDayNames, moment_.dayOfWeek);
        } else {
          out_.append(element);
        }
        break;
      case 't':
        Insert(run == 1 ? settings_.ShortTimePattern : settings_.LongTimePattern, inserted);
        break;
      case 'c':
        if (!inserted) {
          Write(settings_.ShortDatePattern, true);
          if (moment_.hour != 0 || moment_.minute != 0 || moment_.second != 0) {
            out_ += ' ';
            Write(settings_.LongTimePattern, true);
          }
        }
        break;
      case 'g':
        if (const TEra* era = EraOf(moment_, settings_.Eras)) out_ += era->name;
        break;
      case 'e':
        AppendEraYear(run);
        break;
      default:
        out_.append(element);
        break;
    }
  }
}

bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Cuts the text to the longest length, without leaving the first bytes of a
// UTF-8 character at its end.
void Cut(std::string& text) {
  if (text.size() <= kMaxDateTimeTextLength) return;
  std::size_t length = kMaxDateTimeTextLength;
  std::size_t start = length;
  while (start > 0 && length - start < 3 && IsContinuationByte(text[start])) --start;
  if (!IsContinuationByte(text[start])) length = start;
  text.resize(length);
}

}  // namespace

std::string FormatDateTime(std::string_view pattern, const DateTimeParts& moment,
                           const TFormatSettings& settings) {
  std::string text;
  PatternWriter(moment, settings, text).Write(pattern, false);
  Cut(text);
  return text;
}
