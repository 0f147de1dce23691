// The camera command channel: VISCA-framed commands and their reply waits.
#pragma once

#include <cstdint>

#include "JobContext.h"

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

// One scan of Rx_Buffer from its first byte for the reply that mode awaits,
// z being the reply header: 0 when found, -1 otherwise.
int32_t ScanCameraReply(TDownloadJobContext* form, uint32_t mode, uint8_t z);

int32_t SendCameraCommand(TDownloadJobContext* form, const CameraCommand* command, uint32_t mode);
int32_t CameraAddressSet(TDownloadJobContext* form);
int32_t EnterCameraLoader(TDownloadJobContext* form);
