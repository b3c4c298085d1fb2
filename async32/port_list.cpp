#include "async32/port_list.h"

namespace async32 {

std::string Printable(std::string_view text) {
  std::string printable(text);
  for (char& c : printable) {
    if (c < 0x20 || c > 0x7e || c == '"' || c == '\'') c = '?';
  }
  return printable;
}

std::string PortLine(const SerialPortInfo& port) {
  std::string line = port.path;
  if (!port.byId.empty()) line += "  " + port.byId;
  if (!port.vendorId.empty()) {
    line += "  USB " + port.vendorId + ":" + port.productId;
    for (const std::string* text : {&port.manufacturer, &port.product}) {
      if (!text->empty()) line += " \"" + *text + "\"";
    }
    if (!port.serial.empty()) line += " serial " + port.serial;
  }
  line += port.mayOpen ? "  (you may open it)"
                       : "  (not yours to open" + (port.group.empty() ? "" : ": group " + port.group) + ")";
  return line;
}

}  // namespace async32
