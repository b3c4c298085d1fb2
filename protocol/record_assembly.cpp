#include "protocol/record_assembly.h"

std::string RecordLine(const TRecord& record, std::string_view date, std::string_view time) {
  std::string line;
  line.reserve(kRecordLength + date.size() + time.size() + 4);
  line.append(reinterpret_cast<const char*>(record.data() + 1), kRecordLength);
  line += " (";
  line += date;
  line += ' ';
  line += time;
  line += ')';
  return line;
}

std::string ClockMessage(const DateTimeParts& moment) {
  std::string message = "(";
  for (int field : {moment.month, moment.day, moment.year % 100, moment.hour, moment.minute,
                    moment.second}) {
    message += static_cast<char>('0' + field / 10 % 10);
    message += static_cast<char>('0' + field % 10);
  }
  message += ')';
  return message;
}

std::string_view ProviderSubTypeText(int32_t providerSubType) {
  switch (providerSubType) {
    case 0: return "Unspecified";
    case 1: return "RS-232 serial port";
    case 2: return "Parallel port";
    case 3: return "RS-422 port";
    case 4: return "RS-423 port";
    case 5: return "RS-449 port";
    case 6: return "Modem device";
    case 33: return "FAX device";
    case 34: return "Scanner device";
    case 256: return "Unspecified network bridge";
    case 257: return "LAT protocol";
    case 258: return "TCP/IP Telnet protocol";
    case 259: return "X.25 standards";
    default: return "";
  }
}
