#include "DownloadJob.h"

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

// The window side's pump step, on the real clock.
void PausePoll() { std::this_thread::sleep_for(POLL_PERIOD); }

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

// Size by seeking to the end and back; -1 when it cannot be told or does not
// fit the 32-bit size the protocols carry.
int32_t SizeOf(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return -1;
  const long end = std::ftell(file);
  if (std::fseek(file, 0, SEEK_SET) != 0) return -1;
  if (end < 0 || end > std::numeric_limits<int32_t>::max()) return -1;
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

void TargetStarted(TDownloadJob* form, PathIndex target, int32_t bytes) {
  if (form->UI) form->UI->TargetStarted(target, bytes);
}

// A board whose restart was not confirmed has its image in: done.
void TargetEnded(TDownloadJob* form, PathIndex target, int32_t r) {
  const bool done = (r == RESULT_DONE || r == RESULT_DONE_RESTART_UNCONFIRMED) && !form->Link.Line_Gone.load();
  if (form->UI) form->UI->TargetEnded(target, done);
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
bool RecordLoader(TDownloadJob* form, int32_t board) {
  if (!form->Session.Loader_Records) return true;
  return form->Session.Loader_Records->Set(form->Link.ComPort_Device, board);
}

int32_t RecordedLoader(TDownloadJob* form) {
  return form->Session.Loader_Records ? form->Session.Loader_Records->Get(form->Link.ComPort_Device) : NO_BOARD;
}

// A board whose loader an earlier job may have left listening must be the
// first loader this job talks to, before any other byte goes out: anything
// else would reach that loader, another board's image included.
int32_t CheckLoaderLeftListening(TDownloadJob* form, const Target& dsp, const Target& cm, const Target& motor) {
  switch (RecordedLoader(form)) {
    case CAMERA_BOARD:
      if (cm.selected && !dsp.selected) return 0;
      ReportMessage(form, TEXT_CAMERA_LOADER_LEFT);
      return -1;
    case CONTROL_BOARD:
      if (motor.selected && !dsp.selected && !cm.selected) return 0;
      ReportMessage(form, TEXT_CONTROL_LOADER_LEFT);
      return -1;
    default:
      return 0;
  }
}

// Loads one board, again while it asks for it (-2), at most three calls. A
// third -2 means the board's flash could not be confirmed: a failure. The
// board stays recorded as possibly listening until its restart is confirmed.
JobResult LoadBoard(TDownloadJob* form, int32_t board, Target& t, bool confirmByPing) {
  form->Image_Sent = true;
  JobResult r = RESULT_RELOAD;
  for (int call = 0; call < LOADER_CALLS && r == RESULT_RELOAD; ++call) {
    r = DownloadByLoader(form, board, t.block.data(), t.size, confirmByPing);
  }
  Release(t);
  if (r == RESULT_DONE) static_cast<void>(RecordLoader(form, NO_BOARD));
  return r == RESULT_RELOAD ? RESULT_FAILED : r;
}

// No loader answered: none listens, so the record goes. When the camera
// does not answer either (it may still be in download mode from a job cut
// short), only switching the unit off and on brings it back.
JobResult NoLoaderAnswered(TDownloadJob* form) {
  static_cast<void>(RecordLoader(form, NO_BOARD));
  if (form->Link.Line_Gone.load()) return RESULT_REPORTED;
  // A refused rate has been reported by the window thread; the address set tells.
  static_cast<void>(ChangeBaudRate(&form->Link, form->User_BaudRate.load()));
  if (CameraAddressSet(form) != 0) ShowRoutineError(&form->Link, TEXT_UNIT_NOT_ANSWERING);
  return RESULT_REPORTED;
}

// Brings the board's loader to the line and loads the board. cameraHadLine:
// for the camera board, whether the camera answered in this job.
JobResult PrepareAndLoadBoard(TDownloadJob* form, int32_t board, Target& t, bool confirmByPing, bool cameraHadLine) {
  const bool known = RecordedLoader(form) == board;
  const RecordEntry record = [form, board] { return RecordLoader(form, board); };
  const LoaderEntry entry = board == CAMERA_BOARD ? PrepareCameraBoard(form, known, cameraHadLine, record)
                                                  : PrepareControlBoard(form, known, record);
  switch (entry) {
    case LoaderEntry::AlreadyListening:
    case LoaderEntry::Entered:
      break;
    case LoaderEntry::BaudRefused:
      return RESULT_FAILED;
    case LoaderEntry::NotRestarted:
      // Refused before any image byte went out, when none had.
      form->Refused_Before_Sending = !form->Image_Sent;
      ShowRoutineError(&form->Link, TEXT_LOADER_NOT_RESTARTED);
      return RESULT_FAILED;
    case LoaderEntry::NotRecorded: {
      // Nothing was entered: the record this object still keeps in memory goes.
      static_cast<void>(RecordLoader(form, NO_BOARD));
      form->Refused_Before_Sending = !form->Image_Sent;
      const std::string file = form->Session.Loader_Records ? form->Session.Loader_Records->File() : std::string();
      ShowRoutineError(&form->Link, LoaderNotRecordedText(board, file).c_str());
      return RESULT_FAILED;
    }
  }
  const JobResult r = LoadBoard(form, board, t, confirmByPing);
  return r == RESULT_NO_LOADER ? NoLoaderAnswered(form) : r;
}

int32_t RunTargets(TDownloadJob* form, Target& dsp, Target& cm, Target& motor) {
  int32_t r = 0;
  if (dsp.selected || cm.selected) {
    const DownloadMode mode = EnterDownloadMode(form);
    if (mode == DownloadMode::BaudRefused) return RESULT_FAILED;
    if (dsp.selected) {
      TargetStarted(form, DSP_PATH, DSP_BODY_SIZE);
      form->Image_Sent = true;
      r = DownloadDSP(form, dsp.block.data(), dsp.size);
      Release(dsp);
      TargetEnded(form, DSP_PATH, r);
      if (r == RESULT_FAILED || r == RESULT_REPORTED) return r;
      if (!cm.selected) static_cast<void>(CameraAddressSet(form));  // the unit answers or not; the DSP is in
    }
    if (cm.selected) {
      TargetStarted(form, CM_PATH, cm.size);
      // With the control board next, the camera board's restart must be
      // proven: its loader would take the control board's image.
      // A DSP that went in had the camera on the line.
      r = PrepareAndLoadBoard(form, CAMERA_BOARD, cm, motor.selected, mode == DownloadMode::Entered || dsp.selected);
      TargetEnded(form, CM_PATH, r);
      if (r == RESULT_FAILED || r == RESULT_REPORTED) return r;
      if (r == RESULT_DONE_RESTART_UNCONFIRMED) {
        if (motor.selected) {
          ShowRoutineError(&form->Link, TEXT_CAMERA_NOT_RESTARTED);
          return RESULT_FAILED;
        }
        form->Notice = TEXT_CAMERA_RESTART_UNCONFIRMED;
      }
      static_cast<void>(CameraAddressSet(form));  // the unit answers or not; the board is in
    }
  }
  if (motor.selected) {
    TargetStarted(form, MOTOR_PATH, motor.size);
    r = PrepareAndLoadBoard(form, CONTROL_BOARD, motor, false, false);
    TargetEnded(form, MOTOR_PATH, r);
    if (r == RESULT_DONE_RESTART_UNCONFIRMED) form->Notice = TEXT_CONTROL_RESTART_UNCONFIRMED;
  }
  // The image is in; an unconfirmed restart stays recorded for the next job,
  // and the user is told once.
  return r == RESULT_DONE_RESTART_UNCONFIRMED ? RESULT_DONE : r;
}

// Every return before RunTargets refuses the job before any byte went out.
int32_t PrepareAndRun(TDownloadJob* form) {
  form->Refused_Before_Sending = true;
  form->Image_Sent = false;
  form->Notice.clear();
  Target dsp{form->DSP_Selected != 0, DSP_PATH, TEXT_OPEN_DSP_ERROR, TEXT_DSP_SIZE_ERROR};
  Target cm{form->CM_Selected != 0, CM_PATH, TEXT_OPEN_CAMERA_ERROR, TEXT_CAMERA_SIZE_ERROR};
  Target motor{form->Motor_Selected != 0, MOTOR_PATH, TEXT_OPEN_CONTROL_ERROR, TEXT_CONTROL_SIZE_ERROR};
  Target* targets[] = {&dsp, &cm, &motor};

  if (!dsp.selected && !cm.selected && !motor.selected) {
    ReportMessage(form, TEXT_NO_FILE_SELECTED);
    return -1;
  }
  const std::string* paths = form->Paths;

  // Every open comes before the first size check.
  for (Target* t : targets) {
    if (!t->selected) continue;
    t->file = OpenImage(paths[t->path]);
    if (!t->file) {
      ReportMessage(form, t->openError);
      return -1;
    }
  }
  for (Target* t : targets) {
    if (!t->selected) continue;
    t->size = SizeOf(t->file.get());
    if (t->size <= 0) {
      ReportMessage(form, t->sizeError);
      return -1;
    }
  }
  // The total is 32-bit like the sizes; boards that together do not fit it
  // are refused rather than letting the sum wrap.
  int64_t total = dsp.selected ? DSP_BODY_SIZE : 0;  // the DSP counts as its body
  for (Target* t : {&cm, &motor}) {
    if (!t->selected) continue;
    total += t->size;
    if (total > std::numeric_limits<int32_t>::max()) {
      ReportMessage(form, t->sizeError);
      return -1;
    }
  }
  form->Total_Size = static_cast<int32_t>(total);
  for (Target* t : targets) {
    if (!t->selected) continue;
    const bool loaded = LoadImage(*t);
    t->file.reset();  // nothing reads the file after this
    if (!loaded) {
      ReportMessage(form, t->sizeError);
      return -1;
    }
  }
  if (CheckLoaderLeftListening(form, dsp, cm, motor) != 0) return -1;
  form->Refused_Before_Sending = false;
  return RunTargets(form, dsp, cm, motor);
}

}  // namespace

TDownloadJob::TDownloadJob(JobSession& session, JobObserver* ui)
    : Session(session), UI(ui), Link(session.Ports, this) {
  // A rate the window thread could not apply is followed by an address set
  // from there; the unit answers it or not.
  Link.Baud_Failure_Address_Set = [this] { static_cast<void>(CameraAddressSet(this)); };
}

void TDownloadJob::RequestStop() {
  Stop_Requested.store(true);
  // The gone-line path already does what a stop needs: nothing more is
  // written, routines add no message of their own, baud requests are refused
  // and the job fails.
  Link.Line_Gone.store(true);
}

void TDownloadJob::ShowErrorMessage(const std::string& text) {
  {
    std::lock_guard<std::mutex> hold(Message_Lock);
    Shown_Messages.push_back(text);
  }
  if (UI) UI->ShowErrorMessage(text);
}

void TDownloadJob::ProcessPendingEvents() {
  if (UI) UI->ProcessPendingEvents();
}

void TDownloadJob::SetStatusText(const std::string& text) {
  if (UI) UI->SetStatusText(text);
}

std::string TDownloadJob::LastMessage() const {
  std::lock_guard<std::mutex> hold(Message_Lock);
  return Shown_Messages.empty() ? std::string() : Shown_Messages.back();
}

std::vector<std::string> TDownloadJob::Messages() const {
  std::lock_guard<std::mutex> hold(Message_Lock);
  return Shown_Messages;
}

void TDownloadJob::ForgetMessages() {
  std::lock_guard<std::mutex> hold(Message_Lock);
  Shown_Messages.clear();
}

int32_t DownloadThread(TDownloadJob* form) {
  form->Worker_Busy = true;
  while (!form->Download_Active) Pause(&form->Link, POLL_PERIOD);

  int32_t r = PrepareAndRun(form);  // every image block is released on return
  // A line that went away fails the job, whatever got through before.
  if (form->Link.Line_Gone.load()) r = -1;

  if (r != -1 && r != -3) {
    r = 0;
    form->SetStatusText(TEXT_DONE);
  } else if (r == -1) {
    ReportMessage(form, TEXT_DOWNLOAD_ERROR);
  }
  form->Job_Result = r;
  form->Download_Active = false;
  WakeReceiver(&form->Link);
  form->Worker_Busy = false;
  return 0;
}

namespace {

JobOutcome Outcome(TDownloadJob* form, JobEnd end) {
  JobOutcome outcome;
  outcome.Success = end == JobEnd::Done;
  outcome.End = end;
  outcome.Messages = form->Messages();
  if (!outcome.Success && !outcome.Messages.empty()) outcome.Message = outcome.Messages.back();
  if (outcome.Success) outcome.Notice = form->Notice;
  return outcome;
}

// What both ways of running a job do before the worker: nullopt when the
// job goes on, else its outcome.
std::optional<JobOutcome> OpenJob(TDownloadJob* form, const JobRequest& request) {
  form->ForgetMessages();
  if (form->StopRequested()) return Outcome(form, JobEnd::Stopped);
  form->User_BaudRate = request.User_BaudRate;
  if (ComPortOpen(&form->Link, request.Device, request.User_BaudRate) == -1) return Outcome(form, JobEnd::PortNotOpened);
  // Opening clears the link's gone flag; a stop that came meanwhile must hold.
  if (form->StopRequested()) form->Link.Line_Gone.store(true);
  if (form->UI) form->UI->SetJobControlsEnabled(false);
  form->Job_Result = 0;
  for (int i = 0; i < 3; ++i) form->Paths[i] = request.Targets[i].Path;
  return std::nullopt;
}

// The selection and the progress, then the job is active.
void ActivateJob(TDownloadJob* form, const JobRequest& request) {
  form->Progress_Base = 0;
  form->Progress_Segment = 0.0;
  form->DSP_Selected = request.Targets[DSP_PATH].Selected ? 1 : 0;
  form->CM_Selected = request.Targets[CM_PATH].Selected ? 1 : 0;
  form->Motor_Selected = request.Targets[MOTOR_PATH].Selected ? 1 : 0;
  form->Download_Active = true;
}

JobOutcome CloseJob(TDownloadJob* form) {
  ComPortClose(&form->Link);
  if (form->UI) {
    form->UI->ApplyPendingStatus();
    form->UI->SetStatusText(TEXT_READY);
    form->UI->SetJobControlsEnabled(true);
  }
  if (form->Job_Result.load() == 0) return Outcome(form, JobEnd::Done);
  if (form->StopRequested()) return Outcome(form, JobEnd::Stopped);
  return Outcome(form, form->Refused_Before_Sending.load() ? JobEnd::Refused : JobEnd::LineFailure);
}

}  // namespace

JobOutcome RunDownloadJob(TDownloadJob* form, const JobRequest& request) {
  if (std::optional<JobOutcome> ended = OpenJob(form, request)) return *ended;
  // Both count as busy from the moment they are started.
  form->Worker_Busy = true;
  form->Reader_Busy = true;
  std::thread worker(DownloadThread, form);
  std::thread reader(ReceiveThread, &form->Link, static_cast<JobThreadFlags*>(form));
  ActivateJob(form, request);

  while (form->Download_Active) {
    ServeBaudRequest(&form->Link);
    PausePoll();
    form->ProcessPendingEvents();
  }
  while (form->Reader_Busy || form->Worker_Busy) PausePoll();
  worker.join();
  reader.join();
  return CloseJob(form);
}

JobOutcome RunDownloadJobOnThisThread(TDownloadJob* form, const JobRequest& request) {
  if (std::optional<JobOutcome> ended = OpenJob(form, request)) return *ended;
  ActivateJob(form, request);
  DownloadThread(form);
  return CloseJob(form);
}
