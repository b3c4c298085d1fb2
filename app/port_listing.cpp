#include "app/port_listing.h"

#include <cstdio>

#include "async32/port_list.h"

void PrintSerialPorts() {
  const auto ports = async32::ListSerialPorts();
  for (const auto& port : ports) std::printf("%s\n", async32::PortLine(port).c_str());
  if (ports.empty()) std::printf("No serial port found.\n");
}
