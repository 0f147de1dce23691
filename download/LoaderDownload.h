// Boot-loader download of the camera board (target 1) and the control board
// (target 2) through the serial flash loader protocol at 115200 baud.
#pragma once

#include <cstdint>

#include "DownloadJob.h"
#include "Results.h"

constexpr int32_t LOADER_PACKET_BUFFER = 1024;
constexpr int32_t LOADER_CHUNK = 76;

// Each builder does the reply reset, writes its packet into packet and
// returns its length.
int32_t BuildPingPacket(TDownloadJob* form, uint8_t* packet);
int32_t BuildDownloadPacket(TDownloadJob* form, uint8_t* packet, int32_t address, int32_t length);
int32_t BuildGetStatusPacket(TDownloadJob* form, uint8_t* packet);
int32_t BuildSendDataPacket(TDownloadJob* form, uint8_t* packet, const uint8_t* data, int32_t n);
int32_t BuildResetPacket(TDownloadJob* form, uint8_t* packet);

// One scan of Rx_Buffer each: the first ACK or NAK; the first status reply
// (REPLY_SUCCESS, else its status byte); REPLY_NONE for nothing.
[[nodiscard]] int32_t ScanLoaderAck(TDownloadJob* form);
[[nodiscard]] int32_t ScanLoaderStatus(TDownloadJob* form);
[[nodiscard]] int32_t WaitLoaderAck(TDownloadJob* form, int32_t polls);
[[nodiscard]] int32_t WaitLoaderStatus(TDownloadJob* form, int32_t polls);
// REPLY_ACK when the loader acknowledged a PING, else REPLY_NONE.
[[nodiscard]] int32_t PingLoader(TDownloadJob* form);
// Gets the control board's loader listening: REPLY_ACK when it already was,
// 0 after the entry command and the change to 115200, -1 when that change
// was refused.
[[nodiscard]] int32_t PrepareControlBoard(TDownloadJob* form);
// Erases, writes and restarts one board.
[[nodiscard]] JobResult DownloadByLoader(TDownloadJob* form, int32_t target, const uint8_t* image, int32_t length);
