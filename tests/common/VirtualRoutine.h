// Test support: one download routine in virtual time. The routine runs on
// the test's thread against the simulated unit on an in-process line, so a
// wait of 6000 polls takes no real time and its length is exact. Builds on
// every platform (no pseudo-terminal, no files).
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "DownloadJob.h"
#include "JobClock.h"
#include "JobContext.h"
#include "LoaderRecords.h"
#include "SerialLink.h"
#include "VirtualLine.h"
#include "WireMessages.h"

namespace lumo_test {

// What a job told its front end.
class VirtualUI : public JobObserver {
 public:
  void ShowErrorMessage(const std::string& text) override { messages.push_back(text); }
  void SetStatusText(const std::string& text) override { statuses.push_back(text); }
  void TargetStarted(PathIndex target, int32_t bytes, int32_t /*jobBytes*/) override {
    targets.push_back("start " + TargetName(target) + " " + std::to_string(bytes));
  }
  void TargetEnded(PathIndex target, bool done) override {
    targets.push_back("end " + TargetName(target) + (done ? " done" : " failed"));
  }
  void ProgressMade(PathIndex target, int32_t percent, int32_t bytesDone) override {
    if (OnProgress) OnProgress(target, percent, bytesDone);
  }
  static std::string TargetName(PathIndex target) {
    return target == DSP_PATH ? "dsp" : target == CM_PATH ? "cm" : "motor";
  }
  std::vector<std::string> messages;
  std::vector<std::string> statuses;
  std::vector<std::string> targets;  // "start cm 500", "end cm done", ...
  std::function<void(PathIndex, int32_t, int32_t)> OnProgress;
};

// The waits of a link on the virtual line that ran out, each with its exact
// length in virtual time (a wait that runs out ends at its deadline to the
// nanosecond), counted per length.
class RanOutWaits final : public JobClock {
 public:
  // Wraps the link's clock until destroyed.
  explicit RanOutWaits(SerialLink& link) : link_(link), inner_(*link.Clock) { link.Clock = this; }
  ~RanOutWaits() override { link_.Clock = &inner_; }
  RanOutWaits(const RanOutWaits&) = delete;
  RanOutWaits& operator=(const RanOutWaits&) = delete;

  TimePoint Now() override { return lastNow_ = inner_.Now(); }
  void Pause(std::chrono::nanoseconds duration) override { inner_.Pause(duration); }
  bool WaitForStore(SerialLink& link, uint64_t& seen, TimePoint deadline) override {
    // A wait takes its deadline from Now() just before it first waits.
    if (deadline != deadline_) {
      deadline_ = deadline;
      begun_ = lastNow_;
    }
    const bool stored = inner_.WaitForStore(link, seen, deadline);
    if (!stored) ++counts_[std::chrono::duration_cast<std::chrono::microseconds>(inner_.Now() - begun_)];
    return stored;
  }
  void WaitForBaudAnswer(SerialLink& link) override { inner_.WaitForBaudAnswer(link); }

  // How many waits ran out after each length.
  const std::map<std::chrono::microseconds, int>& Counts() const { return counts_; }
  void Clear() { counts_.clear(); }

 private:
  SerialLink& link_;
  JobClock& inner_;
  TimePoint lastNow_{};
  TimePoint deadline_{};
  TimePoint begun_{};
  std::map<std::chrono::microseconds, int> counts_;
};

// One routine on a job whose link runs on the virtual line: the port open at
// the user's rate and the job active, as the worker finds them; the line
// stores the received bytes and serves the baud requests as time moves on.
// The routines take form; each wait's length is exact on line.Now().
class VirtualRoutine {
 public:
  using Time = sim::VirtualLine::Time;

  explicit VirtualRoutine(const sim::VirtualUnitOptions& options = {}, int32_t rate = 9600)
      : line(options), session_(line.Ports(), &records_), entry_(session_, &ui), form(ContextOf(entry_)) {
    line.Attach(form.Link);
    form.Clock_Serves_Baud = true;
    form.Request.Device = sim::VirtualLine::DEVICE;
    form.Request.User_BaudRate = rate;
    opened = ComPortOpen(&form.Link, sim::VirtualLine::DEVICE, rate) == PortOpen::Opened;
    form.Download_Active.store(true);
    form.Progress_Base = 0;
    form.Progress_Segment = 0.0;
  }
  ~VirtualRoutine() { ComPortClose(&form.Link); }
  VirtualRoutine(const VirtualRoutine&) = delete;
  VirtualRoutine& operator=(const VirtualRoutine&) = delete;

  // Puts bytes on the line towards the host as the unit's part that holds
  // the line would send them (at its rate), delay after now.
  void UnitSends(const std::vector<uint8_t>& bytes, std::chrono::milliseconds delay = {}) {
    line.unit.RunUntil(line.Now());
    line.unit.SendAfter(delay, bytes);
  }
  // Lets virtual time pass (the receive side stores what arrives meanwhile).
  void Idle(std::chrono::nanoseconds duration) { line.Pause(duration); }

  // The wire from the time the test marked on (all of it before any Mark).
  void Mark() { wireFrom_ = line.unit.Wire().size(); }
  std::vector<sim::WireByte> Wire() const {
    const std::vector<sim::WireByte> wire = line.unit.Wire();
    return std::vector<sim::WireByte>(wire.begin() + static_cast<long>(std::min(wireFrom_, wire.size())), wire.end());
  }
  // The host's bytes on that wire.
  std::vector<uint8_t> Heard() const {
    std::vector<uint8_t> bytes;
    for (const sim::WireByte& w : Wire()) {
      if (w.Direction == sim::WireDirection::ToUnit) bytes.push_back(w.Byte);
    }
    return bytes;
  }
  std::vector<std::string> Sent() const { return Labels(SentMessages(Wire())); }

  sim::VirtualLine line;
  VirtualUI ui;
  bool opened = false;

 private:
  LoaderRecords records_;
  JobSession session_;
  TDownloadJob entry_;

 public:
  JobContext& form;  // entry_'s

 private:
  size_t wireFrom_ = 0;
};

}  // namespace lumo_test
