// Feeds the date and time formatter any pattern, any moment and any settings
// texts: it must not crash, must not read past the end of the pattern and must
// return at most kMaxDateTimeTextLength characters.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "datetime/date_time_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  TFormatSettings settings;
  for (auto [text, length] : {std::pair{&settings.ShortDatePattern, 64}, {&settings.LongDatePattern, 64},
                              {&settings.ShortTimePattern, 32}, {&settings.LongTimePattern, 32},
                              {&settings.DateSepChar, 4}, {&settings.TimeSepChar, 4},
                              {&settings.AmText, 16}, {&settings.PmText, 16}}) {
    *text = input.ConsumeRandomLengthString(length);
  }
  settings.LongDayNames[input.ConsumeIntegralInRange(0, 6)] = input.ConsumeRandomLengthString(64);
  settings.LongMonthNames[input.ConsumeIntegralInRange(0, 11)] =
      input.ConsumeRandomLengthString(64);
  if (input.ConsumeBool()) {
    settings.Eras.push_back({input.ConsumeIntegral<int>(), input.ConsumeIntegral<int>(),
                             input.ConsumeIntegral<int>(), input.ConsumeRandomLengthString(16)});
  }
  DateTimeParts moment;
  for (int* field : {&moment.year, &moment.month, &moment.day, &moment.dayOfWeek, &moment.hour,
                     &moment.minute, &moment.second, &moment.millisecond}) {
    *field = input.ConsumeIntegral<int>();
  }

  // The pattern in a buffer of exactly its size, so that the address
  // sanitizer catches any read past its end.
  const std::string rest = input.ConsumeRemainingBytesAsString();
  auto pattern = std::make_unique<char[]>(rest.size());
  if (!rest.empty()) std::memcpy(pattern.get(), rest.data(), rest.size());
  const std::string text = FormatDateTime({pattern.get(), rest.size()}, moment, settings);
  if (text.size() > kMaxDateTimeTextLength) __builtin_trap();
  return 0;
}
