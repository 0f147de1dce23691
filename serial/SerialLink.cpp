#include "SerialLink.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "SerialDeviceMap.h"

std::atomic<bool> ComPort_Opened{false};
DCB Comm_DCB;

namespace {

std::atomic<BaudFailureAddressSet> failureAddressSet{nullptr};

void ShowError(TDownloadJobContext* form, const char* text) {
  if (form->UI) form->UI->ShowErrorMessage(text);
}

}  // namespace

void SetBaudFailureAddressSet(BaudFailureAddressSet addressSet) { failureAddressSet.store(addressSet); }

int32_t ComPortOpenClose(TDownloadJobContext* form, int32_t mode) {
  if (mode == 1) {
    const std::string windowsPath = "\\\\.\\COM" + std::to_string(form->ComPort_Number.load());
    const std::optional<std::string> device = ResolveDevicePath(windowsPath);
    form->ComPort_Handle = device ? OpenSerialPort(*device) : nullptr;
    form->ComPort_Device = device.value_or(std::string());
    form->Line_Gone.store(false);
    if (!form->ComPort_Handle) {
      ShowError(form, "Comport cannot open!!");
      return -1;
    }
    if (ConfigBaudRate(form, form->User_BaudRate.load()) != 0) {
      ShowError(form, "Config Baudrate Error!!");
      form->ComPort_Handle.reset();
      return -1;
    }
    ComPort_Opened.store(true);
    return 0;
  }
  if (ComPort_Opened.load()) {
    form->ComPort_Handle.reset();
    ComPort_Opened.store(false);
  }
  return 0;
}

int32_t ConfigBaudRate(TDownloadJobContext* form, int32_t rate) {
  SerialPort* port = form->ComPort_Handle.get();
  if (!port) return -1;
  port->GetCommState(Comm_DCB);  // result ignored: the record keeps what it held
  if (rate <= 0) return -1;
  Comm_DCB.BaudRate = static_cast<uint32_t>(rate);
  Comm_DCB.ByteSize = 8;
  Comm_DCB.Parity = 0;
  Comm_DCB.StopBits = 0;
  return port->SetCommState(Comm_DCB) ? 0 : -1;
}

// No time-out: the window thread serves the request in every pass of its pump
// loop, which runs as long as Download_Active is set, and only the worker that
// waits here clears that flag. The one wait that may stretch is a message box
// the user has not closed yet.
int32_t ChangeBaudRate(int32_t rate, std::atomic<int32_t>* request) {
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  request->store(rate);
  while (request->load() > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return request->load() < 0 ? -1 : 0;
}

void ServeBaudRequest(TDownloadJobContext* form) {
  const int32_t rate = form->Baud_Request.load();
  if (rate <= 0) return;
  if (form->Line_Gone.load()) {
    // Already reported; the worker ends the job.
    form->Baud_Request.store(-1);
    return;
  }
  if (ConfigBaudRate(form, rate) == 0) {
    form->Baud_Request.store(0);
    return;
  }
  SerialPort* port = form->ComPort_Handle.get();
  if (port && port->Gone()) {
    // The device is gone: one message, and no address set that could not be written.
    form->Line_Gone.store(true);
    form->Baud_Request.store(-1);
    ShowError(form, "ComPort  Error !!");
    return;
  }
  // Release the worker first: it may go on while the address set runs here.
  form->Baud_Request.store(-1);
  if (BaudFailureAddressSet addressSet = failureAddressSet.load()) {
    // The worker may hold the sender lock while it waits for this thread to
    // show one of its messages: keep the window alive until the lock is free.
    std::unique_lock<std::recursive_mutex> hold(form->Sender_Lock, std::defer_lock);
    while (!hold.try_lock()) {
      if (form->UI) form->UI->ProcessPendingEvents();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    addressSet(form);
  }
  ShowError(form, "ComPort  Error !!");
}

int32_t WriteComm(TDownloadJobContext* form, const uint8_t* bytes, int32_t count) {
  if (form->Line_Gone.load()) return 0;
  SerialPort* port = form->ComPort_Handle.get();
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
    if (!gone || !form->Line_Gone.exchange(true)) ShowError(form, "Not Write Correctly !!");
  }
  return total;
}

void ShowRoutineError(TDownloadJobContext* form, const char* text) {
  if (!form->Line_Gone.load()) ShowError(form, text);
}

void ResetReply(TDownloadJobContext* form) {
  std::lock_guard<std::mutex> hold(form->Rx_Lock);
  for (RxByte& b : form->Rx_Buffer) b.store(0, std::memory_order_relaxed);
  form->Rx_WritePos = nullptr;
}

int32_t ReceiveThread(TDownloadJobContext* form) {
  using Clock = std::chrono::steady_clock;
  form->Reader_Busy.store(true);
  bool seen = false;
  Clock::time_point idleSince = Clock::now();
  uint8_t chunk[RX_BUFFER_SIZE];
  for (;;) {
    if (form->Download_Active.load()) seen = true;
    {
      std::lock_guard<std::mutex> hold(form->Rx_Lock);
      if (form->Rx_WritePos == nullptr) {
        form->Rx_WritePos = form->Rx_Buffer;
        form->Rx_Count.store(0);
      }
      SerialPort* port = form->ComPort_Handle.get();
      uint32_t queued = 0;
      if (port && port->QueuedInput(queued) && queued > 0) {
        // Past 1024 bytes since the last reset the excess is dropped, not
        // wrapped: the reply a sender waits for comes first after its reset
        // and must not be overwritten by noise that follows it. The excess is
        // still read so that the driver's queue drains.
        RxByte* const end = form->Rx_Buffer + RX_BUFFER_SIZE;
        while (queued > 0) {
          const uint32_t want = std::min<uint32_t>(queued, sizeof chunk);
          uint32_t got = 0;
          if (!port->Read(chunk, want, got) || got == 0) break;
          const uint32_t room = static_cast<uint32_t>(end - form->Rx_WritePos);
          const uint32_t keep = std::min(got, room);
          for (uint32_t i = 0; i < keep; ++i) form->Rx_WritePos[i].store(chunk[i], std::memory_order_relaxed);
          form->Rx_WritePos += keep;
          form->Rx_Count.fetch_add(keep);
          queued -= std::min(got, queued);
        }
      }
    }
    if (seen && !form->Download_Active.load()) break;
    // A receive thread started after its job has already ended never sees the
    // job active; it ends once the job is plainly over.
    if (!seen) {
      if (form->Download_Active.load() || form->Worker_Busy.load()) {
        idleSince = Clock::now();
      } else if (Clock::now() - idleSince >= std::chrono::milliseconds(RECEIVE_IDLE_END_MS)) {
        break;
      }
    }
    PollSleep();
  }
  form->Reader_Busy.store(false);
  return 0;
}

namespace {
thread_local uint64_t pollSleeps = 0;
}

void PollSleep() {
  ++pollSleeps;
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

uint64_t PollSleepsOnThisThread() { return pollSleeps; }
