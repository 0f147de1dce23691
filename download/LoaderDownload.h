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

int32_t WaitLoaderAck(TDownloadJobContext* form, int32_t polls);
int32_t WaitLoaderStatus(TDownloadJobContext* form, int32_t polls);
void ResyncLoader(TDownloadJobContext* form);
int32_t PingLoader(TDownloadJobContext* form);
int32_t PrepareControlBoard(TDownloadJobContext* form);
int32_t DownloadByLoader(TDownloadJobContext* form, int32_t target, const uint8_t* image, int32_t length);
