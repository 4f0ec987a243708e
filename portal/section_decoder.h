// The data callback and the section decoder. The host hands us the bytes of
// its PID 0x12 filter; we gather them in Section_Buffer and, while armed,
// look there for the EIT section 0 of the portal the window shows and turn
// its portal linkage descriptors into that portal's table entries.
#pragma once

#include "plugin/host_contract.h"

#include <array>
#include <cstdint>

constexpr int32_t Section_Buffer_Size = 32000; // most bytes ever held
constexpr int32_t Scan_Threshold = 920;        // bytes gathered before a scan

// Room behind the buffered bytes that a decode may write or read: the 12
// zero bytes behind the section and the name copy of a descriptor near its
// end stay within L + 22 for the largest section length L = 4095, far inside
// the buffer.
constexpr int32_t Section_Length_Max = 0x0FFF;
static_assert(Section_Length_Max + 22 < Section_Buffer_Size, "decode stays in the buffer");

extern std::array<uint8_t, Section_Buffer_Size> Section_Buffer;
extern int32_t Fill; // valid bytes at the front of Section_Buffer

// The callback the host calls with each piece of filtered data. The first
// argument is ignored; n is the byte count.
void HOST_CALL On_Section_Data(uint32_t ignored, int32_t n, const uint8_t *bytes);
