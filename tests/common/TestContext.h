// Test support: a job context with a recording user interface, the port
// opened on a simulated unit, and the receive thread and the window thread's
// baud-request service running as during a job.
#pragma once

#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "JobContext.h"
#include "SerialLink.h"
#include "SimUnit.h"

namespace lumo_test {

class RecordingUI : public JobUserInterface {
 public:
  void ShowErrorMessage(const std::string& text) override {
    std::lock_guard<std::mutex> hold(lock_);
    messages_.push_back(text);
  }
  void SetStatusText(const std::string& text) override {
    std::lock_guard<std::mutex> hold(lock_);
    statuses_.push_back(text);
  }
  std::string ReadPathText(int which) override {
    std::lock_guard<std::mutex> hold(lock_);
    return paths_[which & 3];
  }
  void SetPathText(int which, const std::string& path) {
    std::lock_guard<std::mutex> hold(lock_);
    paths_[which & 3] = path;
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
  std::vector<std::string> messages_;
  std::vector<std::string> statuses_;
  std::string paths_[4];
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

// The context with a simulated unit on a pseudo-terminal. Open() opens the
// unit's slave directly; with a COM folder the unit is linked as COM<n> there
// and OpenThroughComFolder() goes through ComPortOpenClose and
// LUMO_COMPORT_DIR.
class TestJob {
 public:
  explicit TestJob(sim::SimOptions options = {}, int userRate = 9600) : unit(options) {
    form.UI = &ui;
    form.User_BaudRate.store(userRate);
    form.ComPort_Number.store(options.ComNumber);
  }
  ~TestJob() { Stop(); }

  // The port as ComPortOpenClose leaves it, without the device map.
  bool Open() {
    form.ComPort_Handle = OpenSerialPort(unit.SlavePath());
    if (!form.ComPort_Handle) return false;
    if (ConfigBaudRate(&form, form.User_BaudRate.load()) != 0) {
      form.ComPort_Handle.reset();
      return false;
    }
    ComPort_Opened.store(true);
    return true;
  }

  // Needs a unit made with ComDir; sets LUMO_COMPORT_DIR to it.
  int32_t OpenThroughComFolder(const std::string& comDir) {
    setenv("LUMO_COMPORT_DIR", comDir.c_str(), 1);
    return ComPortOpenClose(&form, 1);
  }

  // The receive thread and a window thread that serves baud requests every
  // 2 ms, with the job marked active (the worker is the test's own thread).
  void Start() {
    form.Worker_Busy.store(true);
    form.Reader_Busy.store(true);
    form.Download_Active.store(true);
    reader_ = std::thread([this] { ReceiveThread(&form); });
    window_ = std::thread([this] {
      while (!stopWindow_.load()) {
        ServeBaudRequest(&form);
        PollSleep();
      }
    });
  }

  // Ends the job as the worker does, waits for both threads, closes the port.
  void Stop() {
    form.Download_Active.store(false);
    form.Worker_Busy.store(false);
    if (reader_.joinable()) reader_.join();
    stopWindow_.store(true);
    if (window_.joinable()) window_.join();
    ComPortOpenClose(&form, 0);
  }

  // Waits (bounded) until the receive thread has stored at least count bytes.
  bool WaitForRx(uint32_t count, std::chrono::milliseconds bound = std::chrono::milliseconds(2000)) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < deadline) {
      if (form.Rx_Count.load() >= count) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
  }

  std::vector<uint8_t> RxBytes() {
    std::lock_guard<std::mutex> hold(form.Rx_Lock);
    std::vector<uint8_t> bytes;
    const uint32_t n = form.Rx_Count.load();
    for (uint32_t i = 0; i < n && i < RX_BUFFER_SIZE; ++i) bytes.push_back(form.Rx_Buffer[i].load());
    return bytes;
  }

  TDownloadJobContext form;
  RecordingUI ui;
  sim::SimUnit unit;

 private:
  std::thread reader_;
  std::thread window_;
  std::atomic<bool> stopWindow_{false};
};

}  // namespace lumo_test
