// A board's serial flash loader as the simulated unit models it: what both
// boards have in common, and the numbers the tests check against.
#pragma once

#include <chrono>
#include <cstdint>

namespace sim {

// Both boards carry a 256 KiB flash part; the loader itself sits below the
// load address, so an image may use 256 KiB - 0x1000 bytes.
constexpr uint32_t LOADER_LOAD_ADDRESS = 0x1000;
constexpr uint32_t LOADER_FLASH_END = 256 * 1024;
constexpr uint32_t LOADER_IMAGE_ROOM = LOADER_FLASH_END - LOADER_LOAD_ADDRESS;
constexpr uint32_t LOADER_PAGE_SIZE = 1024;
// Time to erase one 1 KiB page, in the range of such flash parts.
constexpr std::chrono::milliseconds LOADER_PAGE_ERASE_TIME{10};
// The loader's packet buffer: a size byte above this makes it throw the packet away.
constexpr uint8_t LOADER_MAX_PACKET = 79;
constexpr int LOADER_BAUD_RATE = 115200;

// Status codes kept by the loader and sent on GET_STATUS.
constexpr uint8_t LOADER_STATUS_SUCCESS = 0x40;
constexpr uint8_t LOADER_STATUS_UNKNOWN_CMD = 0x41;
constexpr uint8_t LOADER_STATUS_INVALID_CMD = 0x42;
constexpr uint8_t LOADER_STATUS_INVALID_ADR = 0x43;
constexpr uint8_t LOADER_STATUS_FLASH_FAIL = 0x44;

}  // namespace sim
