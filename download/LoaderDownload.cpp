#include "LoaderDownload.h"

#include <mutex>
#include <optional>
#include <thread>

#include "CameraChannel.h"
#include "MessageTexts.h"
#include "Progress.h"
#include "SerialLink.h"
#include "Timing.h"

namespace {

constexpr uint8_t CMD_PING = 0x20;
constexpr uint8_t CMD_DOWNLOAD = 0x21;
constexpr uint8_t CMD_GET_STATUS = 0x23;
constexpr uint8_t CMD_SEND_DATA = 0x24;
constexpr uint8_t CMD_RESET = 0x25;
constexpr uint8_t LOADER_ACK = 0xCC;
constexpr uint8_t LOADER_NAK = 0x33;
constexpr uint8_t STATUS_SUCCESS = 0x40;
constexpr uint8_t RESYNC_BYTE = 0x03;

constexpr int32_t LOAD_ADDRESS = 0x1000;

// Whether the count bytes went out whole. A short write has already been
// reported by WriteComm; it means the line is gone or stalled.
bool WritePacket(JobContext* job, const uint8_t* packet, int32_t count) {
  return WriteComm(&job->Link, packet, count) == count;
}

}  // namespace

int32_t BuildPingPacket(JobContext* job, uint8_t* packet) {
  ResetReply(&job->Link);
  packet[0] = 0x03;
  packet[1] = CMD_PING;
  packet[2] = CMD_PING;
  return 3;
}

int32_t BuildDownloadPacket(JobContext* job, uint8_t* packet, int32_t address, int32_t length) {
  ResetReply(&job->Link);
  const uint32_t a = static_cast<uint32_t>(address);
  const uint32_t n = static_cast<uint32_t>(length);
  packet[0] = 0x0B;
  packet[2] = CMD_DOWNLOAD;
  for (int k = 0; k < 4; ++k) {
    packet[3 + k] = static_cast<uint8_t>(a >> (24 - 8 * k));
    packet[7 + k] = static_cast<uint8_t>(n >> (24 - 8 * k));
  }
  uint8_t sum = 0;
  for (int k = 2; k <= 10; ++k) sum = static_cast<uint8_t>(sum + packet[k]);
  packet[1] = sum;
  return 11;
}

int32_t BuildGetStatusPacket(JobContext* job, uint8_t* packet) {
  ResetReply(&job->Link);
  packet[0] = 0x03;
  packet[1] = CMD_GET_STATUS;
  packet[2] = CMD_GET_STATUS;
  // The host's acknowledge of the status reply goes out with the request: the
  // loader waits for it once it has sent its status.
  packet[3] = LOADER_ACK;
  return 4;
}

int32_t BuildSendDataPacket(JobContext* job, uint8_t* packet, const uint8_t* data, int32_t n) {
  ResetReply(&job->Link);
  uint8_t sum = CMD_SEND_DATA;
  for (int32_t k = 0; k < n; ++k) {
    packet[3 + k] = data[k];
    sum = static_cast<uint8_t>(sum + data[k]);
  }
  packet[0] = static_cast<uint8_t>(n + 3);
  packet[1] = sum;
  packet[2] = CMD_SEND_DATA;
  return n + 3;
}

int32_t BuildResetPacket(JobContext* job, uint8_t* packet) {
  ResetReply(&job->Link);
  packet[0] = 0x03;
  packet[1] = CMD_RESET;
  packet[2] = CMD_RESET;
  return 3;
}

std::optional<LoaderAck> ScanLoaderAck(JobContext* job) {
  const RxBuffer& rx = job->Link.Rx;
  for (uint32_t i = 0; rx.Received(i, 1); ++i) {
    if (rx.At(i) != 0x00) continue;
    const uint8_t second = rx.At(i + 1);
    if (second == LOADER_ACK) return LoaderAck::Ack;
    if (second == LOADER_NAK) return LoaderAck::Nak;
  }
  return std::nullopt;
}

std::optional<LoaderStatus> ScanLoaderStatus(JobContext* job) {
  const RxBuffer& rx = job->Link.Rx;
  for (uint32_t i = 0; rx.Received(i, 4); ++i) {
    if (rx.At(i) != 0x00 || rx.At(i + 1) != LOADER_ACK || rx.At(i + 2) != 0x03) continue;
    const uint8_t x = rx.At(i + 3);
    const uint8_t y = rx.At(i + 4);
    if (x == STATUS_SUCCESS && y == STATUS_SUCCESS) return LoaderStatus{StatusReply::Success, x};
    // A window with exactly one 0x40 is no status reply at all: passed over.
    if (x != STATUS_SUCCESS && y != STATUS_SUCCESS) return LoaderStatus{StatusReply::Failure, x};
  }
  return std::nullopt;
}

std::optional<LoaderAck> WaitLoaderAck(JobContext* job, int32_t polls) {
  return WaitForReply(&job->Link, polls, [job] { return ScanLoaderAck(job); });
}

std::optional<LoaderStatus> WaitLoaderStatus(JobContext* job, int32_t polls) {
  return WaitForReply(&job->Link, polls, [job] { return ScanLoaderStatus(job); });
}

namespace {

// What a step's wait saw, as the steps' rules tell replies apart; NotWritten
// when the packet did not go out whole, so nothing was awaited.
enum class Seen { NotWritten, Nothing, Ack, Nak, Success, OtherStatus };

Seen SeenOf(const std::optional<LoaderAck>& ack) {
  if (!ack) return Seen::Nothing;
  return *ack == LoaderAck::Ack ? Seen::Ack : Seen::Nak;
}

Seen SeenOf(const std::optional<LoaderStatus>& status) {
  if (!status) return Seen::Nothing;
  return status->Reply == StatusReply::Success ? Seen::Success : Seen::OtherStatus;
}

// The resync; false when a byte could not be written. A line that takes no
// byte cannot be resynchronised, and going on would only repeat WriteComm's
// message up to 255 times.
bool Resync(JobContext* job) {
  // Single 0x03 bytes complete whatever packet the loader is still reading;
  // three of them form a packet of their own, which it acknowledges. No reply
  // reset here: the wait must see what earlier bytes brought.
  const uint8_t resync = RESYNC_BYTE;
  for (int k = 0; k < RESYNC_BYTES; ++k) {
    const Seen r = job->Link.AsOneExchange([&] {
      if (!WritePacket(job, &resync, 1)) return Seen::NotWritten;
      return SeenOf(WaitLoaderAck(job, RESYNC_POLLS));
    });
    if (r == Seen::NotWritten) return false;
    if (r == Seen::Ack || r == Seen::Nak) return true;
  }
  return true;
}

}  // namespace

PingReply PingLoader(JobContext* job) {
  uint8_t packet[LOADER_PACKET_BUFFER];
  for (int attempt = 0; attempt < PING_TRIES; ++attempt) {
    const Seen r = job->Link.AsOneExchange([&] {
      const int32_t n = BuildPingPacket(job, packet);
      if (!WritePacket(job, packet, n)) return Seen::NotWritten;
      return SeenOf(WaitLoaderAck(job, PING_POLLS));
    });
    if (r == Seen::NotWritten) return PingReply::Unanswered;
    if (r == Seen::Ack) return PingReply::Acknowledged;
  }
  return PingReply::Unanswered;
}

namespace {

enum class Packet { Ping, Download, GetStatus, SendData, Reset };
enum class Wait { Ack, Status };

// One step of a board's download: a packet sent again until the wanted reply
// comes. A time-out is followed by a resync (after the last try too); any
// other reply by a plain retry, or, for a chunk's confirmation, by a reload
// of the whole board (the chunk's outcome cannot be trusted).
struct LoaderStep {
  Packet Sent;
  std::chrono::milliseconds Pause;  // between the write and the wait
  Wait Awaited;
  int32_t Polls;
  Seen Wanted;
  int32_t Tries;
  bool ReloadOnOtherReply;
  const char* Message;  // when the tries are used up
  JobResult Failure;
};

constexpr std::chrono::milliseconds NO_PAUSE{0};
const LoaderStep CONNECT{Packet::Ping, NO_PAUSE, Wait::Ack, CONNECT_POLLS, Seen::Ack, CONNECT_TRIES, false,
                         TEXT_LOADER_CONNECTION_ERROR, JobResult::NoLoader};
// The loader erases before it acknowledges the DOWNLOAD packet.
const LoaderStep ERASE{Packet::Download, ERASE_PAUSE, Wait::Ack, ERASE_POLLS, Seen::Ack, ERASE_TRIES, false,
                       TEXT_ERASE_ERROR, JobResult::Reported};
const LoaderStep ERASE_CONFIRM{Packet::GetStatus, NO_PAUSE, Wait::Status, CONFIRM_POLLS, Seen::Success,
                               CONFIRM_TRIES, false, TEXT_ERASE_ERROR, JobResult::Reported};
const LoaderStep SEND{Packet::SendData, NO_PAUSE, Wait::Ack, SEND_POLLS, Seen::Ack, SEND_TRIES, false,
                      TEXT_WRITE_DATA_ERROR, JobResult::Failed};
// The chunk counts as written only on status success (0x40). Any other
// status means it cannot be confirmed: the loader said it failed (0x43 past
// the announced length after a repeated chunk, 0x44 flash failure), or a
// resync has overwritten the status (0x41) so that the chunk's own outcome is
// lost. Then the whole board is loaded again, erase included.
const LoaderStep CONFIRM{Packet::GetStatus, NO_PAUSE, Wait::Status, CONFIRM_POLLS, Seen::Success, CONFIRM_TRIES,
                         true, TEXT_WRITE_DATA_ERROR, JobResult::Failed};

// What a packet carries: the image's length for DOWNLOAD, a chunk for SEND_DATA.
struct Payload {
  const uint8_t* Data = nullptr;
  int32_t Length = 0;
};

int32_t Build(JobContext* job, Packet sent, uint8_t* packet, const Payload& payload) {
  switch (sent) {
    case Packet::Ping: return BuildPingPacket(job, packet);
    case Packet::Download: return BuildDownloadPacket(job, packet, LOAD_ADDRESS, payload.Length);
    case Packet::GetStatus: return BuildGetStatusPacket(job, packet);
    case Packet::SendData: return BuildSendDataPacket(job, packet, payload.Data, payload.Length);
    case Packet::Reset: return BuildResetPacket(job, packet);
  }
  return 0;
}

// One exchange, whole: the builder's reply reset, the write, the pause and
// the wait, so that no other sender's reset falls between.
Seen Exchange(JobContext* job, uint8_t* packet, Packet sent, const Payload& payload, std::chrono::milliseconds pause,
              Wait awaited, int32_t polls) {
  return job->Link.AsOneExchange([&] {
    const int32_t n = Build(job, sent, packet, payload);
    if (!WritePacket(job, packet, n)) return Seen::NotWritten;
    if (pause.count() > 0) Pause(&job->Link, pause);
    return awaited == Wait::Ack ? SeenOf(WaitLoaderAck(job, polls)) : SeenOf(WaitLoaderStatus(job, polls));
  });
}

// Runs a step: JobResult::Done once its wanted reply came. A short write ends
// the download (JobResult::Reported): WriteComm has reported it, and every
// further try would only report it again.
JobResult RunStep(JobContext* job, uint8_t* packet, const LoaderStep& step, const Payload& payload = {}) {
  for (int attempt = 0; attempt < step.Tries; ++attempt) {
    const Seen r = Exchange(job, packet, step.Sent, payload, step.Pause, step.Awaited, step.Polls);
    if (r == Seen::NotWritten) return JobResult::Reported;
    if (r == step.Wanted) return JobResult::Done;
    if (r == Seen::Nothing) {
      if (!Resync(job)) return JobResult::Reported;
    } else if (step.ReloadOnOtherReply) {
      return JobResult::Reload;
    }
  }
  ShowRoutineError(&job->Link, step.Message);
  return step.Failure;
}

// Restarts the board and makes sure it left its loader: a loader that still
// listens would take whatever the job sends next, the other board's image
// included. A NAK is a plain retry, a reply that is neither ACK nor NAK a
// resync and a retry. Silence may be a lost ACK, or a RESET the loader never
// took: one PING tells them apart only when it is answered (the loader still
// listens: RESET again). An unanswered PING proves nothing, since its own
// reply may be the one lost: the restart stays unconfirmed. The loader's
// acknowledge carries nothing that ties it to the RESET, so each RESET waits
// for a quiet line first: what is still coming from the exchange before
// (a reply sent twice, noise behind it) is dropped by the RESET's reply reset
// instead of passing for its acknowledge. A copy that comes later still can
// pass for it; with confirmByPing an acknowledged RESET counts only once a
// PING after it goes unanswered, and an answered one means RESET again.
bool RestartBoard(JobContext* job, uint8_t* packet, bool confirmByPing) {
  for (int attempt = 0; attempt < RESET_TRIES; ++attempt) {
    WaitForQuietLine(&job->Link, RESET_SETTLE, RESET_SETTLE_BOUND);
    const Seen r = Exchange(job, packet, Packet::Reset, {}, NO_PAUSE, Wait::Ack, RESET_POLLS);
    if (r == Seen::NotWritten) return false;
    if (r == Seen::Nak) continue;
    if (r == Seen::Ack) {
      if (!confirmByPing) return true;
      WaitForQuietLine(&job->Link, RESET_SETTLE, RESET_SETTLE_BOUND);
    } else if (job->Link.Rx.Count() > 0) {  // something came, but no reply
      if (!Resync(job)) return false;
      continue;
    }
    const Seen ping = Exchange(job, packet, Packet::Ping, {}, NO_PAUSE, Wait::Ack, RESTART_PING_POLLS);
    if (ping == Seen::NotWritten) return false;
    if (ping != Seen::Ack && ping != Seen::Nak) return r == Seen::Ack;
  }
  return false;
}

}  // namespace

JobResult DownloadByLoader(JobContext* job, int32_t target, const uint8_t* image, int32_t length,
                           bool confirmByPing) {
  uint8_t packet[LOADER_PACKET_BUFFER];
  const int32_t total = job->Total_Size.load();
  // Without a job total (a direct call) the image is the whole of it; a zero
  // divisor would give an infinite percentage.
  const double weight = total > 0 ? static_cast<double>(length) / total * 100.0 : 100.0;
  Pause(&job->Link, LOADER_START_PAUSE);

  for (const LoaderStep* step : {&CONNECT, &ERASE, &ERASE_CONFIRM}) {
    const JobResult r = RunStep(job, packet, *step, {image, length});
    if (r != JobResult::Done) return r;
  }

  // Data, in chunks of 76 bytes, each acknowledged and then confirmed.
  const int32_t count = length > 0 ? length / LOADER_CHUNK + (length % LOADER_CHUNK != 0 ? 1 : 0) : 0;
  int32_t index = 0;
  int32_t sent = 0;
  const uint8_t* data = image;
  while (sent < length) {
    const int32_t chunk = length - sent < LOADER_CHUNK ? length - sent : LOADER_CHUNK;
    for (const LoaderStep* step : {&SEND, &CONFIRM}) {
      const JobResult r = RunStep(job, packet, *step, {data, chunk});
      if (r != JobResult::Done) return r;
    }
    ShowProgress(job, target, weight, count, index);
    ReportProgress(job, target, sent + chunk);
    ++index;
    sent += chunk;
    data += chunk;
  }

  return RestartBoard(job, packet, confirmByPing) ? JobResult::Done : JobResult::DoneRestartUnconfirmed;
}

bool RestartBoardThatListens(JobContext* job) {
  uint8_t packet[LOADER_PACKET_BUFFER];
  return RestartBoard(job, packet, false);
}

LoaderEntry PrepareCameraBoard(JobContext* job, bool known, bool cameraHadLine, const RecordEntry& record) {
  // A camera that did not answer may have lost the line to a loader: one
  // that took the job's bytes for the start of a packet (the enter-download
  // at the loaders' own rate, noise) swallows the PINGs that must find it,
  // and a lost reply hides it as well. A resync brings such a loader back in
  // step and makes it answer before the PINGs are asked again.
  bool answered = PingLoader(job) == PingReply::Acknowledged;
  if (!answered && !cameraHadLine) {
    static_cast<void>(Resync(job));  // a dead line shows in the PINGs
    answered = PingLoader(job) == PingReply::Acknowledged;
  }
  if (answered) {
    if (known) return LoaderEntry::AlreadyListening;
    if (!RestartBoardThatListens(job)) return LoaderEntry::NotRestarted;
    // The line is back with the camera, which heard none of the job's
    // enter-download: the way in again, and the PINGs that must go unanswered.
    if (EnterDownloadMode(job) == DownloadMode::BaudRefused) return LoaderEntry::BaudRefused;
    if (PingLoader(job) == PingReply::Acknowledged) return LoaderEntry::NotRestarted;
  }
  if (!record()) return LoaderEntry::NotRecorded;
  // The entry command awaits no reply: the loader's PING tells.
  EnterCameraLoader(job);
  return LoaderEntry::Entered;
}

LoaderEntry PrepareControlBoard(JobContext* job, bool known, const RecordEntry& record) {
  bool atUserRate = false;
  if (!job->Selected(DSP_PATH) && !job->Selected(CM_PATH)) {
    // The control board alone: its loader may still be listening from an
    // earlier job. A refused rate shows in the ping.
    static_cast<void>(ChangeBaudRate(&job->Link, DOWNLOAD_BAUD_RATE));
    bool answered = PingLoader(job) == PingReply::Acknowledged;
    if (!answered) {
      // Silence is the camera's line, or a loader whose replies were lost or
      // swallowed (it took earlier bytes for the start of a packet). The
      // camera tells: when it does not answer the address set, a resync
      // brings such a loader back in step before the PINGs are asked again.
      static_cast<void>(ChangeBaudRate(&job->Link, job->Request.User_BaudRate));
      atUserRate = true;
      const CameraCommand probe = AddressSetCommand();
      if (SendCameraCommand(job, &probe, WAIT_ADDRESS_SET) != CommandReply::Answered) {
        static_cast<void>(ChangeBaudRate(&job->Link, DOWNLOAD_BAUD_RATE));
        atUserRate = false;
        static_cast<void>(Resync(job));  // a dead line shows in the PINGs
        answered = PingLoader(job) == PingReply::Acknowledged;
      }
    }
    if (answered) {
      if (known) return LoaderEntry::AlreadyListening;
      if (!RestartBoardThatListens(job) || PingLoader(job) == PingReply::Acknowledged) return LoaderEntry::NotRestarted;
    }
  }
  if (!record()) return LoaderEntry::NotRecorded;
  // A refused user rate has been reported; the entry command goes out anyway.
  if (!atUserRate) static_cast<void>(ChangeBaudRate(&job->Link, job->Request.User_BaudRate));
  const CameraCommand enter = ControlLoaderEntryCommand();
  static_cast<void>(SendCameraCommand(job, &enter, WAIT_NONE));  // awaits nothing
  return ChangeBaudRate(&job->Link, DOWNLOAD_BAUD_RATE) == RateSet::Refused ? LoaderEntry::BaudRefused : LoaderEntry::Entered;
}
