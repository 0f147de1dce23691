// Boot-loader download of the camera board (target 1) and the control board
// (target 2) through the serial flash loader protocol at 115200 baud.
#pragma once

#include <cstdint>

#include "JobContext.h"

constexpr int32_t LOADER_PACKET_BUFFER = 1024;
constexpr int32_t LOADER_CHUNK = 76;

int32_t BuildPingPacket(TDownloadJobContext* form, uint8_t* packet);
int32_t BuildDownloadPacket(TDownloadJobContext* form, uint8_t* packet, int32_t address, int32_t length);
int32_t BuildGetStatusPacket(TDownloadJobContext* form, uint8_t* packet);
int32_t BuildSendDataPacket(TDownloadJobContext* form, uint8_t* packet, const uint8_t* data, int32_t n);
int32_t BuildResetPacket(TDownloadJobContext* form, uint8_t* packet);

// One scan of Rx_Buffer each: the first ACK (204) or NAK (51); the first
// status reply (64 for success, else its status byte); -1 for nothing.
int32_t ScanLoaderAck(TDownloadJobContext* form);
int32_t ScanLoaderStatus(TDownloadJobContext* form);
int32_t WaitLoaderAck(TDownloadJobContext* form, int32_t polls);
int32_t WaitLoaderStatus(TDownloadJobContext* form, int32_t polls);
void ResyncLoader(TDownloadJobContext* form);
int32_t PingLoader(TDownloadJobContext* form);
int32_t PrepareControlBoard(TDownloadJobContext* form);
// DownloadByLoader's result when the whole image is in but the board did not
// confirm its restart: its loader may still be listening.
constexpr int32_t LOADER_RESTART_UNCONFIRMED = 1;
// RESET packets sent before a restart counts as unconfirmed.
constexpr int32_t LOADER_RESET_TRIES = 6;

int32_t DownloadByLoader(TDownloadJobContext* form, int32_t target, const uint8_t* image, int32_t length);
