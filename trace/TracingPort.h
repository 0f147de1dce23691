// The wire trace at the port seam: a port factory that wraps another and
// hands out ports that record into a WireTrace what they write, what they
// read and the rate they are set to. Everything else passes through as it is.
//
//   WireTrace trace(path);                   // trace.IsOpen(): could it be made?
//   TracingPortFactory ports(platform, trace);
//   ... jobs on &ports ...
//   trace.Close();                           // or let it go: the same
//
// The factory and every port it opened must be gone before the trace is.
// One trace follows one port at a time (a front end with several ports
// gives each its own trace).
#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SerialPort.h"
#include "WireTrace.h"

class TracingPort final : public SerialPort {
 public:
  TracingPort(std::unique_ptr<SerialPort> port, WireTrace& trace) : port_(std::move(port)), trace_(trace) {}
  // Closes the port, then notes it in the trace.
  ~TracingPort() override;

  bool GetCommState(LineSettings& settings) override { return port_->GetCommState(settings); }
  // A rate the device took is the rate of the bytes from then on.
  bool SetCommState(const LineSettings& settings) override;
  bool QueuedInput(uint32_t& count) override { return port_->QueuedInput(count); }
  // The bytes it stored are recorded, whatever it returns.
  bool Read(uint8_t* buffer, uint32_t size, uint32_t& got) override;
  // The bytes the device took are recorded, whatever it returns.
  bool Write(const uint8_t* buffer, uint32_t size, uint32_t& written) override;
  bool Gone() const override { return port_->Gone(); }
  void WaitForInput(std::chrono::milliseconds bound) override { port_->WaitForInput(bound); }
  void Wake() override { port_->Wake(); }

 private:
  std::unique_ptr<SerialPort> port_;
  WireTrace& trace_;
  // Set on the window thread, read by the worker and the receive thread.
  std::atomic<uint32_t> rate_{0};
};

class TracingPortFactory final : public PortFactory {
 public:
  TracingPortFactory(PortFactory& ports, WireTrace& trace) : ports_(ports), trace_(trace) {}

  std::optional<std::vector<SerialDeviceEntry>> ListPorts() override { return ports_.ListPorts(); }
  bool Probe(const std::string& devicePath) override { return ports_.Probe(devicePath); }
  // The wrapped factory's port in a TracingPort; null (and a note) when it
  // could not be opened.
  std::unique_ptr<SerialPort> Open(const std::string& devicePath) override;
  const PortConfig& Config() const override { return ports_.Config(); }

 private:
  PortFactory& ports_;
  WireTrace& trace_;
};
