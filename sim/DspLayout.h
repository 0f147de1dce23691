// Where a DSP image's parts are, as the unit knows them: the unit's own
// statement, kept apart from the tool's, so that the simulated unit stays an
// independent check of what the tool sends. The try-out script asks
// lumo-unit-sim --dsp-layout for these numbers.
#pragma once

#include <cstdint>

namespace sim {

constexpr int32_t DSP_HEADER_SIZE = 132;       // the file's header, never sent
constexpr int32_t DSP_BODY_SIZE = 24448;       // what the DSP receives
constexpr int32_t DSP_VERSION_OFFSET = 31947;  // four bytes F0 F1 F2 F3 in the file
constexpr int32_t DSP_SAMPLE_SIZE = DSP_VERSION_OFFSET + 4;
constexpr uint16_t DSP_FIRST_ADDRESS = 0x0080;  // the body's first byte
constexpr uint32_t DSP_END_ADDRESS = 0x6000;    // exclusive
static_assert(DSP_FIRST_ADDRESS + DSP_BODY_SIZE == DSP_END_ADDRESS);

}  // namespace sim
