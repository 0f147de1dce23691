// The download job: the engine's one entry point, the job's state, the worker.
// A front end (the window, a command-line tool, a test) hands RunDownloadJob a
// request and gets an outcome; it hears of the job through its observer.
// Nothing here is process-wide, so jobs on several ports may run at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "SerialLink.h"

class LoaderRecords;

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

// How a job ended, for a front end that must tell causes apart (a script's
// exit code); the window shows only the messages.
enum class JobEnd {
  Done,
  PortNotOpened,  // the port could not be opened or set to the user's rate
  // Refused before any image byte went out: no image, an image that cannot be
  // read, has the wrong size or is not a DSP image, a board's loader left listening.
  Refused,
  LineFailure,  // the unit did not answer, refused a block, or the line failed
  Stopped,        // the front end stopped the job (RequestStop)
};

struct JobOutcome {
  bool Success = false;
  // The message that ended a failed job (the last one shown); empty on success.
  std::string Message;
  JobEnd End = JobEnd::Done;
  // Every message the job showed, in order.
  std::vector<std::string> Messages;
  // A successful job that the user must still be told something about, once
  // (a board that did not confirm its restart); empty when there is nothing.
  // Not one of the job's messages: the job did what it was asked.
  std::string Notice;
};

// What the core tells its front end, and the window thread's part in a job.
class JobObserver : public LinkObserver {
 public:
  // The status box: percentages, "100 %", "Ready". Safe from any thread.
  virtual void SetStatusText(const std::string& text) = 0;
  // Window thread: the start button and both combo boxes, off during a job.
  virtual void SetJobControlsEnabled(bool /*enabled*/) {}
  // Window thread: applies status texts handed over by the worker and not
  // shown yet, so that none of them lands after "Ready".
  virtual void ApplyPendingStatus() {}
  // Worker thread: a target's transfer begins (bytes: its share of the job's
  // total), makes progress (the percentage as the status box shows it, and
  // the target's bytes written so far), and ends.
  virtual void TargetStarted(PathIndex /*target*/, int32_t /*bytes*/) {}
  virtual void ProgressMade(PathIndex /*target*/, int32_t /*percent*/, int32_t /*bytesDone*/) {}
  virtual void TargetEnded(PathIndex /*target*/, bool /*done*/) {}
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

// One job's state: the link, the threads' flags, the selection and the
// progress. The front end owns it; one job runs on it at a time.
class TDownloadJob : public JobThreadFlags, public LinkObserver {
 public:
  TDownloadJob(JobSession& session, JobObserver* ui);
  TDownloadJob(const TDownloadJob&) = delete;
  TDownloadJob& operator=(const TDownloadJob&) = delete;

  JobSession& Session;
  JobObserver* UI;
  SerialLink Link;

  // Set by the window thread before Download_Active, then only read.
  std::atomic<int32_t> DSP_Selected{0};
  std::atomic<int32_t> CM_Selected{0};
  std::atomic<int32_t> Motor_Selected{0};
  std::atomic<int32_t> User_BaudRate{0};
  std::string Paths[3];
  // Written by the worker.
  std::atomic<int32_t> Total_Size{0};
  // Written by the window thread before Download_Active is set, then by the worker only.
  int32_t Progress_Base = 0;
  double Progress_Segment = 0.0;
  // The worker's result (0, -1, -3), set before it clears Download_Active.
  std::atomic<int32_t> Job_Result{0};
  // Set by the worker when it refused the job before any image byte went out.
  std::atomic<bool> Refused_Before_Sending{false};
  // Worker only: whether an image's transfer has begun in this job.
  bool Image_Sent = false;
  // Worker only, read once the worker has ended: what a successful job must
  // still tell the user (JobOutcome::Notice).
  std::string Notice;

  // Any thread: ends the job as soon as the exchange under way has ended.
  // Nothing more is written to the unit; the job fails. It holds also when
  // it comes before the port is open, and it stays: a later job on this
  // TDownloadJob ends at once, stopped (a front end that stops makes a new one).
  void RequestStop();
  bool StopRequested() const { return Stop_Requested.load(); }

  // LinkObserver: every message of the job goes to the front end through
  // here, and the last one is kept for the outcome.
  void ShowErrorMessage(const std::string& text) override;
  void ProcessPendingEvents() override;
  void SetStatusText(const std::string& text);
  std::string LastMessage() const;
  std::vector<std::string> Messages() const;
  void ForgetMessages();

 private:
  std::atomic<bool> Stop_Requested{false};
  mutable std::mutex Message_Lock;
  std::vector<std::string> Shown_Messages;  // under Message_Lock
};

// A job's message: shown to the user and kept for the outcome.
inline void ReportMessage(TDownloadJob* form, const char* text) { form->ShowErrorMessage(text); }

// The worker: checks, loads and runs the targets; returns 0 and leaves the
// job's result in Job_Result.
int32_t DownloadThread(TDownloadJob* form);

// The job from the click on: opens the port on the request's device at its
// rate (nothing more when that fails), runs the worker and the receive thread
// while the calling thread pumps and serves baud requests, closes the port,
// shows "Ready" and tells what came of it. A stop requested before the call
// opens no port.
[[nodiscard]] JobOutcome RunDownloadJob(TDownloadJob* job, const JobRequest& request);

// The same job with the worker on the calling thread and no other thread:
// for a link whose clock stores the received bytes and serves the baud
// requests itself whenever time moves on (a harness in virtual time).
[[nodiscard]] JobOutcome RunDownloadJobOnThisThread(TDownloadJob* job, const JobRequest& request);
