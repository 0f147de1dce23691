// A port backend double that takes any line setting and never has input;
// tests give it the write behaviour they need.
#pragma once

#include "SerialPort.h"

namespace lumo_test {

class SilentPort : public SerialPort {
 public:
  bool GetCommState(LineSettings& dcb) override {
    dcb.BaudRate = 9600;
    return true;
  }
  bool SetCommState(const LineSettings&) override { return true; }
  bool QueuedInput(uint32_t& count) override {
    count = 0;
    return true;
  }
  bool Read(uint8_t*, uint32_t, uint32_t& got) override {
    got = 0;
    return true;
  }
};

}  // namespace lumo_test
