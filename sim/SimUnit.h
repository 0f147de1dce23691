// The simulated camera unit on a pseudo-terminal: the tool opens the slave,
// the unit works the master. It hears at the line rate, keeps the parts'
// memories, records the wire and injects faults.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "LineRules.h"
#include "SimFaults.h"
#include "SimParts.h"

namespace sim {

struct SimOptions {
  int CameraRate = 9600;  // the camera's own rate
  bool Pacing = false;    // each byte takes ten bit times at the line rate
  std::string ComDir;     // when set, COM<ComNumber> there links to the slave
  int ComNumber = 1;
  std::optional<UnitPart> ListeningAtStart;  // a loader that already hears the line
  std::vector<Fault> Faults;
};

class SimUnit final : public UnitLine {
 public:
  // Throws std::runtime_error when the pseudo-terminal or the link cannot be made.
  explicit SimUnit(const SimOptions& options = {});
  ~SimUnit() override;
  SimUnit(const SimUnit&) = delete;
  SimUnit& operator=(const SimUnit&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  std::string ComLinkPath() const { return comLink_; }  // empty without a COM folder
  void AddFault(const Fault& fault) { faults_.Add(fault); }
  int HostRate() const;  // the rate the host's side of the line is set to now; 0 once hung up

  // Test handles on the line.
  void SendRawToHost(const std::vector<uint8_t>& bytes);  // as they stand, whatever the rate
  void SetReading(bool reading);                           // false: nothing is taken off the line
  bool HungUp() const { return hungUp_.load(); }

  // What the unit has heard and holds. Thread-safe.
  std::vector<WireByte> Wire() const;
  std::vector<uint8_t> WireBytes(WireDirection direction) const;
  void ClearWire();
  std::vector<uint8_t> DspMemory() const;
  uint16_t DspVersion(int pair) const;
  std::vector<uint8_t> Flash(UnitPart board) const;  // empty when the loader keeps none
  UnitPart Listening() const { return parts_.Listening(); }
  bool CameraInDownloadMode() const;
  // Waits (bounded) until the unit has taken everything off the line and sent its answers.
  bool WaitIdle(std::chrono::milliseconds bound = std::chrono::milliseconds(2000)) const;

  // UnitLine
  void Send(const std::vector<uint8_t>& bytes) override;
  void Route(UnitPart part) override;
  void Busy(std::chrono::milliseconds duration) override;
  const FaultTable& Faults() const override { return faults_; }
  void HangUp() override;
  void SendAfter(std::chrono::milliseconds delay, const std::vector<uint8_t>& bytes) override;
  void SendNoise(size_t count) override;

 private:
  using Clock = std::chrono::steady_clock;
  struct Outgoing {
    Clock::time_point Due;
    uint8_t Byte;
    int Rate;
  };

  void Run();
  void Hear(uint8_t byte, int rate);
  // Rate 0: the bytes go out raw, whatever the host listens at.
  void Queue(const std::vector<uint8_t>& bytes, int rate, Clock::time_point due);
  bool FlushOutgoing(Clock::time_point now);  // true when bytes wait for room
  void Record(WireDirection direction, uint8_t byte, int rate);
  void ParkSlave();
  // After the slave was closed: clears an exclusive mark that nobody holds.
  void ClearExclusiveLeftBehind();
  void ReleaseParkedSlave();
  void RecordAt(Clock::time_point time, WireDirection direction, uint8_t byte, int rate);

  SimOptions options_;
  FaultTable faults_;
  std::atomic<int> master_{-1};
  // Held while another thread uses the master descriptor, and by the unit's
  // thread while it closes it, so the number is never used after the close.
  mutable std::mutex masterLock_;
  std::string slavePath_;
  std::string comLink_;

  mutable std::mutex partsLock_;  // held while a part hears a byte, and by the accessors
  UnitParts parts_;

  mutable std::mutex outLock_;
  std::deque<Outgoing> outgoing_;
  Clock::time_point outNextFree_{};
  Clock::time_point busyUntil_{};

  mutable std::mutex wireLock_;
  std::vector<WireByte> wire_;

  std::atomic<bool> reading_{true};
  std::atomic<bool> stop_{false};
  std::atomic<bool> hungUp_{false};
  std::atomic<bool> hangUpRequested_{false};
  Clock::time_point hangUpSince_{};  // the unit's thread only: when the last answer before a hang-up went out
  // A descriptor of the slave, parked in a socket of the unit's own, where
  // no scan of /proc finds it, so port discovery still sees nobody on the
  // port. Through it the unit clears the exclusive mark (TIOCEXCL) that a
  // killed tool leaves on the slave, which would refuse every later open.
  // Made before the unit's thread starts, then used by that thread only.
  int parking_[2] = {-1, -1};  // the socket pair; the descriptor waits in parking_[1]
  int slaveCloses_ = -1;       // inotify: a close of the slave by anyone
  std::atomic<int> pendingInput_{0};  // bytes taken off the line but not yet heard (1 while reading)
  std::thread thread_;
};

// The host side's line rate as set on a terminal descriptor; 0 when unknown.
int TerminalRate(int fd);

}  // namespace sim
