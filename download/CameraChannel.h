// The camera command channel: VISCA-framed commands and their reply waits.
#pragma once

#include <cstdint>

#include <initializer_list>

#include "JobContext.h"

constexpr int32_t DOWNLOAD_BAUD_RATE = 115200;  // the camera's download mode and both loaders

struct CameraCommand {
  uint8_t address;
  uint8_t payload[15];
  int32_t length;  // whole packet, header and terminator included: 2 to 16
};

// Wait modes of SendCameraCommand.
enum : uint32_t {
  WAIT_NONE = 0,
  WAIT_ACK_AND_COMPLETION = 1,
  WAIT_ACK = 2,
  WAIT_COMPLETION = 3,
  WAIT_ADDRESS_SET = 4,
};

// A command to address with the given payload; its length (header and
// terminator included) follows from the payload, so the two cannot disagree.
CameraCommand MakeCameraCommand(uint8_t address, std::initializer_list<uint8_t> payload);

// Every camera command the tool sends (the version writes are built by the
// DSP download from the image's version field).
CameraCommand EnterDownloadCommand();   // 81 01 04 75 BB CC DD FF
CameraCommand BlockAnnounceCommand();   // 81 01 04 99 AB FF
CameraCommand AddressSetCommand();      // 88 30 01 FF
CameraCommand CameraLoaderEntryCommand();   // 81 01 04 AA AA FF
CameraCommand ControlLoaderEntryCommand();  // 81 AA BB 00 FF

// One scan of Rx_Buffer from its first byte for the reply that mode awaits,
// z being the reply header: whether it is there.
bool ScanCameraReply(JobContext* job, uint32_t mode, uint8_t z);

enum class CommandReply { Answered, Unanswered };
// Answered when the mode's reply came (never in modes that await nothing).
[[nodiscard]] CommandReply SendCameraCommand(JobContext* job, const CameraCommand* command, uint32_t mode);
// The broadcast address set, up to six attempts.
[[nodiscard]] CommandReply CameraAddressSet(JobContext* job);
// Download mode: the enter-download command at the user's rate, then the
// line to 115200.
enum class DownloadMode {
  Entered,     // the camera answered the enter-download
  Unanswered,  // no answer: the camera may be elsewhere, or a loader has the line
  BaudRefused,  // the change to 115200 was refused (reported where it was served)
};
[[nodiscard]] DownloadMode EnterDownloadMode(JobContext* job);
// The camera board's loader entry, awaiting nothing: the loader's PING tells.
void EnterCameraLoader(JobContext* job);
