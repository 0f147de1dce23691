#include "DownloadJob.h"

#include <optional>
#include <thread>

#include "CameraChannel.h"
#include "JobContext.h"
#include "MessageTexts.h"
#include "SerialLink.h"
#include "Worker.h"

TDownloadJob::TDownloadJob(JobSession& session, JobObserver* ui)
    : context_(std::make_unique<JobContext>(session, ui)) {
  // A rate the front end could not apply is followed by an address set
  // from there; the unit answers it or not.
  JobContext* job = context_.get();
  job->Link.Baud_Failure_Address_Set = [job] { static_cast<void>(CameraAddressSet(job)); };
}

TDownloadJob::~TDownloadJob() = default;

void TDownloadJob::RequestStop() { context_->RequestStop(); }

bool TDownloadJob::StopRequested() const { return context_->StopRequested(); }

JobContext& ContextOf(TDownloadJob& job) { return *job.context_; }

namespace {

JobOutcome Outcome(JobContext* job, JobEnd end) {
  JobOutcome outcome;
  outcome.Success = end == JobEnd::Done;
  outcome.End = end;
  outcome.Messages = job->Messages();
  if (!outcome.Success && !outcome.Messages.empty()) outcome.Message = outcome.Messages.back();
  if (outcome.Success) outcome.Notice = job->Notice;
  return outcome;
}

// What both ways of running a job do before the worker: nullopt when the
// job goes on, else its outcome.
std::optional<JobOutcome> OpenJob(JobContext* job, const JobRequest& request) {
  job->ForgetMessages();
  if (job->StopRequested()) return Outcome(job, JobEnd::Stopped);
  job->Request = request;
  if (ComPortOpen(&job->Link, request.Device, request.User_BaudRate) == PortOpen::NotOpened) return Outcome(job, JobEnd::PortNotOpened);
  // Opening clears the link's gone flag; a stop that came meanwhile must hold.
  if (job->StopRequested()) job->Link.Line_Gone.store(true);
  if (job->UI) job->UI->JobStarted();
  job->Job_Result = JobResult::Done;
  job->Worker_End.Reset();
  return std::nullopt;
}

// The progress, then the job is active.
void ActivateJob(JobContext* job) {
  job->Progress_Base = 0;
  job->Progress_Segment = 0.0;
  job->Download_Active = true;
}

JobOutcome CloseJob(JobContext* job) {
  ComPortClose(&job->Link);
  // Last, after every status text of the worker's.
  if (job->UI) {
    job->UI->SetStatusText(TEXT_READY);
    job->UI->JobClosed();
  }
  if (job->Job_Result.load() == JobResult::Done) return Outcome(job, JobEnd::Done);
  if (job->StopRequested()) return Outcome(job, JobEnd::Stopped);
  return Outcome(job, job->Refused_Before_Sending.load() ? JobEnd::Refused : JobEnd::LineFailure);
}

}  // namespace

JobOutcome RunDownloadJob(TDownloadJob* entry, const JobRequest& request) {
  JobContext* job = &ContextOf(*entry);
  job->Clock_Serves_Baud = false;
  if (std::optional<JobOutcome> ended = OpenJob(job, request)) return *ended;
  // Both count as busy from the moment they are started.
  job->Worker_Busy = true;
  job->Reader_Busy = true;
  std::thread worker(DownloadThread, job);
  std::thread reader(ReceiveThread, &job->Link, static_cast<JobThreadFlags*>(job));
  ActivateJob(job);

  if (job->UI) {
    job->UI->WaitForWorker(job->Worker_End);
  } else {
    job->Worker_End.Block();
  }
  // The worker has woken the receive thread, which ends at its next look.
  worker.join();
  reader.join();
  return CloseJob(job);
}

JobOutcome RunDownloadJobOnThisThread(TDownloadJob* entry, const JobRequest& request) {
  JobContext* job = &ContextOf(*entry);
  job->Clock_Serves_Baud = true;
  if (std::optional<JobOutcome> ended = OpenJob(job, request)) return *ended;
  ActivateJob(job);
  DownloadThread(job);
  return CloseJob(job);
}
