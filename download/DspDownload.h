// DSP image download: header test, 64-byte nibble-coded block packets, version.
#pragma once

#include <cstdint>
#include <optional>

#include "CameraChannel.h"
#include "JobContext.h"
#include "Results.h"

// Whether the image starts with the DSP signature (its first 12 bytes sum to 731).
[[nodiscard]] bool CheckDSPHeader(const uint8_t* image);
enum class BlockWrite { Written, NotWritten };
[[nodiscard]] BlockWrite WriteDSPBlock(JobContext* job, uint16_t address, const uint8_t* data, uint32_t count);
[[nodiscard]] JobResult DownloadDSP(JobContext* job, const uint8_t* image, int32_t size);

// One scan of Rx_Buffer for the reply to a block packet: 0x90 0x5y 0x01 0xFF
// written, 0x90 0x5y 0x00 0xFF refused, nothing for neither; the first
// position that holds either decides.
enum class BlockReply { Refused, Written };
std::optional<BlockReply> ScanBlockReply(JobContext* job);

// Builds the block packet into packet (room for 160 bytes); returns its length,
// or nothing for more than the 75 data bytes that fit.
std::optional<int32_t> BuildDSPBlockPacket(uint8_t* packet, uint16_t address, const uint8_t* data, uint32_t count);
// The version write of pair 0 (bytes F0 F1 of the version field) or pair 1
// (F2 F3): payload 0x01 0x04 0xAA 0xEE pair, then the nibbles of high and low.
void BuildDSPVersionCommand(CameraCommand* command, uint8_t pair, uint8_t low, uint8_t high);
