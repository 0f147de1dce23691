// The unit's parts on a line inside the caller's process, in virtual time:
// no pseudo-terminal, no thread, no clock. The caller writes the host's
// bytes with their times, advances the unit, and takes what reached the host.
// The line keeps the rules SimUnit keeps (LineRules.h); on top of the fault
// table, a schedule can spoil any reply and keep a loader on the line after
// its RESET, so that a fuzzer can choose what goes wrong byte by byte.
// Single-threaded: one caller at a time.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "LineRules.h"
#include "SimFaults.h"
#include "SimParts.h"

namespace sim {

// What the schedule does to one reply of the unit (one Send or SendAfter of a part).
enum class ReplyFault : uint8_t { None, Drop, Delay, Cut, Double, Garble, Noise, HangUp };

// Delay: Param microseconds of virtual time later; Cut: only the first
// Param % size bytes go out; Double: the reply goes out twice; Garble: byte
// Param % size is changed (xor 0x5A); Noise: the reply, then (Param % 64) + 1
// noise bytes; HangUp: the reply, then the line goes dead.
struct ReplyAction {
  ReplyFault Fault = ReplyFault::None;
  uint32_t Param = 0;
};

struct VirtualUnitOptions {
  int CameraRate = 9600;                     // the camera's own rate
  std::optional<UnitPart> ListeningAtStart;  // a loader that hears the line from the start
  // The k-th reply (from 0) gets Replies[k]; None past the end.
  std::vector<ReplyAction> Replies;
  // The k-th time (from 0) a loader gives the line back to the camera (its
  // RESET), the unit ignores it: that loader keeps hearing the line.
  std::vector<int> RoutesNotTaken;
  std::vector<Fault> Faults;  // the fault table, as SimUnit takes it
};

class VirtualUnit final : public UnitLine {
 public:
  using Time = std::chrono::steady_clock::time_point;  // virtual: starts at Time{}

  explicit VirtualUnit(const VirtualUnitOptions& options = {});
  VirtualUnit(const VirtualUnit&) = delete;
  VirtualUnit& operator=(const VirtualUnit&) = delete;

  // The host wrote bytes at virtual time at with its side of the line at
  // rate: as on a real line each byte takes ten bit times at that rate, one
  // after the other (and after bytes still on their way). A time before the
  // unit's own counts as the unit's time. Bytes written once the unit has
  // begun to hang up go nowhere.
  void HostWrite(const uint8_t* bytes, size_t count, int rate, Time at);
  // Advances the unit to now: the bytes that have arrived by then are heard
  // (or not: busy, wrong rate, hanging up), in order, each at its own
  // arrival time, and the parts' replies are queued from those times.
  void RunUntil(Time now);
  // Moves up to size bytes that have reached the host by now into buffer, in
  // order; a byte sent at a rate other than hostRate arrives garbled, noise
  // arrives as it is. Bytes that reached the host before the line went dead
  // can still be taken. Returns the count. Does not advance the unit: call
  // RunUntil(now) first for the replies to bytes that arrived by now.
  size_t TakeForHost(uint8_t* buffer, size_t size, Time now, int hostRate);
  // How many bytes TakeForHost(now) would give at most.
  size_t QueuedForHost(Time now) const;
  // When something happens next after now: a byte reaches either side, a
  // busy period ends, the line goes dead. Time::max() when nothing is pending.
  Time NextEvent(Time now) const;
  // The line is dead: nothing more is heard or sent. True from the unit's
  // time (its last RunUntil) on at which the last reply before the hang-up
  // reached the host.
  bool HungUp() const;
  Time Now() const { return now_; }  // how far the unit has run

  std::vector<uint8_t> DspMemory() const;
  uint16_t DspVersion(int pair) const;
  std::vector<uint8_t> Flash(UnitPart board) const;  // empty when the part keeps none
  UnitPart Listening() const { return parts_.Listening(); }
  bool CameraInDownloadMode() const;
  // Both directions in time order, with virtual times, as SimUnit records
  // them: every byte the unit took off the line (heard or not), every byte
  // it sent that has reached the host by the unit's time.
  std::vector<WireByte> Wire() const;

  // UnitLine
  void Send(const std::vector<uint8_t>& bytes) override;
  void SendAfter(std::chrono::milliseconds delay, const std::vector<uint8_t>& bytes) override;
  void Route(UnitPart part) override;
  void Busy(std::chrono::milliseconds duration) override;
  const FaultTable& Faults() const override { return faults_; }
  void HangUp() override;
  void SendNoise(size_t count) override;

 private:
  struct ToUnit {
    Time Due;  // the byte's last bit reaches the unit
    int Rate;
    uint8_t Byte;
  };
  struct ToHost {
    Time Due;  // the byte's last bit reaches the host
    int Rate;  // the rate it was sent at; for raw bytes the host's rate then
    bool Raw;  // noise: read as it stands at any rate
    uint8_t Byte;
  };

  // A part's reply, sent from the time from on, with the schedule's action.
  void Reply(const std::vector<uint8_t>& bytes, Time from);
  // Rate 0: the bytes go out raw.
  void Queue(const uint8_t* bytes, size_t count, int rate, Time from);
  void QueueNoise(size_t count, Time from);
  // The first byte for the host at or after index first that arrives after t.
  size_t FirstToHostAfter(size_t first, Time t) const;

  VirtualUnitOptions options_;
  FaultTable faults_;
  UnitParts parts_;

  Time now_{};      // how far RunUntil has run
  Time current_{};  // the time the unit acts at: a heard byte's arrival while RunUntil hears it, else now_
  Time busyUntil_{};
  int hostRate_;    // the host's rate as last told; raw bytes take their time on the line at it

  std::vector<ToUnit> toUnit_;  // [0, heard_) were taken off the line, the rest are on their way
  size_t heard_ = 0;
  LinePace toUnitPace_;

  std::vector<ToHost> toHost_;  // [0, taken_) were taken by the host
  size_t taken_ = 0;
  LinePace toHostPace_;

  size_t replies_ = 0;       // replies sent so far, the index into options_.Replies
  int linesGivenBack_ = 0;   // times a loader gave the line back to the camera
  bool hangingUp_ = false;
  Time deadAt_{};            // with hangingUp_: when the last byte before the hang-up reaches the host
};

}  // namespace sim
