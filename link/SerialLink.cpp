#include "SerialLink.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "LinkTexts.h"
#include "LinkTiming.h"

namespace {

void ShowError(SerialLink* link, const char* text) {
  if (link->Observer) link->Observer->ShowErrorMessage(text);
}

}  // namespace

PortOpen ComPortOpen(SerialLink* link, const std::string& device, int32_t rate) {
  link->ComPort_Handle = device.empty() ? nullptr : link->Ports.Open(device);
  link->ComPort_Device = device;
  link->Line_Gone.store(false);
  if (!link->ComPort_Handle) {
    ShowError(link, TEXT_COMPORT_CANNOT_OPEN);
    return PortOpen::NotOpened;
  }
  if (ConfigBaudRate(link, rate) != RateSet::Applied) {
    ShowError(link, TEXT_CONFIG_BAUDRATE_ERROR);
    link->ComPort_Handle.reset();
    return PortOpen::NotOpened;
  }
  link->ComPort_Opened.store(true);
  return PortOpen::Opened;
}

void ComPortClose(SerialLink* link) {
  if (link->ComPort_Opened.load()) {
    link->ComPort_Handle.reset();
    link->ComPort_Opened.store(false);
  }
}

RateSet ConfigBaudRate(SerialLink* link, int32_t rate) {
  SerialPort* port = link->ComPort_Handle.get();
  if (!port) return RateSet::Refused;
  // A failed read leaves the record as it was; the fields that matter are set below.
  static_cast<void>(port->GetCommState(link->Line_Settings));
  if (rate <= 0) return RateSet::Refused;
  link->Line_Settings.BaudRate = static_cast<uint32_t>(rate);
  link->Line_Settings.ByteSize = 8;
  link->Line_Settings.Parity = 0;
  link->Line_Settings.StopBits = 0;
  return port->SetCommState(link->Line_Settings) ? RateSet::Applied : RateSet::Refused;
}

// No time-out: the request is served as soon as its front end's thread gets
// to it, which that thread does while the job runs, and only the worker that
// waits here ends the job. The one wait that may stretch is a message box the
// user has not closed yet.
namespace {

class SteadyClock final : public JobClock {
 public:
  TimePoint Now() override { return std::chrono::steady_clock::now(); }
  void Pause(std::chrono::nanoseconds duration) override {
    // A pause is a lower bound. Windows' Sleep may end early when asked for
    // less than its timer's resolution, so sleep again for what is left.
    const TimePoint end = Now() + duration;
    for (TimePoint now = Now(); now < end; now = Now()) std::this_thread::sleep_for(end - now);
  }
  bool WaitForStore(SerialLink& link, uint64_t& seen, TimePoint deadline) override {
    return link.Rx.WaitForStore(seen, deadline);
  }
  void WaitForBaudAnswer(SerialLink& link) override {
    // Woken as soon as the front end has applied or refused the rate.
    std::atomic<int32_t>& request = link.Baud_Request;
#ifdef _WIN32
    // libstdc++ has no futex on Windows, and its atomic wait there can miss
    // a notify that comes between its check and its sleep: look instead.
    while (request.load() > 0) std::this_thread::sleep_for(BAUD_SERVICE_PERIOD);
#else
    for (int32_t now = request.load(); now > 0; now = request.load()) request.wait(now);
#endif
  }
};

}  // namespace

JobClock& SteadyJobClock() {
  static SteadyClock clock;
  return clock;
}

void WaitForQuietLine(SerialLink* link, std::chrono::milliseconds quiet, std::chrono::milliseconds bound) {
  JobClock& clock = *link->Clock;
  const JobClock::TimePoint end = clock.Now() + bound;
  uint64_t seen = link->Rx.Stores();
  for (JobClock::TimePoint now = clock.Now(); now < end; now = clock.Now()) {
    if (!clock.WaitForStore(*link, seen, std::min(now + quiet, end))) return;
  }
}

RateSet ChangeBaudRate(SerialLink* link, int32_t rate) {
  Pause(link, BAUD_CHANGE_PAUSE);
  link->Baud_Request.store(rate);
  if (link->Observer) link->Observer->BaudRateRequested();
  link->Clock->WaitForBaudAnswer(*link);
  return link->Baud_Request.load() < 0 ? RateSet::Refused : RateSet::Applied;
}

namespace {

void AnswerBaudRequest(SerialLink* link, int32_t answer) {
  link->Baud_Request.store(answer);
  link->Baud_Request.notify_all();
}

}  // namespace

void ServeBaudRequest(SerialLink* link, const std::function<void()>& keepAlive) {
  const int32_t rate = link->Baud_Request.load();
  if (rate <= 0) return;
  if (link->Line_Gone.load()) {
    // Already reported; the worker ends the job.
    AnswerBaudRequest(link, -1);
    return;
  }
  if (ConfigBaudRate(link, rate) == RateSet::Applied) {
    AnswerBaudRequest(link, 0);
    return;
  }
  SerialPort* port = link->ComPort_Handle.get();
  if (port && port->Gone()) {
    // The device is gone: one message, and no address set that could not be written.
    link->Line_Gone.store(true);
    AnswerBaudRequest(link, -1);
    ShowError(link, TEXT_COMPORT_ERROR);
    return;
  }
  // Release the worker first: it may go on while the address set runs here.
  AnswerBaudRequest(link, -1);
  if (link->Baud_Failure_Address_Set) {
    // The worker may hold the sender lock while it waits for this thread to
    // show one of its messages: keep the front end alive until the lock is free.
    std::unique_lock<std::recursive_mutex> hold(link->Sender_Lock, std::defer_lock);
    while (!hold.try_lock()) {
      if (keepAlive) keepAlive();
      std::this_thread::sleep_for(POLL_PERIOD);
    }
    link->Baud_Failure_Address_Set();
  }
  ShowError(link, TEXT_COMPORT_ERROR);
}

int32_t WriteComm(SerialLink* link, const uint8_t* bytes, int32_t count) {
  if (link->Line_Gone.load()) return 0;
  SerialPort* port = link->ComPort_Handle.get();
  uint32_t remaining = count > 0 ? static_cast<uint32_t>(count) : 0;
  int32_t total = 0;
  const uint8_t* p = bytes;
  while (remaining != 0 && port) {
    uint32_t written = 0;
    const bool ok = port->Write(p, remaining, written);
    written = std::min(written, remaining);
    p += written;
    total += static_cast<int32_t>(written);
    remaining -= written;
    // A failed call, or one that took nothing, would only repeat itself.
    if (!ok || written == 0) break;
  }
  if (total != count) {
    // The first sender to find the device gone reports it; the others stay silent.
    const bool gone = port && port->Gone();
    if (!gone || !link->Line_Gone.exchange(true)) ShowError(link, TEXT_NOT_WRITE_CORRECTLY);
  }
  return total;
}

void ShowRoutineError(SerialLink* link, const char* text) {
  if (!link->Line_Gone.load()) ShowError(link, text);
}

void ReceiveThread(SerialLink* link, JobThreadFlags* flags) {
  using Clock = std::chrono::steady_clock;
  flags->Reader_Busy.store(true);
  bool seen = false;
  Clock::time_point idleSince = Clock::now();
  for (;;) {
    if (flags->Download_Active.load()) seen = true;
    SerialPort* port = link->ComPort_Handle.get();
    link->Rx.StorePass(port);
    if (seen && !flags->Download_Active.load()) break;
    // A receive thread started after its job has already ended never sees the
    // job active; it ends once the job is plainly over.
    if (!seen) {
      if (flags->Download_Active.load() || flags->Worker_Busy.load()) {
        idleSince = Clock::now();
      } else if (Clock::now() - idleSince >= RECEIVE_IDLE_END) {
        break;
      }
    }
    // Until bytes come or the job's end wakes it; the bound keeps a receive
    // thread that never saw its job looking at the flags.
    if (port) {
      port->WaitForInput(RECEIVE_WAIT_BOUND);
    } else {
      std::this_thread::sleep_for(POLL_PERIOD);
    }
  }
  flags->Reader_Busy.store(false);
}

void WakeReceiver(SerialLink* link) {
  if (SerialPort* port = link->ComPort_Handle.get()) port->Wake();
}
