#include "datetime/qlocale_item_source.h"

#include <QString>
#include <cstddef>
#include <vector>

// Qt writes its formats in its own syntax: runs of d, M, y, h, H, m, s, z and
// t are fields, a or A (optionally followed by p or P) is the designator, text
// in single quotes is literal and two single quotes are one quote. Everything
// else is literal text.

namespace {

struct QtToken {
  char16_t field = 0;  // 0: literal text
  qsizetype count = 0;
  QString text;
};

bool IsQtField(QChar c) { return QStringView(u"dMyhHmszt").contains(c); }

std::vector<QtToken> Tokenize(const QString& format) {
  std::vector<QtToken> tokens;
  auto literal = [&tokens](QChar c) {
    if (tokens.empty() || tokens.back().field != 0) tokens.push_back({});
    tokens.back().text += c;
  };
  const qsizetype size = format.size();
  qsizetype i = 0;
  while (i < size) {
    const QChar c = format[i];
    if (c == u'\'') {
      if (i + 1 < size && format[i + 1] == u'\'') {
        literal(c);
        i += 2;
        continue;
      }
      for (++i; i < size; ++i) {
        if (format[i] != u'\'') {
          literal(format[i]);
        } else if (i + 1 < size && format[i + 1] == u'\'') {
          literal(format[i++]);
        } else {
          break;
        }
      }
      ++i;
    } else if (c == u'a' || c == u'A') {
      const qsizetype n = i + 1 < size && (format[i + 1] == u'p' || format[i + 1] == u'P') ? 2 : 1;
      tokens.push_back({u'a', n, {}});
      i += n;
    } else if (IsQtField(c)) {
      qsizetype n = 1;
      while (i + n < size && format[i + n] == c) ++n;
      tokens.push_back({c.unicode(), n, {}});
      i += n;
    } else {
      literal(c);
      ++i;
    }
  }
  return tokens;
}

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Literal text in our pattern syntax: letters go in double quotes so they
// are not read as elements; a quote character is quoted by the other kind.
void AppendLiteral(std::string& out, const QString& text) {
  bool quoted = false;
  for (char c : text.toStdString()) {
    if (IsAsciiLetter(c) != quoted) {
      out += '"';
      quoted = !quoted;
    }
    if (c == '"') {
      out += "'\"'";
    } else if (c == '\'') {
      out += "\"'\"";
    } else {
      out += c;
    }
  }
  if (quoted) out += '"';
}

// Appends a run of one letter, kept apart from a run of the same letter
// before it by an empty quoted text.
void AppendElement(std::string& out, char letter, qsizetype count) {
  if (!out.empty() && (out.back() | 0x20) == letter) out += "''";
  out.append(static_cast<std::size_t>(count), letter);
}

// Converts a Qt date format. Qt reads at most four d or M as one field and
// y only as yy or yyyy; a lone y is literal. Time fields have no place in a
// date and are left out.
std::string DatePattern(const QString& format) {
  std::string out;
  for (const QtToken& token : Tokenize(format)) {
    qsizetype n = token.count;
    switch (token.field) {
      case 0:
        AppendLiteral(out, token.text);
        break;
      case u'd':
      case u'M':
        for (; n > 0; n -= 4) AppendElement(out, token.field == u'd' ? 'd' : 'm', n < 4 ? n : 4);
        break;
      case u'y':
        for (; n >= 4; n -= 4) AppendElement(out, 'y', 4);
        if (n >= 2) AppendElement(out, 'y', 2);
        if (n % 2 == 1) AppendLiteral(out, QStringLiteral("y"));
        break;
      default:
        break;
    }
  }
  return out;
}

// The literal text between the first field of the format that passes
// `isField` and the next field of any kind: the separator the region writes
// after it. Nothing when there is no such pair of fields.
std::optional<std::string> SeparatorAfter(const std::vector<QtToken>& tokens, auto isField) {
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i].field == 0 || !isField(tokens[i].field)) continue;
    if (i + 1 < tokens.size() && tokens[i + 1].field != 0) return std::string();
    if (i + 2 < tokens.size()) return tokens[i + 1].text.toStdString();
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

QLocaleItemSource::QLocaleItemSource(const QLocale& locale) {
  const QString shortDate = locale.dateFormat(QLocale::ShortFormat);
  Set(FormatItem::kShortDate, DatePattern(shortDate));
  Set(FormatItem::kLongDate, DatePattern(locale.dateFormat(QLocale::LongFormat)));
  auto dateField = [](char16_t f) { return f == u'd' || f == u'M' || f == u'y'; };
  if (auto separator = SeparatorAfter(Tokenize(shortDate), dateField)) {
    Set(FormatItem::kDateSeparator, *separator);
  }

  // The clock items come from the long time format, the one with seconds.
  const std::vector<QtToken> time = Tokenize(locale.timeFormat(QLocale::LongFormat));
  auto hourField = [](char16_t f) { return f == u'h' || f == u'H'; };
  if (auto separator = SeparatorAfter(time, hourField)) {
    Set(FormatItem::kTimeSeparator, *separator);
  }
  std::size_t hour = time.size();
  std::size_t designator = time.size();
  for (std::size_t i = time.size(); i-- > 0;) {
    if (hourField(time[i].field)) hour = i;
    if (time[i].field == u'a') designator = i;
  }
  if (hour < time.size()) {
    Set(FormatItem::kHourLeadingZero, time[hour].count >= 2 ? "1" : "0");
  }
  Set(FormatItem::kClock, designator < time.size() ? "0" : "1");
  Set(FormatItem::kDesignatorPosition, designator < hour ? "1" : "0");
  Set(FormatItem::kAmText, locale.amText().toStdString());
  Set(FormatItem::kPmText, locale.pmText().toStdString());

  // Qt's regional data has no era calendars, so no calendar type is given.
  Set(FormatItem::kLanguage, QLocale::languageToCode(locale.language()).toStdString());

  // The names in the form the region writes inside a date. Qt counts the
  // days of the week from Monday (1) to Sunday (7).
  for (int day = 0; day < 7; ++day) {
    const int qtDay = day == 0 ? 7 : day;
    Set(FormatItem::kShortDayName, locale.dayName(qtDay, QLocale::ShortFormat).toStdString(), day);
    Set(FormatItem::kLongDayName, locale.dayName(qtDay, QLocale::LongFormat).toStdString(), day);
  }
  for (int month = 1; month <= 12; ++month) {
    Set(FormatItem::kShortMonthName, locale.monthName(month, QLocale::ShortFormat).toStdString(),
        month);
    Set(FormatItem::kLongMonthName, locale.monthName(month, QLocale::LongFormat).toStdString(),
        month);
  }
}
