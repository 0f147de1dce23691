// What a front end (the window, the command line, a harness) hands the job
// engine and hears from it: the request, the observer, and what it keeps
// from one job to the next on its port.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "SerialPort.h"

class LoaderRecords;
class SerialLink;

// The three targets, in the order a job loads them.
enum PathIndex : int { DSP_PATH = 0, CM_PATH = 1, MOTOR_PATH = 2 };

struct JobTarget {
  bool Selected = false;
  std::string Path;  // the image file
};

struct JobRequest {
  std::string Device;         // the port's device path
  int32_t User_BaudRate = 0;  // the camera's rate, as the user chose it
  JobTarget Targets[3];       // by PathIndex
};

// A line rate the worker has asked for; it waits until the request is served.
class BaudRequest {
 public:
  explicit BaudRequest(SerialLink& link) : link_(&link) {}
  // Applies the rate, or refuses it: then it reports that and has the camera's
  // address set sent. keepAlive runs between looks while that address set
  // waits for an exchange of the worker's to end (a window handles its events
  // there: the worker may be waiting on one of its message boxes).
  void Serve(const std::function<void()>& keepAlive = {}) const;

 private:
  SerialLink* link_;
};

// The worker's end, as the thread that runs the job waits for it.
class WorkerEnd {
 public:
  bool Reached() const {
    std::lock_guard<std::mutex> hold(lock_);
    return reached_;
  }
  // Until the worker has ended.
  void Block() const {
    std::unique_lock<std::mutex> hold(lock_);
    ended_.wait(hold, [this] { return reached_; });
  }
  // Before the worker starts.
  void Reset() {
    std::lock_guard<std::mutex> hold(lock_);
    reached_ = false;
  }
  // The worker's last step.
  void Reach() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      reached_ = true;
    }
    ended_.notify_all();
  }

 private:
  mutable std::mutex lock_;
  mutable std::condition_variable ended_;
  bool reached_ = false;  // under lock_
};

// What the core tells its front end. How a front end stays responsive
// during a job is its own business: it hears when the worker needs it.
class JobObserver {
 public:
  virtual ~JobObserver() = default;
  // A modal error box, caption "Error", one OK button. Returns once the user
  // has closed it; only the calling thread waits. Any thread.
  virtual void ShowErrorMessage(const std::string& text) = 0;
  // The status box: percentages, "100 %", "Ready". Any thread.
  virtual void SetStatusText(const std::string& text) = 0;
  // Worker thread: a target's transfer begins (bytes: its share of the job's
  // jobBytes), makes progress (the percentage as the status box shows it, and
  // the target's bytes written so far), and ends.
  virtual void TargetStarted(PathIndex /*target*/, int32_t /*bytes*/, int32_t /*jobBytes*/) {}
  virtual void ProgressMade(PathIndex /*target*/, int32_t /*percent*/, int32_t /*bytesDone*/) {}
  virtual void TargetEnded(PathIndex /*target*/, bool /*done*/) {}

  // The thread that runs the job: the port is open, and the job runs from
  // here until RunDownloadJob returns (a window turns its job controls off).
  virtual void JobStarted() {}
  // Worker thread: the worker waits until request.Serve() has run, once, on
  // the thread the front end keeps the port's settings on. By default it
  // runs here, at once.
  virtual void BaudRequestPosted(const BaudRequest& request) { request.Serve(); }
  // The thread that runs the job, while the worker runs: returns once
  // end.Reached(). By default it blocks until then.
  virtual void WaitForWorker(const WorkerEnd& end) { end.Block(); }
  // Worker thread, its last step, once its end is reached: a front end that
  // waits in an event loop wakes it here.
  virtual void WorkerEnded() {}
  // The thread that runs the job, after "Ready": the port is closed and the
  // job is over (a window turns its job controls on again). Only after
  // JobStarted.
  virtual void JobClosed() {}
};

// What a front end keeps from one job to the next on its port.
struct JobSession {
  explicit JobSession(PortFactory& ports, LoaderRecords* records = nullptr) : Ports(ports), Loader_Records(records) {}
  PortFactory& Ports;
  // Boards whose loaders jobs may have left listening, per device; null
  // keeps no records.
  LoaderRecords* Loader_Records;
  // The progress segment of the previous ShowProgress; 255 before the first.
  uint8_t Progress_LastSegment = 255;
};
