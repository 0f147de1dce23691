// One job as the download routines see it: the link, the threads' flags,
// the request, the progress and what the job has shown. The engine owns it;
// front ends never see it (harnesses and tests reach it through ContextOf).
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "FrontEnd.h"
#include "Results.h"
#include "SerialLink.h"

class TDownloadJob;

class JobContext : public JobThreadFlags, public LinkObserver {
 public:
  JobContext(JobSession& session, JobObserver* ui);
  JobContext(const JobContext&) = delete;
  JobContext& operator=(const JobContext&) = delete;

  JobSession& Session;
  JobObserver* UI;
  SerialLink Link;

  // Set by the thread that runs the job before Download_Active, then only read.
  JobRequest Request;
  bool Selected(PathIndex target) const { return Request.Targets[target].Selected; }
  // Written by the worker.
  std::atomic<int32_t> Total_Size{0};
  // Written by the thread that runs the job before Download_Active is set,
  // then by the worker only.
  int32_t Progress_Base = 0;
  double Progress_Segment = 0.0;
  // The worker's result (Done, Failed or Reported), set before it clears
  // Download_Active.
  std::atomic<JobResult> Job_Result{JobResult::Done};
  // Set by the worker when it refused the job before any image byte went out.
  std::atomic<bool> Refused_Before_Sending{false};
  // Worker only: whether an image's transfer has begun in this job.
  bool Image_Sent = false;
  // Worker only, read once the worker has ended: what a successful job must
  // still tell the user (JobOutcome::Notice).
  std::string Notice;
  // Reached by the worker as its last step.
  WorkerEnd Worker_End;
  // The link's clock serves the baud requests itself (a harness in virtual
  // time): the observer is not asked to.
  bool Clock_Serves_Baud = false;

  void RequestStop();
  bool StopRequested() const { return Stop_Requested.load(); }

  // LinkObserver: every message of the job goes to the front end through
  // here, and is kept for the outcome.
  void ShowErrorMessage(const std::string& text) override;
  void BaudRateRequested() override;
  void SetStatusText(const std::string& text);
  std::vector<std::string> Messages() const;
  void ForgetMessages();

 private:
  std::atomic<bool> Stop_Requested{false};
  mutable std::mutex Message_Lock;
  std::vector<std::string> Shown_Messages;  // under Message_Lock
};

// A job's message: shown to the user and kept for the outcome.
inline void ReportMessage(JobContext* job, const char* text) { job->ShowErrorMessage(text); }

// The context of a front end's job object: for harnesses that give its link
// a clock of their own, and for tests.
JobContext& ContextOf(TDownloadJob& job);
