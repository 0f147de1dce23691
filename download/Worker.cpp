#include "Worker.h"

#include <chrono>
#include <cstdio>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "CameraChannel.h"
#include "DspDownload.h"
#include "DspImageLayout.h"
#include "ImageFile.h"
#include "LoaderDownload.h"
#include "LoaderRecords.h"
#include "MessageTexts.h"
#include "Results.h"
#include "SerialLink.h"
#include "Timing.h"

namespace {

constexpr size_t READ_PIECE = 1024;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

struct Target {
  Target(bool isSelected, PathIndex pathIndex, const char* openText, const char* sizeText)
      : selected(isSelected), path(pathIndex), openError(openText), sizeError(sizeText) {}
  bool selected;
  PathIndex path;
  const char* openError;
  const char* sizeError;
  File file;
  int32_t size = 0;
  std::vector<uint8_t> block;  // the whole image, owned by the worker
};

// Only a regular file is an image: a folder, a FIFO or a device is refused
// like a missing file, so the user gets the open message, and nothing blocks.
File OpenImage(const std::string& path) { return File(OpenRegularFileForReading(path)); }

// Size by seeking to the end and back; nothing when it cannot be told or
// does not fit the 32-bit size the protocols carry.
std::optional<int32_t> SizeOf(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return std::nullopt;
  const long end = std::ftell(file);
  if (std::fseek(file, 0, SEEK_SET) != 0) return std::nullopt;
  if (end < 0 || end > std::numeric_limits<int32_t>::max()) return std::nullopt;
  return static_cast<int32_t>(end);
}

// Reads the whole image in pieces of at most 1024 bytes. False when a read
// delivers nothing before the size is in (the file shrank, a read error).
bool LoadImage(Target& t) {
  t.block.resize(static_cast<size_t>(t.size));
  size_t have = 0;
  while (have < t.block.size()) {
    const size_t want = std::min(READ_PIECE, t.block.size() - have);
    const size_t got = std::fread(t.block.data() + have, 1, want, t.file.get());
    if (got == 0) return false;
    have += got;
  }
  return true;
}

void Release(Target& t) {
  t.block.clear();
  t.block.shrink_to_fit();
}

void TargetStarted(JobContext* job, PathIndex target, int32_t bytes) {
  if (job->UI) job->UI->TargetStarted(target, bytes, job->Total_Size.load());
}

// A board whose restart was not confirmed has its image in: done.
void TargetEnded(JobContext* job, PathIndex target, JobResult r) {
  const bool done = (r == JobResult::Done || r == JobResult::DoneRestartUnconfirmed) && !job->Link.Line_Gone.load();
  if (job->UI) job->UI->TargetEnded(target, done);
}

// The job must not enter a loader it could not record: a later job would not
// know whose loader answers it.
std::string LoaderNotRecordedText(int32_t board, const std::string& file) {
  return std::string(board == CAMERA_BOARD ? "Camera" : "Control") +
         " board was not loaded: the record of the loader it enters cannot be written" +
         (file.empty() ? std::string() : " (" + file + ")") +
         ". Check that this folder can be written, then load again !!";
}

// Records the board whose loader the job is about to enter, or clears the
// record (NO_BOARD). False when the record could not be kept where a later
// run would find it.
bool RecordLoader(JobContext* job, int32_t board) {
  if (!job->Session.Loader_Records) return true;
  return job->Session.Loader_Records->Set(job->Link.ComPort_Device, board);
}

int32_t RecordedLoader(JobContext* job) {
  return job->Session.Loader_Records ? job->Session.Loader_Records->Get(job->Link.ComPort_Device) : NO_BOARD;
}

// Whether the job may go on: a board whose loader an earlier job may have
// left listening must be the first loader this job talks to, before any other byte goes out: anything
// else would reach that loader, another board's image included.
bool LoaderLeftListeningAllows(JobContext* job, const Target& dsp, const Target& cm, const Target& motor) {
  switch (RecordedLoader(job)) {
    case CAMERA_BOARD:
      if (cm.selected && !dsp.selected) return true;
      ReportMessage(job, TEXT_CAMERA_LOADER_LEFT);
      return false;
    case CONTROL_BOARD:
      if (motor.selected && !dsp.selected && !cm.selected) return true;
      ReportMessage(job, TEXT_CONTROL_LOADER_LEFT);
      return false;
    default:
      return true;
  }
}

// Loads one board, again while it asks for it (-2), at most three calls. A
// third -2 means the board's flash could not be confirmed: a failure. The
// board stays recorded as possibly listening until its restart is confirmed.
JobResult LoadBoard(JobContext* job, int32_t board, Target& t, bool confirmByPing) {
  job->Image_Sent = true;
  JobResult r = JobResult::Reload;
  for (int call = 0; call < LOADER_CALLS && r == JobResult::Reload; ++call) {
    r = DownloadByLoader(job, board, t.block.data(), t.size, confirmByPing);
  }
  Release(t);
  if (r == JobResult::Done) static_cast<void>(RecordLoader(job, NO_BOARD));
  return r == JobResult::Reload ? JobResult::Failed : r;
}

// No loader answered: none listens, so the record goes. When the camera
// does not answer either (it may still be in download mode from a job cut
// short), only switching the unit off and on brings it back.
JobResult NoLoaderAnswered(JobContext* job) {
  static_cast<void>(RecordLoader(job, NO_BOARD));
  if (job->Link.Line_Gone.load()) return JobResult::Reported;
  // A refused rate has been reported where it was served; the address set tells.
  static_cast<void>(ChangeBaudRate(&job->Link, job->Request.User_BaudRate));
  if (CameraAddressSet(job) != CommandReply::Answered) ShowRoutineError(&job->Link, TEXT_UNIT_NOT_ANSWERING);
  return JobResult::Reported;
}

// Brings the board's loader to the line and loads the board. cameraHadLine:
// for the camera board, whether the camera answered in this job.
JobResult PrepareAndLoadBoard(JobContext* job, int32_t board, Target& t, bool confirmByPing, bool cameraHadLine) {
  const bool known = RecordedLoader(job) == board;
  const RecordEntry record = [job, board] { return RecordLoader(job, board); };
  const LoaderEntry entry = board == CAMERA_BOARD ? PrepareCameraBoard(job, known, cameraHadLine, record)
                                                  : PrepareControlBoard(job, known, record);
  switch (entry) {
    case LoaderEntry::AlreadyListening:
    case LoaderEntry::Entered:
      break;
    case LoaderEntry::BaudRefused:
      return JobResult::Failed;
    case LoaderEntry::NotRestarted:
      // Refused before any image byte went out, when none had.
      job->Refused_Before_Sending = !job->Image_Sent;
      ShowRoutineError(&job->Link, TEXT_LOADER_NOT_RESTARTED);
      return JobResult::Failed;
    case LoaderEntry::NotRecorded: {
      // Nothing was entered: the record this object still keeps in memory goes.
      static_cast<void>(RecordLoader(job, NO_BOARD));
      job->Refused_Before_Sending = !job->Image_Sent;
      const std::string file = job->Session.Loader_Records ? job->Session.Loader_Records->File() : std::string();
      ShowRoutineError(&job->Link, LoaderNotRecordedText(board, file).c_str());
      return JobResult::Failed;
    }
  }
  const JobResult r = LoadBoard(job, board, t, confirmByPing);
  return r == JobResult::NoLoader ? NoLoaderAnswered(job) : r;
}

JobResult RunTargets(JobContext* job, Target& dsp, Target& cm, Target& motor) {
  JobResult r = JobResult::Done;
  if (dsp.selected || cm.selected) {
    const DownloadMode mode = EnterDownloadMode(job);
    if (mode == DownloadMode::BaudRefused) return JobResult::Failed;
    if (dsp.selected) {
      TargetStarted(job, DSP_PATH, DSP_BODY_SIZE);
      job->Image_Sent = true;
      r = DownloadDSP(job, dsp.block.data(), dsp.size);
      Release(dsp);
      TargetEnded(job, DSP_PATH, r);
      if (r == JobResult::Failed || r == JobResult::Reported) return r;
      if (!cm.selected) static_cast<void>(CameraAddressSet(job));  // the unit answers or not; the DSP is in
    }
    if (cm.selected) {
      TargetStarted(job, CM_PATH, cm.size);
      // With the control board next, the camera board's restart must be
      // proven: its loader would take the control board's image.
      // A DSP that went in had the camera on the line.
      r = PrepareAndLoadBoard(job, CAMERA_BOARD, cm, motor.selected, mode == DownloadMode::Entered || dsp.selected);
      TargetEnded(job, CM_PATH, r);
      if (r == JobResult::Failed || r == JobResult::Reported) return r;
      if (r == JobResult::DoneRestartUnconfirmed) {
        if (motor.selected) {
          ShowRoutineError(&job->Link, TEXT_CAMERA_NOT_RESTARTED);
          return JobResult::Failed;
        }
        job->Notice = TEXT_CAMERA_RESTART_UNCONFIRMED;
      }
      static_cast<void>(CameraAddressSet(job));  // the unit answers or not; the board is in
    }
  }
  if (motor.selected) {
    TargetStarted(job, MOTOR_PATH, motor.size);
    r = PrepareAndLoadBoard(job, CONTROL_BOARD, motor, false, false);
    TargetEnded(job, MOTOR_PATH, r);
    if (r == JobResult::DoneRestartUnconfirmed) job->Notice = TEXT_CONTROL_RESTART_UNCONFIRMED;
  }
  // The image is in; an unconfirmed restart stays recorded for the next job,
  // and the user is told once.
  return r == JobResult::DoneRestartUnconfirmed ? JobResult::Done : r;
}

// Every return before RunTargets refuses the job before any byte went out.
JobResult PrepareAndRun(JobContext* job) {
  job->Refused_Before_Sending = true;
  job->Image_Sent = false;
  job->Notice.clear();
  Target dsp{job->Selected(DSP_PATH), DSP_PATH, TEXT_OPEN_DSP_ERROR, TEXT_DSP_SIZE_ERROR};
  Target cm{job->Selected(CM_PATH), CM_PATH, TEXT_OPEN_CAMERA_ERROR, TEXT_CAMERA_SIZE_ERROR};
  Target motor{job->Selected(MOTOR_PATH), MOTOR_PATH, TEXT_OPEN_CONTROL_ERROR, TEXT_CONTROL_SIZE_ERROR};
  Target* targets[] = {&dsp, &cm, &motor};

  if (!dsp.selected && !cm.selected && !motor.selected) {
    ReportMessage(job, TEXT_NO_FILE_SELECTED);
    return JobResult::Failed;
  }

  // Every open comes before the first size check.
  for (Target* t : targets) {
    if (!t->selected) continue;
    t->file = OpenImage(job->Request.Targets[t->path].Path);
    if (!t->file) {
      ReportMessage(job, t->openError);
      return JobResult::Failed;
    }
  }
  for (Target* t : targets) {
    if (!t->selected) continue;
    t->size = SizeOf(t->file.get()).value_or(0);
    if (t->size <= 0) {
      ReportMessage(job, t->sizeError);
      return JobResult::Failed;
    }
  }
  // The total is 32-bit like the sizes; boards that together do not fit it
  // are refused rather than letting the sum wrap.
  int64_t total = dsp.selected ? DSP_BODY_SIZE : 0;  // the DSP counts as its body
  for (Target* t : {&cm, &motor}) {
    if (!t->selected) continue;
    total += t->size;
    if (total > std::numeric_limits<int32_t>::max()) {
      ReportMessage(job, t->sizeError);
      return JobResult::Failed;
    }
  }
  job->Total_Size = static_cast<int32_t>(total);
  for (Target* t : targets) {
    if (!t->selected) continue;
    const bool loaded = LoadImage(*t);
    t->file.reset();  // nothing reads the file after this
    if (!loaded) {
      ReportMessage(job, t->sizeError);
      return JobResult::Failed;
    }
  }
  if (!LoaderLeftListeningAllows(job, dsp, cm, motor)) return JobResult::Failed;
  job->Refused_Before_Sending = false;
  return RunTargets(job, dsp, cm, motor);
}

}  // namespace

void DownloadThread(JobContext* job) {
  job->Worker_Busy = true;
  while (!job->Download_Active) Pause(&job->Link, POLL_PERIOD);

  JobResult r = PrepareAndRun(job);  // every image block is released on return
  // A line that went away fails the job, whatever got through before.
  if (job->Link.Line_Gone.load()) r = JobResult::Failed;

  if (r != JobResult::Failed && r != JobResult::Reported) {
    r = JobResult::Done;
    job->SetStatusText(TEXT_DONE);
  } else if (r == JobResult::Failed) {
    ReportMessage(job, TEXT_DOWNLOAD_ERROR);
  }
  job->Job_Result = r;
  job->Download_Active = false;
  WakeReceiver(&job->Link);
  job->Worker_Busy = false;
  job->Worker_End.Reach();
  if (job->UI) job->UI->WorkerEnded();
}

