#include "TracingPort.h"

#include <algorithm>

TracingPort::~TracingPort() {
  port_.reset();
  trace_.PortClosed();
}

bool TracingPort::SetCommState(const LineSettings& settings) {
  const bool set = port_->SetCommState(settings);
  if (set) rate_.store(settings.BaudRate);
  return set;
}

bool TracingPort::Read(uint8_t* buffer, uint32_t size, uint32_t& got) {
  const bool ok = port_->Read(buffer, size, got);
  trace_.Received(buffer, std::min(got, size), rate_.load());
  return ok;
}

bool TracingPort::Write(const uint8_t* buffer, uint32_t size, uint32_t& written) {
  // Timed at its start: the unit's answer may be read before this call
  // comes back, and must not stand before it in the trace.
  const uint32_t rate = rate_.load();
  const uint64_t began = trace_.SendBegins();
  const bool ok = port_->Write(buffer, size, written);
  trace_.SendEnds(began, buffer, std::min(written, size), rate);
  return ok;
}

std::unique_ptr<SerialPort> TracingPortFactory::Open(const std::string& devicePath) {
  std::unique_ptr<SerialPort> port = ports_.Open(devicePath);
  if (!port) {
    trace_.PortNotOpened(devicePath);
    return nullptr;
  }
  trace_.PortOpened(devicePath);
  return std::make_unique<TracingPort>(std::move(port), trace_);
}
