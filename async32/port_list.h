#pragma once
// The serial ports of this machine, as the kernel lists them: USB adapters
// (ttyUSB, ttyACM) and the ttyS ports that have a UART behind them.

#include <string>
#include <string_view>
#include <vector>

namespace async32 {

struct SerialPortInfo {
  std::string path;  // /dev/ttyUSB0
  std::string byId;  // its /dev/serial/by-id link, or ""
  // For a USB adapter: the IDs as four hex digits, the maker's and the
  // product's texts and the serial number; empty otherwise.
  std::string vendorId, productId, manufacturer, product, serial;
  bool mayOpen = false;  // the current user may read and write it
  std::string group;     // the group that owns the device
};

// Lists the ports, sorted by path. `root` is prefixed to /sys and /dev, so
// that a test can hand over a tree of its own.
std::vector<SerialPortInfo> ListSerialPorts(const std::string& root = "");

// One line for `port`, as --list prints it.
std::string PortLine(const SerialPortInfo& port);

// `text` with every byte that is not printable ASCII, and the quotes, as
// "?": what a device or a program calls itself may hold a terminal's escapes.
std::string Printable(std::string_view text);

}  // namespace async32
