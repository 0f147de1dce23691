// DSP image download: header test, 64-byte nibble-coded block packets, version.
#pragma once

#include <cstdint>

#include "JobContext.h"

int32_t CheckDSPHeader(const uint8_t* image);
int32_t WriteDSPBlock(TDownloadJobContext* form, uint16_t address, const uint8_t* data, uint32_t count);
int32_t DownloadDSP(TDownloadJobContext* form, const uint8_t* image, int32_t size);

// Builds the block packet into packet (room for 160 bytes); returns its length.
int32_t BuildDSPBlockPacket(uint8_t* packet, uint16_t address, const uint8_t* data, uint32_t count);
