// The layout of a DSP image file and where its body goes in the DSP, as the
// tool reads it.
#pragma once

#include <cstdint>

constexpr int32_t DSP_SIGNATURE_SIZE = 12;   // the first bytes of the file
constexpr uint16_t DSP_SIGNATURE_SUM = 731;  // their sum, each taken as unsigned 8-bit
constexpr int32_t DSP_HEADER_SIZE = 132;     // never sent; the signature is its start
constexpr int32_t DSP_BODY_SIZE = 24448;     // sent, from file offset DSP_HEADER_SIZE
constexpr int32_t DSP_VERSION_OFFSET = 31947;  // four bytes F0 F1 F2 F3
constexpr int32_t DSP_VERSION_END = DSP_VERSION_OFFSET + 4;  // an image must reach this far
constexpr uint16_t DSP_FIRST_ADDRESS = 0x0080;  // where the body's first byte goes
constexpr uint32_t DSP_END_ADDRESS = 0x6000;    // exclusive: DSP_FIRST_ADDRESS + DSP_BODY_SIZE
static_assert(DSP_FIRST_ADDRESS + DSP_BODY_SIZE == DSP_END_ADDRESS);
