#pragma once
// The component over the port engine and a scripted device.

#include <memory>

#include "async32/comm32.h"
#include "async32/platform/port_engine.h"
#include "fake_driver.h"

namespace testing_support {

class FakeComm32 : public async32::TComm32 {
 public:
  std::shared_ptr<FakeDevice> device = std::make_shared<FakeDevice>();

  // The block the device holds now, as the component would read it.
  termios2 DeviceTermios() {
    return device->Get<termios2>([](FakeDevice& d) { return d.termios; });
  }

 protected:
  std::unique_ptr<async32::CommPort> CreatePort(const std::string&) override {
    return std::make_unique<async32::PortEngine>(std::make_unique<FakeDriver>(device));
  }
};

}  // namespace testing_support
