// Test support: a job context with a recording user interface, the port
// opened on a simulated unit, and the receive thread and the window thread's
// baud-request service running as during a job.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DownloadJob.h"
#include "JobContext.h"
#include "SerialDeviceMap.h"
#include "SerialLink.h"
#include "RefusingPort.h"
#include "RxBufferAccess.h"
#include "TestPortConfig.h"
#include "SimUnit.h"

namespace lumo_test {

// Also a link's observer, for tests of the link alone.
class RecordingUI : public JobObserver, public LinkObserver {
 public:
  void ShowErrorMessage(const std::string& text) override {
    {
      std::lock_guard<std::mutex> hold(lock_);
      messages_.push_back(text);
    }
    shown_.notify_all();
  }
  // Waits (bounded) until count messages have been shown: a message from the
  // window thread comes after whatever the worker saw of its cause.
  bool WaitForMessages(size_t count, std::chrono::milliseconds bound = std::chrono::seconds(5)) {
    std::unique_lock<std::mutex> hold(lock_);
    return shown_.wait_for(hold, bound, [&] { return messages_.size() >= count; });
  }
  void SetStatusText(const std::string& text) override {
    std::lock_guard<std::mutex> hold(lock_);
    statuses_.push_back(text);
  }
  // Served at once, unless the test job's window thread serves them (Start):
  // then it is woken, as a queued call wakes the window's.
  void BaudRequestPosted(const BaudRequest& request) override {
    if (!windowServes_.load()) {
      request.Serve();
      return;
    }
    Posted();
  }
  // As the link's own observer (tests of the link alone).
  void BaudRateRequested() override {
    if (windowServes_.load()) Posted();
  }
  void ServeBaudOnWindowThread(bool on) { windowServes_.store(on); }
  // The window thread's wait for a posted request or its end (stop set and
  // notified under postLock_); bounded so that a lost wake-up costs a pass.
  template <typename Stop>
  void WaitForPost(uint64_t& served, Stop stop) {
    std::unique_lock<std::mutex> hold(postLock_);
    posted.wait_for(hold, std::chrono::milliseconds(200), [&] { return posted_ != served || stop(); });
    served = posted_;
  }
  void WakeWindow() {
    { std::lock_guard<std::mutex> hold(postLock_); }
    posted.notify_all();
  }
  std::vector<std::string> Messages() const {
    std::lock_guard<std::mutex> hold(lock_);
    return messages_;
  }
  std::vector<std::string> Statuses() const {
    std::lock_guard<std::mutex> hold(lock_);
    return statuses_;
  }
  void Clear() {
    std::lock_guard<std::mutex> hold(lock_);
    messages_.clear();
    statuses_.clear();
  }

 private:
  mutable std::mutex lock_;
  std::condition_variable shown_;
  std::vector<std::string> messages_;
  std::vector<std::string> statuses_;
  void Posted() {
    {
      std::lock_guard<std::mutex> hold(postLock_);
      ++posted_;
    }
    posted.notify_all();
  }

  std::atomic<bool> windowServes_{false};
  std::mutex postLock_;
  std::condition_variable posted;
  uint64_t posted_ = 0;
};

// A folder for COM links, removed with what is in it.
class ComFolder {
 public:
  ComFolder() {
    char pattern[] = "/tmp/lumo-com-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made) path_ = made;
  }
  ~ComFolder() {
    if (path_.empty()) return;
    std::string command = "rm -rf '" + path_ + "'";
    [[maybe_unused]] int rc = std::system(command.c_str());
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// A job with a simulated unit on a pseudo-terminal. Open() opens the unit's
// slave directly; with a COM folder the unit is linked as COM<n> there and
// OpenThroughComFolder() resolves it through the serial device map of
// that folder and ComPortOpen, as the window does.
class TestJob {
 public:
  // ports: the port seam; null for the platform's (with the test lock folder).
  explicit TestJob(sim::SimOptions options = {}, int userRate = 9600, PortFactory* ports = nullptr)
      : ownPorts_(ports ? nullptr : MakeTestPortFactory()),
        ports(ports ? *ports : *ownPorts_),
        session(this->ports),
        entry(session, &ui),
        form(ContextOf(entry)),
        unit(options),
        comNumber_(options.ComNumber) {
    form.Request.User_BaudRate = userRate;
  }
  ~TestJob() { Stop(); }

  // The port as ComPortOpen leaves it, opened on the unit's device directly.
  bool Open() {
    form.Link.ComPort_Handle = ports.Open(unit.SlavePath());
    if (!form.Link.ComPort_Handle) return false;
    if (ConfigBaudRate(&form.Link, form.Request.User_BaudRate) != RateSet::Applied) {
      form.Link.ComPort_Handle.reset();
      return false;
    }
    form.Link.ComPort_Opened.store(true);
    return true;
  }

  // Needs a unit made with ComDir; opens COM<n> as the window does: through
  // the serial device map of that folder, with the job's port seam. 0 opened,
  // -1 not.
  int32_t OpenThroughComFolder(const std::string& comDir) {
    std::string device;
    if (const auto map = MakeTestPortFactory(comDir)->ListPorts()) {
      device = ResolveDevicePath("\\\\.\\COM" + std::to_string(comNumber_), *map).value_or(std::string());
    }
    return ComPortOpen(&form.Link, device, form.Request.User_BaudRate) == PortOpen::Opened ? 0 : -1;
  }

  // The receive thread and a window thread that serves baud requests every
  // poll period, with the job marked active (the worker is the test's own thread).
  void Start() {
    ui.ServeBaudOnWindowThread(true);
    form.Worker_Busy.store(true);
    form.Reader_Busy.store(true);
    form.Download_Active.store(true);
    reader_ = std::thread([this] { ReceiveThread(&form.Link, &form); });
    window_ = std::thread([this] {
      uint64_t served = 0;
      while (!stopWindow_.load()) {
        ui.WaitForPost(served, [this] { return stopWindow_.load(); });
        ServeBaudRequest(&form.Link);
      }
    });
  }

  // Ends the job as the worker does, waits for both threads, closes the port.
  void Stop() {
    form.Download_Active.store(false);
    form.Worker_Busy.store(false);
    WakeReceiver(&form.Link);
    if (reader_.joinable()) reader_.join();
    stopWindow_.store(true);
    ui.WakeWindow();
    if (window_.joinable()) window_.join();
    ComPortClose(&form.Link);
  }

  // Waits (bounded) until the receive thread has stored at least count bytes
  // since the last reply reset (not counting what came before it).
  bool WaitForRx(uint32_t count, std::chrono::milliseconds bound = std::chrono::milliseconds(2000)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < deadline) {
      if (!RxBufferAccess::ResetPending(form.Link.Rx) && form.Link.Rx.Count() >= count) return true;
      // Real time: the unit's bytes cross the pseudo-terminal and the
      // receive thread stores them; polled up to the deadline.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }

  std::vector<uint8_t> RxBytes() { return RxBufferAccess::Stored(form.Link.Rx); }
  // The COM<n> that OpenThroughComFolder opens.
  void SetComNumber(int number) { comNumber_ = number; }

 private:
  std::unique_ptr<PortFactory> ownPorts_;

 public:
  PortFactory& ports;
  JobSession session;
  RecordingUI ui;
  TDownloadJob entry;
  JobContext& form;  // entry's
  sim::SimUnit unit;

 private:
  int comNumber_;
  std::thread reader_;
  std::thread window_;
  std::atomic<bool> stopWindow_{false};
};

}  // namespace lumo_test
