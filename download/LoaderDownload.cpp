#include "LoaderDownload.h"

#include <chrono>
#include <mutex>
#include <thread>

#include "CameraChannel.h"
#include "Progress.h"
#include "SerialLink.h"

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

constexpr int32_t RESULT_ACK = 204;
constexpr int32_t RESULT_NAK = 51;
constexpr int32_t RESULT_SUCCESS = 64;

constexpr int32_t LOAD_ADDRESS = 0x1000;
constexpr int32_t LOADER_BAUD_RATE = 115200;

void Pause(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

uint8_t RxAt(TDownloadJobContext* form, uint32_t i) { return form->Rx_Buffer[i].load(); }

// Whether the count bytes went out whole. A short write has already been
// reported by WriteComm; it means the line is gone or stalled.
bool WritePacket(TDownloadJobContext* form, const uint8_t* packet, int32_t count) {
  return WriteComm(form, packet, count) == count;
}

// How one exchange of the download ended.
enum class Reply { Accepted, Exhausted, Other, LineFailed };

}  // namespace

int32_t BuildPingPacket(TDownloadJobContext* form, uint8_t* packet) {
  ResetReply(form);
  packet[0] = 0x03;
  packet[1] = CMD_PING;
  packet[2] = CMD_PING;
  return 3;
}

int32_t BuildDownloadPacket(TDownloadJobContext* form, uint8_t* packet, int32_t address, int32_t length) {
  ResetReply(form);
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

int32_t BuildGetStatusPacket(TDownloadJobContext* form, uint8_t* packet) {
  ResetReply(form);
  packet[0] = 0x03;
  packet[1] = CMD_GET_STATUS;
  packet[2] = CMD_GET_STATUS;
  // The host's acknowledge of the status reply goes out with the request: the
  // loader waits for it once it has sent its status.
  packet[3] = LOADER_ACK;
  return 4;
}

int32_t BuildSendDataPacket(TDownloadJobContext* form, uint8_t* packet, const uint8_t* data, int32_t n) {
  ResetReply(form);
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

int32_t BuildResetPacket(TDownloadJobContext* form, uint8_t* packet) {
  ResetReply(form);
  packet[0] = 0x03;
  packet[1] = CMD_RESET;
  packet[2] = CMD_RESET;
  return 3;
}

int32_t ScanLoaderAck(TDownloadJobContext* form) {
  for (uint32_t i = 0; RxReceived(form, i, 1); ++i) {
    if (RxAt(form, i) != 0x00) continue;
    const uint8_t second = RxAt(form, i + 1);
    if (second == LOADER_ACK) return RESULT_ACK;
    if (second == LOADER_NAK) return RESULT_NAK;
  }
  return -1;
}

int32_t ScanLoaderStatus(TDownloadJobContext* form) {
  for (uint32_t i = 0; RxReceived(form, i, 4); ++i) {
    if (RxAt(form, i) != 0x00 || RxAt(form, i + 1) != LOADER_ACK || RxAt(form, i + 2) != 0x03) continue;
    const uint8_t x = RxAt(form, i + 3);
    const uint8_t y = RxAt(form, i + 4);
    if (x == STATUS_SUCCESS && y == STATUS_SUCCESS) return RESULT_SUCCESS;
    // A window with exactly one 0x40 is no status reply at all: passed over.
    if (x != STATUS_SUCCESS && y != STATUS_SUCCESS) return x;
  }
  return -1;
}

int32_t WaitLoaderAck(TDownloadJobContext* form, int32_t polls) {
  return PollForReply(polls, [form] { return ScanLoaderAck(form); });
}

int32_t WaitLoaderStatus(TDownloadJobContext* form, int32_t polls) {
  return PollForReply(polls, [form] { return ScanLoaderStatus(form); });
}

namespace {

// The resync; false when a byte could not be written. A line that takes no
// byte cannot be resynchronised, and going on would only repeat WriteComm's
// message up to 255 times.
bool Resync(TDownloadJobContext* form) {
  // Single 0x03 bytes complete whatever packet the loader is still reading;
  // three of them form a packet of their own, which it acknowledges. No reply
  // reset here: the wait must see what earlier bytes brought.
  const uint8_t resync = RESYNC_BYTE;
  for (int k = 0; k < 255; ++k) {
    std::lock_guard<std::recursive_mutex> hold(form->Sender_Lock);
    if (!WritePacket(form, &resync, 1)) return false;
    const int32_t r = WaitLoaderAck(form, 4);
    if (r == RESULT_ACK || r == RESULT_NAK) return true;
  }
  return true;
}

}  // namespace

void ResyncLoader(TDownloadJobContext* form) { Resync(form); }

int32_t PingLoader(TDownloadJobContext* form) {
  uint8_t packet[LOADER_PACKET_BUFFER];
  int32_t result = -1;
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::lock_guard<std::recursive_mutex> hold(form->Sender_Lock);
    const int32_t n = BuildPingPacket(form, packet);
    if (!WritePacket(form, packet, n)) return -1;
    result = WaitLoaderAck(form, 300);
    if (result == RESULT_ACK) return RESULT_ACK;
  }
  return -1;
}

int32_t PrepareControlBoard(TDownloadJobContext* form) {
  if (form->DSP_Selected.load() == 0 && form->CM_Selected.load() == 0) {
    // The control board alone: its loader may still be listening from an
    // earlier job.
    ChangeBaudRate(LOADER_BAUD_RATE, &form->Baud_Request);
    const int32_t ping = PingLoader(form);
    if (ping != -1) return ping;
  }
  ChangeBaudRate(form->User_BaudRate.load(), &form->Baud_Request);
  CameraCommand enter{};
  enter.address = 1;
  enter.payload[0] = 0xAA;
  enter.payload[1] = 0xBB;
  enter.payload[2] = 0x00;
  enter.length = 5;
  SendCameraCommand(form, &enter, WAIT_NONE);
  return ChangeBaudRate(LOADER_BAUD_RATE, &form->Baud_Request);
}

namespace {

// One exchange under Sender_Lock: the builder's reply reset, the write, an
// optional pause and the wait, so that no other sender's reset falls between.
template <typename Build, typename Wait>
int32_t Exchange(TDownloadJobContext* form, uint8_t* packet, Build build, int pauseMs, Wait wait,
                 bool& lineFailed) {
  std::lock_guard<std::recursive_mutex> hold(form->Sender_Lock);
  const int32_t n = build(packet);
  if (!WritePacket(form, packet, n)) {
    lineFailed = true;
    return -1;
  }
  if (pauseMs > 0) Pause(pauseMs);
  return wait();
}

// Up to tries exchanges until one gives the wanted reply. A time-out is
// followed by a resync (after the last try too); any other reply by a plain
// retry, or, with stopOnOther, ends the loop at once.
template <typename Build, typename Wait>
Reply TryExchange(TDownloadJobContext* form, uint8_t* packet, int tries, int32_t wanted, Build build,
                  int pauseMs, Wait wait, bool stopOnOther = false) {
  for (int attempt = 0; attempt < tries; ++attempt) {
    bool lineFailed = false;
    const int32_t r = Exchange(form, packet, build, pauseMs, wait, lineFailed);
    if (lineFailed) return Reply::LineFailed;
    if (r == wanted) return Reply::Accepted;
    if (r == -1) {
      if (!Resync(form)) return Reply::LineFailed;
    } else if (stopOnOther) {
      return Reply::Other;
    }
  }
  return Reply::Exhausted;
}

// Restarts the board and makes sure it left its loader: a loader that still
// listens would take whatever the job sends next, the other board's image
// included. A NAK is a plain retry, a reply that is neither ACK nor NAK a
// resync and a retry. Silence may be a lost ACK: one PING tells, since a
// restarted board no longer answers it.
bool RestartBoard(TDownloadJobContext* form, uint8_t* packet) {
  for (int attempt = 0; attempt < LOADER_RESET_TRIES; ++attempt) {
    bool lineFailed = false;
    bool heardSomething = false;
    const int32_t r = Exchange(
        form, packet, [form](uint8_t* p) { return BuildResetPacket(form, p); }, 0,
        [form, &heardSomething] {
          const int32_t reply = WaitLoaderAck(form, 6000);
          heardSomething = form->Rx_Count.load() > 0;
          return reply;
        },
        lineFailed);
    if (lineFailed) return false;
    if (r == RESULT_ACK) return true;
    if (r == RESULT_NAK) continue;
    if (heardSomething) {
      if (!Resync(form)) return false;
      continue;
    }
    const int32_t ping = Exchange(
        form, packet, [form](uint8_t* p) { return BuildPingPacket(form, p); }, 0,
        [form] { return WaitLoaderAck(form, 300); }, lineFailed);
    if (lineFailed) return false;
    if (ping != RESULT_ACK && ping != RESULT_NAK) return true;
  }
  return false;
}

}  // namespace

int32_t DownloadByLoader(TDownloadJobContext* form, int32_t target, const uint8_t* image, int32_t length) {
  uint8_t packet[LOADER_PACKET_BUFFER];
  const int32_t total = form->Total_Size.load();
  // Without a job total (a direct call) the image is the whole of it; a zero
  // divisor would give an infinite percentage.
  const double weight = total > 0 ? static_cast<double>(length) / total * 100.0 : 100.0;
  Pause(2000);

  // A short write ends the download: WriteComm has reported it, and every
  // further try would only report it again.
  const auto lineFailed = [](Reply r) { return r == Reply::LineFailed; };

  // Connect.
  Reply r = TryExchange(
      form, packet, 6, RESULT_ACK, [form](uint8_t* p) { return BuildPingPacket(form, p); }, 0,
      [form] { return WaitLoaderAck(form, 600); });
  if (lineFailed(r)) return -3;
  if (r != Reply::Accepted) {
    ShowRoutineError(form, "Stellaries Connection Error !!");
    return -3;
  }

  // Erase: the loader erases before it acknowledges the DOWNLOAD packet.
  r = TryExchange(
      form, packet, 15, RESULT_ACK,
      [form, length](uint8_t* p) { return BuildDownloadPacket(form, p, LOAD_ADDRESS, length); }, 2000,
      [form] { return WaitLoaderAck(form, 1200); });
  if (lineFailed(r)) return -3;
  if (r != Reply::Accepted) {
    ShowRoutineError(form, "Erase Flash Error !!");
    return -3;
  }
  r = TryExchange(
      form, packet, 15, RESULT_SUCCESS, [form](uint8_t* p) { return BuildGetStatusPacket(form, p); }, 0,
      [form] { return WaitLoaderStatus(form, 1200); });
  if (lineFailed(r)) return -3;
  if (r != Reply::Accepted) {
    ShowRoutineError(form, "Erase Flash Error !!");
    return -3;
  }

  // Data, in chunks of 76 bytes, each acknowledged and then confirmed.
  const int32_t count = length > 0 ? length / LOADER_CHUNK + (length % LOADER_CHUNK != 0 ? 1 : 0) : 0;
  int32_t index = 0;
  int32_t sent = 0;
  const uint8_t* data = image;
  while (sent < length) {
    const int32_t chunk = length - sent < LOADER_CHUNK ? length - sent : LOADER_CHUNK;
    r = TryExchange(
        form, packet, 15, RESULT_ACK,
        [form, data, chunk](uint8_t* p) { return BuildSendDataPacket(form, p, data, chunk); }, 0,
        [form] { return WaitLoaderAck(form, 1200); });
    if (lineFailed(r)) return -3;
    if (r != Reply::Accepted) {
      ShowRoutineError(form, "Write Data Error !!");
      return -1;
    }
    // The chunk counts as written only on status success (0x40). A time-out
    // leads to the resync and the next try; fifteen of them are a write
    // failure (-1). Any other status means the chunk cannot be confirmed: the
    // loader said it failed (0x43 past the announced length after a repeated
    // chunk, 0x44 flash failure), or a resync has overwritten the status
    // (0x41) so that the chunk's own outcome is lost. Then the whole target is
    // loaded again, erase included (-2), rather than trusting a flash that
    // may be wrong.
    r = TryExchange(
        form, packet, 15, RESULT_SUCCESS, [form](uint8_t* p) { return BuildGetStatusPacket(form, p); }, 0,
        [form] { return WaitLoaderStatus(form, 1200); }, /*stopOnOther=*/true);
    if (lineFailed(r)) return -3;
    if (r == Reply::Other) return -2;
    if (r != Reply::Accepted) {
      ShowRoutineError(form, "Write Data Error !!");
      return -1;
    }
    ShowProgress(form, target, weight, count, index);
    ++index;
    sent += chunk;
    data += chunk;
  }

  return RestartBoard(form, packet) ? 0 : LOADER_RESTART_UNCONFIRMED;
}
