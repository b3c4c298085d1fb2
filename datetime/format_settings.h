#pragma once

#include <array>
#include <string>
#include <vector>

class FormatItemSource;

// One era of an era calendar: the Gregorian date of its first day and its name.
struct TEra {
  int year = 1;
  int month = 1;
  int day = 1;
  std::string name;
};

// The regional settings that date and time texts are written with. The
// members start at the values used when the region supplies nothing.
struct TFormatSettings {
  std::string ShortDatePattern = "m/d/yy";
  std::string LongDatePattern = "mmmm d, yyyy";
  std::string ShortTimePattern = "h:mm AMPM";
  std::string LongTimePattern = "h:mm:ss AMPM";
  std::string DateSepChar = "/";
  std::string TimeSepChar = ":";
  std::string AmText = "am";
  std::string PmText = "pm";
  // Sunday first, as the clock counts the days of the week.
  std::array<std::string, 7> ShortDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  std::array<std::string, 7> LongDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                             "Thursday", "Friday", "Saturday"};
  std::array<std::string, 12> ShortMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                 "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::array<std::string, 12> LongMonthNames = {"January",   "February", "March",    "April",
                                                "May",       "June",     "July",     "August",
                                                "September", "October",  "November", "December"};
  // Empty unless the region uses an era calendar; oldest era first.
  std::vector<TEra> Eras;
};

// Reads every setting from the source, applying the defaults above where the
// source has no value and building the time patterns from the clock items.
TFormatSettings ReadFormatSettings(const FormatItemSource& source);
