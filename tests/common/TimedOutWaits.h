// Test support: the reply waits of a link that ran out, seen through the
// link's clock. Each wait takes its deadline from the clock's Now() just
// before it first waits for a store; a wait that reaches its deadline with
// nothing stored ran out after deadline - that Now(), its polls.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>

#include "JobClock.h"
#include "LinkTiming.h"
#include "SerialLink.h"

namespace lumo_test {

class TimedOutWaits final : public JobClock {
 public:
  // Wraps the link's clock until destroyed.
  explicit TimedOutWaits(SerialLink& link) : link_(link), inner_(*link.Clock) { link.Clock = this; }
  ~TimedOutWaits() override { link_.Clock = &inner_; }
  TimedOutWaits(const TimedOutWaits&) = delete;
  TimedOutWaits& operator=(const TimedOutWaits&) = delete;

  TimePoint Now() override {
    const TimePoint now = inner_.Now();
    std::lock_guard<std::mutex> hold(lock_);
    lastNow_ = now;
    return now;
  }
  void Pause(std::chrono::nanoseconds duration) override { inner_.Pause(duration); }
  bool WaitForStore(SerialLink& link, uint64_t& seen, TimePoint deadline) override {
    TimePoint begun;
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (deadline != deadline_) {
        deadline_ = deadline;
        begun_ = lastNow_;
      }
      begun = begun_;
    }
    const bool stored = inner_.WaitForStore(link, seen, deadline);
    if (!stored) {
      std::lock_guard<std::mutex> hold(lock_);
      ++waits_;
      polls_ += static_cast<uint64_t>((deadline - begun) / POLL_PERIOD);
    }
    return stored;
  }
  void WaitForBaudAnswer(SerialLink& link) override { inner_.WaitForBaudAnswer(link); }

  // The waits that ran out so far, and the polls they were given together.
  uint64_t Waits() const {
    std::lock_guard<std::mutex> hold(lock_);
    return waits_;
  }
  uint64_t Polls() const {
    std::lock_guard<std::mutex> hold(lock_);
    return polls_;
  }

 private:
  SerialLink& link_;
  JobClock& inner_;
  mutable std::mutex lock_;
  TimePoint lastNow_{};
  TimePoint deadline_{};
  TimePoint begun_{};
  uint64_t waits_ = 0;
  uint64_t polls_ = 0;
};

}  // namespace lumo_test
