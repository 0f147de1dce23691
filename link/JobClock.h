// Where a job takes its time from: the one waiting helper, every fixed pause
// and the worker's wait for a baud change. The product runs on the steady
// clock, with the receive thread storing bytes and the front end serving
// baud requests. A harness in virtual time gives the link its own clock that
// does both itself when time moves on: a 2000 ms pause then costs no real
// time and keeps its exact length in virtual time.
#pragma once

#include <chrono>
#include <cstdint>

class SerialLink;

class JobClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  virtual ~JobClock() = default;
  virtual TimePoint Now() = 0;
  virtual void Pause(std::chrono::nanoseconds duration) = 0;
  // Until a store after seen has brought bytes into the link's receive
  // buffer (true, seen updated) or until deadline (false).
  virtual bool WaitForStore(SerialLink& link, uint64_t& seen, TimePoint deadline) = 0;
  // Until the baud request the worker posted has been answered (applied or
  // refused): the mailbox no longer holds a rate.
  virtual void WaitForBaudAnswer(SerialLink& link) = 0;
};

// The product's clock; it keeps no state, one serves every link.
JobClock& SteadyJobClock();
