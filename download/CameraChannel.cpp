#include "CameraChannel.h"

#include <chrono>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <thread>

#include "SerialLink.h"
#include "Timing.h"

namespace {

bool High(uint8_t b, uint8_t nibble) { return (b & 0xF0) == nibble; }

}  // namespace

bool ScanCameraReply(JobContext* job, uint32_t mode, uint8_t z) {
  const RxBuffer& rx = job->Link.Rx;
  switch (mode) {
    case WAIT_ACK_AND_COMPLETION:
      for (uint32_t i = 0; rx.Received(i, 5); ++i) {
        if (rx.At(i) == z && High(rx.At(i + 1), 0x40) && rx.At(i + 2) == 0xFF && rx.At(i + 3) == z &&
            High(rx.At(i + 4), 0x50) && rx.At(i + 5) == 0xFF)
          return true;
      }
      return false;
    case WAIT_ACK:
      for (uint32_t i = 0; rx.Received(i, 1); ++i) {
        if (rx.At(i) == z && High(rx.At(i + 1), 0x40)) return true;
      }
      return false;
    case WAIT_COMPLETION:
      // The completion z 5y is taken with its terminator: a DSP block reply
      // (z 5y 01 FF) that comes late must not pass for the completion of the
      // next block's announce.
      for (uint32_t i = 0; rx.Received(i, 2); ++i) {
        if (rx.At(i) == z && High(rx.At(i + 1), 0x50) && rx.At(i + 2) == 0xFF) return true;
      }
      return false;
    case WAIT_ADDRESS_SET:
      for (uint32_t i = 0; rx.Received(i, 3); ++i) {
        if (rx.At(i) == 0x88 && rx.At(i + 1) == 0x30 && rx.At(i + 2) == 0x02 && rx.At(i + 3) == 0xFF)
          return true;
      }
      return false;
    default:
      return false;
  }
}

CommandReply SendCameraCommand(JobContext* job, const CameraCommand* command, uint32_t mode) {
  // No sender uses a length outside 2 to 16; such a descriptor is refused
  // before anything goes out rather than overrunning the packet buffer.
  if (command->length < 2 || command->length > 16) return CommandReply::Unanswered;
  const int32_t polls = mode == WAIT_ADDRESS_SET ? ADDRESS_SET_POLLS : CAMERA_REPLY_POLLS;

  uint8_t packet[16];
  std::memset(packet, 0xFF, sizeof packet);
  packet[0] = static_cast<uint8_t>(0x80 + command->address);
  std::memcpy(packet + 1, command->payload, static_cast<size_t>(command->length - 2));
  packet[command->length - 1] = 0xFF;
  const uint8_t z = static_cast<uint8_t>(16 * command->address + 0x80);

  // The front end's address set and the worker's commands share the
  // buffer: one command's reset, write and wait stay whole.
  return job->Link.AsOneExchange([&]() -> CommandReply {
    Pause(&job->Link, COMMAND_PAUSE);
    ResetReply(&job->Link);
    if (WriteComm(&job->Link, packet, command->length) != command->length) return CommandReply::Unanswered;
    if (mode == WAIT_NONE || mode > WAIT_ADDRESS_SET) return CommandReply::Unanswered;
    const bool found = WaitForReply(&job->Link, polls, [&] { return ScanCameraReply(job, mode, z); });
    return found ? CommandReply::Answered : CommandReply::Unanswered;
  });
}

CameraCommand MakeCameraCommand(uint8_t address, std::initializer_list<uint8_t> payload) {
  CameraCommand command{};
  command.address = address;
  // At most 14 payload bytes fit a 16-byte packet.
  const size_t n = std::min<size_t>(payload.size(), 14);
  std::copy_n(payload.begin(), n, command.payload);
  command.length = static_cast<int32_t>(n) + 2;
  return command;
}

CameraCommand EnterDownloadCommand() { return MakeCameraCommand(1, {0x01, 0x04, 0x75, 0xBB, 0xCC, 0xDD}); }
CameraCommand BlockAnnounceCommand() { return MakeCameraCommand(1, {0x01, 0x04, 0x99, 0xAB}); }
CameraCommand AddressSetCommand() { return MakeCameraCommand(8, {0x30, 0x01}); }
CameraCommand CameraLoaderEntryCommand() { return MakeCameraCommand(1, {0x01, 0x04, 0xAA, 0xAA}); }
CameraCommand ControlLoaderEntryCommand() { return MakeCameraCommand(1, {0xAA, 0xBB, 0x00}); }

CommandReply CameraAddressSet(JobContext* job) {
  CommandReply result = CommandReply::Unanswered;
  const CameraCommand command = AddressSetCommand();
  for (int32_t attempt = 0; attempt < ADDRESS_SET_ATTEMPTS && result != CommandReply::Answered; ++attempt) {
    result = SendCameraCommand(job, &command, WAIT_ADDRESS_SET);
  }
  return result;
}

void EnterCameraLoader(JobContext* job) {
  const CameraCommand command = CameraLoaderEntryCommand();
  static_cast<void>(SendCameraCommand(job, &command, WAIT_NONE));
}

DownloadMode EnterDownloadMode(JobContext* job) {
  // A refused user rate has been reported where it was served; the job goes on.
  static_cast<void>(ChangeBaudRate(&job->Link, job->Request.User_BaudRate));
  const CameraCommand enter = EnterDownloadCommand();
  // The job goes on without the reply: the baud change and what follows tell.
  const bool answered = SendCameraCommand(job, &enter, WAIT_ACK_AND_COMPLETION) == CommandReply::Answered;
  if (ChangeBaudRate(&job->Link, DOWNLOAD_BAUD_RATE) == RateSet::Refused) return DownloadMode::BaudRefused;
  return answered ? DownloadMode::Entered : DownloadMode::Unanswered;
}
