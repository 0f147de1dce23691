// The download job: the engine's one entry point. A front end (the window, a
// command-line tool, a test) hands RunDownloadJob a request and gets an
// outcome; it hears of the job through its observer. Nothing here is
// process-wide, so jobs on several ports may run at once.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "FrontEnd.h"

class JobContext;

// How a job ended, for a front end that must tell causes apart (a script's
// exit code); the window shows only the messages.
enum class JobEnd {
  Done,
  PortNotOpened,  // the port could not be opened or set to the user's rate
  // Refused before any image byte went out: no image, an image that cannot be
  // read, has the wrong size or is not a DSP image, a board's loader left listening.
  Refused,
  LineFailure,  // the unit did not answer, refused a block, or the line failed
  Stopped,      // the front end stopped the job (RequestStop)
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

// A front end's job on its port. One job runs on it at a time.
class TDownloadJob {
 public:
  TDownloadJob(JobSession& session, JobObserver* ui);
  ~TDownloadJob();
  TDownloadJob(const TDownloadJob&) = delete;
  TDownloadJob& operator=(const TDownloadJob&) = delete;

  // Any thread: ends the job as soon as the exchange under way has ended.
  // Nothing more is written to the unit; the job fails. It holds also when
  // it comes before the port is open, and it stays: a later job on this
  // object ends at once, stopped (a front end that stops makes a new one).
  void RequestStop();
  bool StopRequested() const;

 private:
  friend JobContext& ContextOf(TDownloadJob& job);
  std::unique_ptr<JobContext> context_;
};

// The job from the click on: opens the port on the request's device at its
// rate (nothing more when that fails), runs the worker and the receive thread
// while the calling thread waits as its observer chooses, closes the port,
// shows "Ready" and tells what came of it. A stop requested before the call
// opens no port.
[[nodiscard]] JobOutcome RunDownloadJob(TDownloadJob* job, const JobRequest& request);

// The same job with the worker on the calling thread and no other thread:
// for a link whose clock stores the received bytes and serves the baud
// requests itself whenever time moves on (a harness in virtual time).
[[nodiscard]] JobOutcome RunDownloadJobOnThisThread(TDownloadJob* job, const JobRequest& request);
