// A port backend that refuses one line rate, as a driver may, and passes
// everything else to the real port it wraps.
#pragma once

#include <memory>

#include "SerialPort.h"

namespace lumo_test {

class RefusingPort : public SerialPort {
 public:
  RefusingPort(std::unique_ptr<SerialPort> real, uint32_t refused) : real_(std::move(real)), refused_(refused) {}
  bool GetCommState(DCB& dcb) override { return real_->GetCommState(dcb); }
  bool SetCommState(const DCB& dcb) override { return dcb.BaudRate != refused_ && real_->SetCommState(dcb); }
  bool QueuedInput(uint32_t& count) override { return real_->QueuedInput(count); }
  bool Read(uint8_t* buffer, uint32_t size, uint32_t& got) override { return real_->Read(buffer, size, got); }
  bool Write(const uint8_t* buffer, uint32_t size, uint32_t& written) override {
    return real_->Write(buffer, size, written);
  }

 private:
  std::unique_ptr<SerialPort> real_;
  uint32_t refused_;
};

}  // namespace lumo_test
