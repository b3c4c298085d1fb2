// The serial ports of a machine, listed from a sysfs and /dev tree of the
// test's own: a USB adapter with its by-id link, a ttyS with a UART and one
// without, a console that is no serial port, and an adapter whose texts
// hold a terminal's escapes and whose entries cannot be read.

#include "async32/port_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace async32 {
namespace {

namespace fs = std::filesystem;

TEST(PortList, UsbAdaptersAndTheUartsThatAreThere) {
  const fs::path root = fs::temp_directory_path() / ("karolx-sysfs-" + std::to_string(getpid()));
  auto file = [&](const fs::path& path, const std::string& text) {
    fs::create_directories((root / path).parent_path());
    std::ofstream(root / path) << text << "\n";
  };
  const fs::path usb = "sys/devices/pci0000:00/usb1/1-2";
  file(usb / "idVendor", "0403");
  file(usb / "idProduct", "6001");
  file(usb / "manufacturer", "FTDI");
  file(usb / "product", "FT232R USB UART");
  file(usb / "serial", "A1B2C3");
  fs::create_directories(root / usb / "1-2:1.0/ttyUSB0");
  fs::create_directories(root / "sys/class/tty/ttyUSB0");
  fs::create_directory_symlink(root / usb / "1-2:1.0/ttyUSB0", root / "sys/class/tty/ttyUSB0/device");
  file("sys/class/tty/ttyS0/type", "4");
  file("sys/class/tty/ttyS1/type", "0");
  file("sys/class/tty/tty1/dev", "4:1");
  const fs::path rogue = "sys/devices/pci0000:00/usb1/1-3";
  file(rogue / "idVendor", "dead");
  file(rogue / "manufacturer", "\x1b]0;owned\x07\x1b[2J\"Evil\"");
  fs::create_symlink("idProduct", root / rogue / "idProduct");  // a loop
  fs::create_directories(root / rogue / "1-3:1.0/ttyUSB1");
  fs::create_directories(root / "sys/class/tty/ttyUSB1");
  fs::create_directory_symlink(root / rogue / "1-3:1.0/ttyUSB1", root / "sys/class/tty/ttyUSB1/device");
  const fs::path looped = "sys/devices/pci0000:00/usb1/1-4";
  fs::create_directories(root / looped / "1-4:1.0/ttyUSB2");
  fs::create_symlink("idVendor", root / looped / "idVendor");  // a loop
  fs::create_directories(root / "sys/class/tty/ttyUSB2");
  fs::create_directory_symlink(root / looped / "1-4:1.0/ttyUSB2", root / "sys/class/tty/ttyUSB2/device");
  for (const char* node : {"dev/ttyUSB0", "dev/ttyUSB1", "dev/ttyUSB2", "dev/ttyS0", "dev/ttyS1"}) {
    file(node, "");
  }
  fs::create_directories(root / "dev/serial/by-id");
  fs::create_symlink("../../ttyUSB0", root / "dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0");

  const auto ports = ListSerialPorts(root.string());
  ASSERT_EQ(ports.size(), 4u);
  EXPECT_EQ(PortLine(ports[0]), "/dev/ttyS0  (you may open it)");
  EXPECT_EQ(PortLine(ports[1]),
            "/dev/ttyUSB0  /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0  "
            "USB 0403:6001 \"FTDI\" \"FT232R USB UART\" serial A1B2C3  (you may open it)");
  EXPECT_EQ(PortLine(ports[2]), "/dev/ttyUSB1  USB dead: \"?]0;owned??[2J?Evil?\"  (you may open it)");
  EXPECT_EQ(PortLine(ports[3]), "/dev/ttyUSB2  (you may open it)");
  SerialPortInfo closed = ports[0];
  closed.mayOpen = false;
  closed.group = "dialout";
  EXPECT_EQ(PortLine(closed), "/dev/ttyS0  (not yours to open: group dialout)");
  fs::remove_all(root);
}

}  // namespace
}  // namespace async32
