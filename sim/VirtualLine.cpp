#include "VirtualLine.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "SerialLink.h"
#include "LinkTiming.h"

namespace sim {

class VirtualLine::Port final : public SerialPort {
 public:
  explicit Port(VirtualLine& line) : line_(line) { line_.open_ = true; }
  ~Port() override { line_.open_ = false; }
  bool GetCommState(LineSettings& settings) override {
    settings.BaudRate = line_.rate_;
    return true;
  }
  bool SetCommState(const LineSettings& settings) override {
    if (settings.BaudRate == 0 || settings.BaudRate > 4000000) return false;
    line_.rate_ = settings.BaudRate;
    return true;
  }
  bool QueuedInput(uint32_t& count) override {
    line_.unit.RunUntil(line_.now_);
    count = static_cast<uint32_t>(line_.unit.QueuedForHost(line_.now_));
    return true;
  }
  bool Read(uint8_t* buffer, uint32_t size, uint32_t& got) override {
    got = static_cast<uint32_t>(line_.unit.TakeForHost(buffer, size, line_.now_, static_cast<int>(line_.rate_)));
    return true;
  }
  bool Write(const uint8_t* buffer, uint32_t size, uint32_t& written) override {
    written = 0;
    if (line_.unit.HungUp()) return false;
    line_.unit.HostWrite(buffer, size, static_cast<int>(line_.rate_), line_.now_);
    written = size;
    return true;
  }
  bool Gone() const override { return line_.unit.HungUp(); }

 private:
  VirtualLine& line_;
};

VirtualLine::VirtualLine(const VirtualUnitOptions& options, std::chrono::nanoseconds limit)
    : unit(options), limit_(limit) {}

void VirtualLine::Attach(SerialLink& link) {
  link_ = &link;
  link.Clock = this;
}

std::optional<std::vector<SerialDeviceEntry>> VirtualLine::Factory::ListPorts() {
  return std::vector<SerialDeviceEntry>{{DEVICE, "COM1"}};
}

bool VirtualLine::Factory::Probe(const std::string& device) { return device == DEVICE && !line_.open_; }

std::unique_ptr<SerialPort> VirtualLine::Factory::Open(const std::string& device) {
  if (device != DEVICE || line_.open_) return nullptr;
  ++line_.opens_;
  return std::make_unique<Port>(line_);
}

void VirtualLine::Pause(std::chrono::nanoseconds duration) { AdvanceTo(now_ + duration); }

bool VirtualLine::WaitForStore(SerialLink& link, uint64_t& seen, TimePoint deadline) {
  for (;;) {
    if (link.Rx.Stores() != seen) {
      seen = link.Rx.Stores();
      return true;
    }
    if (now_ >= deadline) return false;
    const Time next = std::min(unit.NextEvent(now_), deadline);
    AdvanceTo(std::max(next, now_ + std::chrono::nanoseconds(1)));
  }
}

void VirtualLine::WaitForBaudAnswer(SerialLink& link) {
  // A front end serves it at its next turn: here one service period later.
  AdvanceTo(now_ + BAUD_SERVICE_PERIOD);
  ServeBaudRequest(&link);
}

void VirtualLine::AdvanceTo(Time target) {
  if (target - Time{} >= limit_) {
    std::fprintf(stderr, "virtual line: a job ran past %.0f s of virtual time: a wait without a bound\n",
                 std::chrono::duration<double>(limit_).count());
    std::abort();
  }
  while (now_ < target) {
    const Time next = std::min(unit.NextEvent(now_), target);
    now_ = std::max(next, now_);
    if (next >= target) now_ = target;
    unit.RunUntil(now_);
    if (link_ && link_->ComPort_Handle) link_->Rx.StorePass(link_->ComPort_Handle.get());
    if (next >= target) break;
  }
}

}  // namespace sim
