#include "async32/port_list.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace async32 {
namespace {

namespace fs = std::filesystem;

// The first line of a sysfs file, printable; "" when it cannot be read.
std::string FirstLine(const fs::path& file) {
  std::string line;
  std::getline(std::ifstream(file), line);
  return Printable(line);
}

bool Listed(const std::string& name, const fs::path& tty) {
  if (name.starts_with("ttyUSB") || name.starts_with("ttyACM")) return true;
  // The kernel makes every ttyS it could have; a type of 0 means no UART.
  if (name.starts_with("ttyS")) {
    const std::string type = FirstLine(tty / "type");
    return !type.empty() && type != "0";
  }
  return false;
}

// The USB device above the tty: the first parent folder with an idVendor.
void ReadUsb(const fs::path& tty, SerialPortInfo& port) {
  std::error_code error;
  for (fs::path dir = fs::canonical(tty / "device", error); !error && dir.has_relative_path();
       dir = dir.parent_path()) {
    if (!fs::exists(dir / "idVendor", error)) continue;
    port.vendorId = FirstLine(dir / "idVendor");
    port.productId = FirstLine(dir / "idProduct");
    port.manufacturer = FirstLine(dir / "manufacturer");
    port.product = FirstLine(dir / "product");
    port.serial = FirstLine(dir / "serial");
    return;
  }
}

}  // namespace

std::vector<SerialPortInfo> ListSerialPorts(const std::string& root) {
  std::vector<SerialPortInfo> ports;
  std::error_code error;
  const fs::path dev = root + "/dev";
  // An entry that cannot be read (permissions, a loop) is passed over.
  for (fs::directory_iterator it(root + "/sys/class/tty", error), end; !error && it != end;
       it.increment(error)) {
    const fs::directory_entry& entry = *it;
    const std::string name = entry.path().filename();
    if (!Listed(name, entry.path())) continue;
    SerialPortInfo port;
    port.path = "/dev/" + name;
    ReadUsb(entry.path(), port);
    const fs::path node = dev / name;
    port.mayOpen = access(node.c_str(), R_OK | W_OK) == 0;
    struct stat st {};
    if (stat(node.c_str(), &st) == 0) {
      if (const group* g = getgrgid(st.st_gid)) port.group = g->gr_name;
    }
    ports.push_back(port);
  }
  // The stable names under /dev/serial/by-id point at the nodes.
  error.clear();
  for (fs::directory_iterator it(dev / "serial" / "by-id", error), end; !error && it != end;
       it.increment(error)) {
    const fs::directory_entry& link = *it;
    std::error_code broken;
    const fs::path target = fs::canonical(link.path(), broken);
    for (SerialPortInfo& port : ports) {
      std::error_code missing;
      const fs::path node = fs::canonical(dev / fs::path(port.path).filename(), missing);
      if (!broken && !missing && target == node) {
        port.byId = "/dev/serial/by-id/" + Printable(link.path().filename().string());
      }
    }
  }
  std::sort(ports.begin(), ports.end(),
            [](const SerialPortInfo& a, const SerialPortInfo& b) { return a.path < b.path; });
  return ports;
}

}  // namespace async32
