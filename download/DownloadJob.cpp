#include "DownloadJob.h"

#include <chrono>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CameraChannel.h"
#include "DspDownload.h"
#include "ImageFile.h"
#include "LoaderDownload.h"
#include "LoaderRecords.h"
#include "SerialLink.h"

namespace {

constexpr int32_t DSP_BODY_SIZE = 24448;
constexpr int32_t LOADER_RATE = 115200;
constexpr int32_t LOADER_CALLS = 3;
constexpr size_t READ_PIECE = 1024;

void Pause2ms() { std::this_thread::sleep_for(std::chrono::milliseconds(2)); }

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

void Message(TDownloadJobContext* form, const char* text) {
  if (form->UI) form->UI->ShowErrorMessage(text);
}

constexpr const char* CAMERA_LOADER_LEFT =
    "Camera board loader may still be active from a job that did not finish. Load the Camera board (CM) first !!";
constexpr const char* CONTROL_LOADER_LEFT =
    "Control board loader may still be active from a job that did not finish. Load the Control board (Motor) "
    "alone first !!";
constexpr const char* CAMERA_NOT_RESTARTED =
    "Camera board did not restart, so the Control board was not loaded. Load the Camera board (CM) again first !!";

void RecordLoader(TDownloadJobContext* form, int32_t board) {
  if (form->Loader_Records) form->Loader_Records->Set(form->ComPort_Device, board);
}

// A board whose loader an earlier job may have left listening must be the
// first loader this job talks to, before any other byte goes out: anything
// else would reach that loader, another board's image included.
int32_t CheckLoaderLeftListening(TDownloadJobContext* form, const Target& dsp, const Target& cm, const Target& motor) {
  if (!form->Loader_Records) return 0;
  switch (form->Loader_Records->Get(form->ComPort_Device)) {
    case CAMERA_BOARD:
      if (cm.selected && !dsp.selected) return 0;
      Message(form, CAMERA_LOADER_LEFT);
      return -1;
    case CONTROL_BOARD:
      if (motor.selected && !dsp.selected && !cm.selected) return 0;
      Message(form, CONTROL_LOADER_LEFT);
      return -1;
    default:
      return 0;
  }
}

// Loads one board, again while it asks for it (-2), at most three calls. A
// third -2 means the board's flash could not be confirmed: a failure. The
// board stays recorded as possibly listening until its restart is confirmed.
int32_t LoadBoard(TDownloadJobContext* form, int32_t board, Target& t) {
  int32_t r = -2;
  for (int call = 0; call < LOADER_CALLS && r == -2; ++call) {
    r = DownloadByLoader(form, board, t.block.data(), t.size);
  }
  Release(t);
  if (r == 0) RecordLoader(form, NO_BOARD);
  return r == -2 ? -1 : r;
}

int32_t RunTargets(TDownloadJobContext* form, Target& dsp, Target& cm, Target& motor) {
  int32_t r = 0;
  if (dsp.selected || cm.selected) {
    ChangeBaudRate(form->User_BaudRate.load(), &form->Baud_Request);
    CameraCommand enter{};
    enter.address = 1;
    const uint8_t payload[] = {0x01, 0x04, 0x75, 0xBB, 0xCC, 0xDD};
    std::copy(std::begin(payload), std::end(payload), enter.payload);
    enter.length = 8;
    SendCameraCommand(form, &enter, WAIT_ACK_AND_COMPLETION);
    r = ChangeBaudRate(LOADER_RATE, &form->Baud_Request);
    if (r == -1) return r;
    if (dsp.selected) {
      r = DownloadDSP(form, dsp.block.data(), dsp.size);
      Release(dsp);
      if (r == -1 || r == -3) return r;
      if (!cm.selected) CameraAddressSet(form);
    }
    if (cm.selected) {
      RecordLoader(form, CAMERA_BOARD);
      if (PingLoader(form) == -1) EnterCameraLoader(form);
      r = LoadBoard(form, CAMERA_BOARD, cm);
      if (r == -1 || r == -3) return r;
      // The control board's entry command and image would reach the camera
      // board's loader if it is still listening.
      if (r == LOADER_RESTART_UNCONFIRMED && motor.selected) {
        ShowRoutineError(form, CAMERA_NOT_RESTARTED);
        return -1;
      }
      CameraAddressSet(form);
    }
  }
  if (motor.selected) {
    RecordLoader(form, CONTROL_BOARD);
    r = PrepareControlBoard(form);
    if (r == -1) return r;
    r = LoadBoard(form, CONTROL_BOARD, motor);
  }
  // The image is in; an unconfirmed restart stays recorded for the next job.
  return r == LOADER_RESTART_UNCONFIRMED ? 0 : r;
}

int32_t PrepareAndRun(TDownloadJobContext* form) {
  Target dsp{form->DSP_Selected != 0, DSP_PATH, "Open DSP FW File  Error !!", "DSP File Size Error !!"};
  Target cm{form->CM_Selected != 0, CM_PATH, "Open Camera FW File  Error !!", "Camera File Size Error !!"};
  Target motor{form->Motor_Selected != 0, MOTOR_PATH, "Open Control FW File  Error !!",
               "Control Baord File Size Error !!"};
  Target* targets[] = {&dsp, &cm, &motor};

  if (!dsp.selected && !cm.selected && !motor.selected) {
    Message(form, "No File Selected !!");
    return -1;
  }
  std::string paths[3];
  for (int i = 0; i < 3; ++i) paths[i] = form->UI ? form->UI->ReadPathText(i) : std::string();

  // Every open comes before the first size check.
  for (Target* t : targets) {
    if (!t->selected) continue;
    t->file = OpenImage(paths[t->path]);
    if (!t->file) {
      Message(form, t->openError);
      return -1;
    }
  }
  for (Target* t : targets) {
    if (!t->selected) continue;
    t->size = SizeOf(t->file.get());
    if (t->size <= 0) {
      Message(form, t->sizeError);
      return -1;
    }
  }
  // The total is 32-bit like the sizes; boards that together do not fit it
  // are refused rather than letting the sum wrap.
  int64_t total = dsp.selected ? DSP_BODY_SIZE : 0;
  for (Target* t : {&cm, &motor}) {
    if (!t->selected) continue;
    total += t->size;
    if (total > std::numeric_limits<int32_t>::max()) {
      Message(form, t->sizeError);
      return -1;
    }
  }
  form->Total_Size = static_cast<int32_t>(total);
  for (Target* t : targets) {
    if (!t->selected) continue;
    const bool loaded = LoadImage(*t);
    t->file.reset();  // nothing reads the file after this
    if (!loaded) {
      Message(form, t->sizeError);
      return -1;
    }
  }
  if (CheckLoaderLeftListening(form, dsp, cm, motor) != 0) return -1;
  return RunTargets(form, dsp, cm, motor);
}

}  // namespace

int32_t DownloadThread(TDownloadJobContext* form) {
  form->Worker_Busy = true;
  while (!form->Download_Active) Pause2ms();

  int32_t r = PrepareAndRun(form);  // every image block is released on return
  // A line that went away fails the job, whatever got through before.
  if (form->Line_Gone.load()) r = -1;

  if (r != -1 && r != -3) {
    if (form->UI) form->UI->SetStatusText("100 %");
  } else if (r == -1) {
    Message(form, "Download Error !!");
  }
  form->Download_Active = false;
  form->Worker_Busy = false;
  return 0;
}

void RunDownloadJob(TDownloadJobContext* form, const JobFrontEnd& frontEnd) {
  if (ComPortOpenClose(form, 1) == -1) return;
  if (frontEnd.SetJobControlsEnabled) frontEnd.SetJobControlsEnabled(false);

  // Both count as busy from the moment they are started.
  form->Worker_Busy = true;
  form->Reader_Busy = true;
  std::thread worker(DownloadThread, form);
  std::thread reader(ReceiveThread, form);

  form->Progress_Base = 0;
  form->Progress_Segment = 0.0;
  int32_t dsp = 0, cm = 0, motor = 0;
  if (frontEnd.ReadSelection) frontEnd.ReadSelection(dsp, cm, motor);
  form->DSP_Selected = dsp;
  form->CM_Selected = cm;
  form->Motor_Selected = motor;
  form->Download_Active = true;

  while (form->Download_Active) {
    ServeBaudRequest(form);
    Pause2ms();
    if (frontEnd.ProcessMessages) frontEnd.ProcessMessages();
  }
  while (form->Reader_Busy || form->Worker_Busy) Pause2ms();
  worker.join();
  reader.join();

  ComPortOpenClose(form, 0);
  if (frontEnd.ApplyPendingStatus) frontEnd.ApplyPendingStatus();
  if (form->UI) form->UI->SetStatusText("Ready");
  if (frontEnd.SetJobControlsEnabled) frontEnd.SetJobControlsEnabled(true);
}
