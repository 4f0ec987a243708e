// A model of the plain decoder: the plug-in's scan without any CRC check,
// written as plainly as the rule reads (gather, wait for 920 bytes, walk
// byte by byte for a zero byte and the source header behind it, keep an
// incomplete candidate or the last 13 bytes, decode the first complete one
// as it stands). The tests run it beside the real decoder: wherever the
// plain decoder shows a list, the plug-in must show it no later and no
// worse.
#pragma once

#include "core/portal_table.h"
#include "stream/eit_writer.h"

#include <cstdint>

struct Plain_Decoder {
  int Portal = 0;
  Byte_Vector Buffer;
  bool Decoded = false; // it decodes once, then takes nothing more
  int32_t Count = 0;
  Portal_Row Entries{};
};

// A plain decoder armed for `portal` on an empty buffer, its row at the
// portal's default.
Plain_Decoder Plain_Decoder_For(int portal);

// Hands it one chunk, as the host hands the filter's payloads; says whether
// this chunk made it decode.
bool Plain_Feed(Plain_Decoder &decoder, const uint8_t *bytes, std::size_t n);
