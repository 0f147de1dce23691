// The line between a tool's port and the in-process unit, and the job's
// clock in virtual time: a whole job runs on the calling thread against
// VirtualUnit, a 2000 ms pause moves a counter instead of the wall clock, and
// every wait's length is exact. Used by the job fuzzer and the tests alike.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "JobClock.h"
#include "SerialPort.h"
#include "VirtualUnit.h"

class SerialLink;

namespace sim {

class VirtualLine final : public JobClock {
 public:
  using Time = VirtualUnit::Time;
  // The one port of the line.
  static constexpr const char* DEVICE = "virtual-line";

  // limit: how much virtual time a job may take at the most; a wait that
  // runs past it has no bound, and the process aborts with a note.
  explicit VirtualLine(const VirtualUnitOptions& options,
                       std::chrono::nanoseconds limit = std::chrono::hours(1));

  // The link whose receive buffer the line fills as time moves on; also
  // makes the line the link's clock.
  void Attach(SerialLink& link);

  // The port seam of the line: DEVICE is its only port, listed as COM1.
  PortFactory& Ports() { return ports_; }
  // How often the port was opened; whether it is open now.
  int Opens() const { return opens_; }
  bool PortOpen() const { return open_; }

  // JobClock
  TimePoint Now() override { return now_; }
  void Pause(std::chrono::nanoseconds duration) override;
  bool WaitForStore(SerialLink& link, uint64_t& seen, TimePoint deadline) override;
  void WaitForBaudAnswer(SerialLink& link) override;

  VirtualUnit unit;

 private:
  class Port;
  class Factory final : public PortFactory {
   public:
    explicit Factory(VirtualLine& line) : line_(line) {}
    std::optional<std::vector<SerialDeviceEntry>> ListPorts() override;
    bool Probe(const std::string& device) override;
    std::unique_ptr<SerialPort> Open(const std::string& device) override;

   private:
    VirtualLine& line_;
  };

  // Time moves on: the unit hears and answers, and the receive thread's
  // passes store what reached the port.
  void AdvanceTo(Time target);

  std::chrono::nanoseconds limit_;
  Factory ports_{*this};
  SerialLink* link_ = nullptr;
  Time now_{};
  uint32_t rate_ = 0;
  int opens_ = 0;
  bool open_ = false;
};

}  // namespace sim
