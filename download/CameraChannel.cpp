#include "CameraChannel.h"

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "SerialLink.h"

namespace {

constexpr int32_t REPLY_POLLS = 1000;
constexpr int32_t ADDRESS_SET_POLLS = 30;
constexpr int32_t ADDRESS_SET_ATTEMPTS = 6;

uint8_t At(TDownloadJobContext* form, uint32_t i) { return form->Rx_Buffer[i].load(std::memory_order_relaxed); }
bool High(uint8_t b, uint8_t nibble) { return (b & 0xF0) == nibble; }

}  // namespace

int32_t ScanCameraReply(TDownloadJobContext* form, uint32_t mode, uint8_t z) {
  switch (mode) {
    case WAIT_ACK_AND_COMPLETION:
      for (uint32_t i = 0; RxReceived(form, i, 5); ++i) {
        if (At(form, i) == z && High(At(form, i + 1), 0x40) && At(form, i + 2) == 0xFF && At(form, i + 3) == z &&
            High(At(form, i + 4), 0x50) && At(form, i + 5) == 0xFF)
          return 0;
      }
      return -1;
    case WAIT_ACK:
      for (uint32_t i = 0; RxReceived(form, i, 1); ++i) {
        if (At(form, i) == z && High(At(form, i + 1), 0x40)) return 0;
      }
      return -1;
    case WAIT_COMPLETION:
      // The completion z 5y is taken with its terminator: a DSP block reply
      // (z 5y 01 FF) that comes late must not pass for the completion of the
      // next block's announce.
      for (uint32_t i = 0; RxReceived(form, i, 2); ++i) {
        if (At(form, i) == z && High(At(form, i + 1), 0x50) && At(form, i + 2) == 0xFF) return 0;
      }
      return -1;
    case WAIT_ADDRESS_SET:
      for (uint32_t i = 0; RxReceived(form, i, 3); ++i) {
        if (At(form, i) == 0x88 && At(form, i + 1) == 0x30 && At(form, i + 2) == 0x02 && At(form, i + 3) == 0xFF)
          return 0;
      }
      return -1;
    default:
      return -1;
  }
}

namespace {

// A baud change the window thread could not apply is followed by an address
// set from there (see ServeBaudRequest).
const bool addressSetRegistered = (SetBaudFailureAddressSet(&CameraAddressSet), true);

}  // namespace

int32_t SendCameraCommand(TDownloadJobContext* form, const CameraCommand* command, uint32_t mode) {
  (void)addressSetRegistered;
  // No sender uses a length outside 2 to 16; such a descriptor is refused
  // before anything goes out rather than overrunning the packet buffer.
  if (command->length < 2 || command->length > 16) return -1;
  const int32_t polls = mode == WAIT_ADDRESS_SET ? ADDRESS_SET_POLLS : REPLY_POLLS;

  uint8_t packet[16];
  std::memset(packet, 0xFF, sizeof packet);
  packet[0] = static_cast<uint8_t>(0x80 + command->address);
  std::memcpy(packet + 1, command->payload, static_cast<size_t>(command->length - 2));
  packet[command->length - 1] = 0xFF;
  const uint8_t z = static_cast<uint8_t>(16 * command->address + 0x80);

  // The window thread's address set and the worker's commands share the
  // buffer: one command's reset, write and wait stay whole.
  std::lock_guard<std::recursive_mutex> hold(form->Sender_Lock);
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ResetReply(form);
  if (WriteComm(form, packet, command->length) != command->length) return -1;
  if (mode == WAIT_NONE || mode > WAIT_ADDRESS_SET) return -1;
  return PollForReply(polls, [&] { return ScanCameraReply(form, mode, z); });
}

int32_t CameraAddressSet(TDownloadJobContext* form) {
  int32_t result = -1;
  for (int32_t attempt = 0; attempt < ADDRESS_SET_ATTEMPTS; ++attempt) {
    CameraCommand command;
    std::memset(&command, 0, sizeof command);
    command.address = 8;
    command.payload[0] = 0x30;
    command.payload[1] = 0x01;
    command.length = 4;
    result = SendCameraCommand(form, &command, WAIT_ADDRESS_SET);
    if (result == 0) break;
  }
  return result;
}

int32_t EnterCameraLoader(TDownloadJobContext* form) {
  CameraCommand command;
  std::memset(&command, 0, sizeof command);
  command.address = 1;
  command.payload[0] = 0x01;
  command.payload[1] = 0x04;
  command.payload[2] = 0xAA;
  command.payload[3] = 0xAA;
  command.length = 6;
  return SendCameraCommand(form, &command, WAIT_NONE);
}
