// The plug-in's own decoder and the data callback the host calls with its
// filter's bytes. The decoder follows the portal the window shows and takes
// data only while the host's filter runs and the plug-in is not exiting.
#pragma once

#include "core/host_contract.h"
#include "core/section_decoder.h"

#include <cstdint>

// The plug-in's decoder, fed by On_Section_Data.
extern Section_Decoder Plugin_Decoder;

// The callback the host calls with each piece of filtered data. The first
// argument is ignored; n is the byte count. Feeds Plugin_Decoder.
void HOST_CALL On_Section_Data(uint32_t ignored, int32_t n, const uint8_t *bytes);
