// A port backend that refuses one line rate, as a driver may, and passes
// everything else to the real port it wraps.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "SerialPort.h"
#include "TestPortConfig.h"

namespace lumo_test {

class RefusingPort : public SerialPort {
 public:
  RefusingPort(std::unique_ptr<SerialPort> real, uint32_t refused) : real_(std::move(real)), refused_(refused) {}
  bool GetCommState(LineSettings& dcb) override { return real_->GetCommState(dcb); }
  bool SetCommState(const LineSettings& dcb) override { return dcb.BaudRate != refused_ && real_->SetCommState(dcb); }
  bool QueuedInput(uint32_t& count) override { return real_->QueuedInput(count); }
  bool Read(uint8_t* buffer, uint32_t size, uint32_t& got) override { return real_->Read(buffer, size, got); }
  bool Write(const uint8_t* buffer, uint32_t size, uint32_t& written) override {
    return real_->Write(buffer, size, written);
  }
  bool Gone() const override { return real_->Gone(); }
  void WaitForInput(std::chrono::milliseconds bound) override { real_->WaitForInput(bound); }
  void Wake() override { real_->Wake(); }

 private:
  std::unique_ptr<SerialPort> real_;
  uint32_t refused_;
};

// The platform's ports, each refusing one rate (0: none), or refusing to open
// at all; with the test's lock folder and, when given, its COM folder.
class TestPortFactory : public PortFactory {
 public:
  explicit TestPortFactory(uint32_t refusedRate = 0, const std::string& comFolder = {})
      : real_(MakeTestPortFactory(comFolder)), refused_(refusedRate) {}
  std::optional<std::vector<SerialDeviceEntry>> ListPorts() override { return real_->ListPorts(); }
  bool Probe(const std::string& devicePath) override { return real_->Probe(devicePath); }
  std::unique_ptr<SerialPort> Open(const std::string& devicePath) override {
    if (refuseOpen_) return nullptr;
    std::unique_ptr<SerialPort> port = real_->Open(devicePath);
    if (!port || refused_ == 0) return port;
    return std::make_unique<RefusingPort>(std::move(port), refused_);
  }
  const PortConfig& Config() const override { return real_->Config(); }
  void RefuseRate(uint32_t rate) { refused_ = rate; }
  void RefuseOpen(bool refuse) { refuseOpen_ = refuse; }

 private:
  std::unique_ptr<PortFactory> real_;
  uint32_t refused_;
  bool refuseOpen_ = false;
};

}  // namespace lumo_test
