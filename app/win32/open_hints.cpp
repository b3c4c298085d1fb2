#include "app/open_hints.h"

#include "async32/errors.h"
#include "async32/port_list.h"

namespace {

std::string PortList() {
  std::string ports;
  for (const auto& port : async32::ListSerialPorts()) ports += (ports.empty() ? "" : ", ") + port.path;
  return ports;
}

}  // namespace

// Windows does not share a serial port, and does not say who holds one.
std::string OpenHint(const std::string& path, int error, const std::string& /*procRoot*/) {
  switch (async32::ClassifyError(error)) {
    case async32::ErrorKind::kBusy:
      return path + " is in use by another program: close that program, or choose another port.";
    case async32::ErrorKind::kNotFound: {
      const std::string ports = PortList();
      return "There is no " + path + ". " +
             (ports.empty() ? "This machine has no serial port." : "Serial ports here: " + ports + ".");
    }
    default: return "";
  }
}
