// The native builds' CRC-32 of core/section_crc.h. The section_crc library
// compiles section_crc_fast.cpp in place of the compact table routine the
// plug-in's DLL keeps: Mpeg_Crc32_Update there folds 64 bytes a step with
// carry-less multiplication (PCLMULQDQ) where the processor has it, and
// takes eight bytes a step through eight tables where not. The choice is
// made once, at the first call, from what the processor reports, so one
// binary runs on processors with and without the instruction.
//
// Each method is reachable by itself, so the tests can check every one the
// processor has against the bitwise definition.
#pragma once

#include <cstddef>
#include <cstdint>

enum class Crc_Method {
  Sliced, // eight bytes a step through eight tables of 256 entries
  Folded, // 64 bytes a step by carry-less multiplication; needs PCLMULQDQ and SSSE3
};

// Whether this processor can run `method`.
bool Crc_Method_Available(Crc_Method method);

// Mpeg_Crc32_Update by `method`, which must be available.
uint32_t Mpeg_Crc32_Update_By(Crc_Method method, uint32_t crc, const uint8_t *bytes,
                              std::size_t size);
