// The serial link: opening and configuring the port, baud changes during a
// job, writing whole buffers, the receive thread and the reply reset. One
// link per job; nothing here is process-wide.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "JobClock.h"
#include "RxBuffer.h"
#include "SerialPort.h"
#include "LinkTiming.h"

// What the link needs of whoever runs it: a place for its messages, and
// someone to serve the baud requests of the worker.
class LinkObserver {
 public:
  virtual ~LinkObserver() = default;
  // A modal error box, caption "Error", one OK button. Returns once the user
  // has closed it; only the calling thread waits.
  virtual void ShowErrorMessage(const std::string& text) = 0;
  // Worker thread: a rate is in Baud_Request; ServeBaudRequest must run
  // once, on the thread that keeps the port's settings. Nothing by default:
  // a clock of its own serves it (a harness in virtual time).
  virtual void BaudRateRequested() {}
};

// The handshake flags of a job's three threads: the window thread sets
// Download_Active, the worker clears it; each of the other two threads owns
// its busy flag, which counts as set from the moment the thread is started.
struct JobThreadFlags {
  std::atomic<bool> Download_Active{false};
  std::atomic<bool> Worker_Busy{false};
  std::atomic<bool> Reader_Busy{false};
};

class SerialLink {
 public:
  explicit SerialLink(PortFactory& ports, LinkObserver* observer = nullptr) : Ports(ports), Observer(observer) {}
  SerialLink(const SerialLink&) = delete;
  SerialLink& operator=(const SerialLink&) = delete;

  PortFactory& Ports;
  LinkObserver* Observer;
  // The job's time: the steady clock, or a harness's virtual one. Set before
  // the job starts.
  JobClock* Clock = &SteadyJobClock();

  // Set by the window thread before the job threads start, dropped after both ended.
  std::unique_ptr<SerialPort> ComPort_Handle;
  std::string ComPort_Device;  // the device the handle was opened on
  std::atomic<bool> ComPort_Opened{false};
  LineSettings Line_Settings;  // only the window thread touches it

  RxBuffer Rx;
  // The baud-change mailbox: a rate the worker asks for, 0 when served, -1
  // when refused.
  std::atomic<int32_t> Baud_Request{0};
  // Set when the device went away: nothing more is written in this job, and
  // the failure has been reported once.
  std::atomic<bool> Line_Gone{false};
  // Sent by the thread that served a rate it could not apply (the camera's
  // address set, which lives above this library); may be empty.
  std::function<void()> Baud_Failure_Address_Set;
  // Told, when a wait takes its reply, how long after the reply's last store
  // that was (for the benchmark); may be empty.
  std::function<void(std::chrono::nanoseconds)> On_Reply_Taken;

  // One exchange with the unit, whole: body (its reply reset, writes, pauses
  // and waits) runs while no other sender can reset the buffer or write,
  // when the front end's address set after a refused rate and the worker's
  // commands overlap. Exchanges may nest on one thread.
  template <typename Body>
  auto AsOneExchange(Body body) {
    std::lock_guard<std::recursive_mutex> hold(Sender_Lock);
    return body();
  }

 private:
  friend void ServeBaudRequest(SerialLink* link, const std::function<void()>& keepAlive);
  std::recursive_mutex Sender_Lock;
};

enum class PortOpen { Opened, NotOpened };
enum class RateSet { Applied, Refused };

// Opens the device at rate; NotOpened after "Comport cannot open!!" or
// "Config Baudrate Error!!".
[[nodiscard]] PortOpen ComPortOpen(SerialLink* link, const std::string& device, int32_t rate);
void ComPortClose(SerialLink* link);
[[nodiscard]] RateSet ConfigBaudRate(SerialLink* link, int32_t rate);
// Worker side of a baud change: posts the rate, tells the observer and waits
// until it has been served.
[[nodiscard]] RateSet ChangeBaudRate(SerialLink* link, int32_t rate);
// Serves a posted rate, if there is one: applies it, or refuses it (then the
// address set and the message). keepAlive runs between looks while the
// address set waits for a worker's exchange to end; without it the thread
// sleeps a poll period between looks.
void ServeBaudRequest(SerialLink* link, const std::function<void()>& keepAlive = {});
// Writes the count bytes and returns how many went out; reports a short write
// once. After the device has gone, writes nothing and stays silent.
int32_t WriteComm(SerialLink* link, const uint8_t* bytes, int32_t count);
// A download routine's own failure message. None once the line is gone: the
// user has been told why, and the job's end message follows.
void ShowRoutineError(SerialLink* link, const char* text);
// Copies what the port delivers into the receive buffer until it has seen
// Download_Active set and then clear.
void ReceiveThread(SerialLink* link, JobThreadFlags* flags);
// A receive thread that never sees the job active ends once Download_Active
// and Worker_Busy have both stayed clear for RECEIVE_IDLE_END.
// The reply reset: zero the receive buffer, the receive thread restarts at
// its first byte.
inline void ResetReply(SerialLink* link) { link->Rx.Reset(); }

// Waits until no byte has come for quiet, at most bound in all, on the job's
// clock. What came meanwhile stays in the receive buffer.
void WaitForQuietLine(SerialLink* link, std::chrono::milliseconds quiet, std::chrono::milliseconds bound);

// A fixed pause of the job, on the job's clock.
inline void Pause(SerialLink* link, std::chrono::nanoseconds duration) { link->Clock->Pause(duration); }

// Ends the receive thread's wait for input at once, so that it sees a job's
// end without waiting for its bound.
void WakeReceiver(SerialLink* link);

// The one waiting helper of every reply wait. A wait of polls scans the
// receive buffer, and again every time the receive thread has stored new
// bytes, until scan finds its reply or polls times the poll period have
// passed since the wait began: a reply is taken as soon as it is stored, and
// a wait that sees none lasts at least as long as its polls. scan returns
// what it found, or a value that tests false for "nothing yet" (false, an
// empty optional), which is also what a wait that found nothing gives; a
// wait of 0 polls or less scans nothing.
template <typename Scan>
auto WaitForReply(SerialLink* link, int32_t polls, Scan scan) -> decltype(scan());

template <typename Scan>
auto WaitForReply(SerialLink* link, int32_t polls, Scan scan) -> decltype(scan()) {
  using Found = decltype(scan());
  if (polls <= 0) return Found{};
  const auto deadline = link->Clock->Now() + polls * POLL_PERIOD;
  uint64_t seen = link->Rx.Stores();
  const auto taken = [link](const Found& found) {
    if (link->On_Reply_Taken) link->On_Reply_Taken(std::chrono::steady_clock::now() - link->Rx.LastStore());
    return found;
  };
  for (;;) {
    const Found found = scan();
    if (found) return taken(found);
    if (!link->Clock->WaitForStore(*link, seen, deadline)) break;
  }
  // A store that came with the deadline still counts.
  const Found found = scan();
  return found ? taken(found) : found;
}
