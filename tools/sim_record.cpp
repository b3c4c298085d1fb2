#include "sim_record.h"

#include <cmath>
#include <cstdio>

#include "device_simulator.h"

namespace devsim {
namespace {

using std::chrono::sys_seconds;

std::string FormatTime(sys_seconds time) {
  const auto day = std::chrono::floor<std::chrono::days>(time);
  const std::chrono::year_month_day date{day};
  const std::chrono::hh_mm_ss clock{time - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()));
  return text;
}

}  // namespace

bool DeviceClock::set(std::string_view digits) {
  if (digits.size() != 12) return false;
  int field[6];
  for (int i = 0; i < 6; ++i) {
    const char high = digits[2 * i], low = digits[2 * i + 1];
    if (high < '0' || high > '9' || low < '0' || low > '9') return false;
    field[i] = (high - '0') * 10 + (low - '0');
  }
  const std::chrono::year_month_day date{std::chrono::year{2000 + field[2]},
                                         std::chrono::month{static_cast<unsigned>(field[0])},
                                         std::chrono::day{static_cast<unsigned>(field[1])}};
  if (!date.ok() || field[3] > 23 || field[4] > 59 || field[5] > 59) return false;
  const sys_seconds given = std::chrono::sys_days{date} + std::chrono::hours{field[3]} +
                            std::chrono::minutes{field[4]} + std::chrono::seconds{field[5]};
  offset_ = given - std::chrono::system_clock::now();
  return true;
}

std::string DeviceClock::text() const {
  using namespace std::chrono;
  const auto now = offset_ ? system_clock::now() + *offset_
                           : system_clock::time_point{sys_days{2000y / January / 1}} +
                                 duration_cast<system_clock::duration>(steady_clock::now() - born_);
  return FormatTime(floor<seconds>(now));
}

std::string MakeRecord(std::uint64_t index, const std::string& clockText, RecordContent content) {
  constexpr std::size_t kSize = DeviceSimulator::kRecordSize;
  const double value = 20.0 + 5.0 * std::sin(static_cast<double>(index) * 0.05);
  char text[64];
  std::snprintf(text, sizeof text, "%06llu %s %+07.3f",
                static_cast<unsigned long long>(index % 1000000), clockText.c_str(), value);
  std::string record(text);
  record.resize(kSize, ' ');
  if (content == RecordContent::kSpecialBytes) {
    record[6] = '\0';
    record[17] = '\r';
    record[26] = '\x1a';
  } else if (content == RecordContent::kAllByteValues) {
    for (std::size_t i = 6; i < kSize; ++i) {
      record[i] = static_cast<char>((index * (kSize - 6) + (i - 6)) % 256);
    }
  }
  return record;
}

}  // namespace devsim
