// Arming decoders the way the plug-in does, for the tools, tests, fuzz
// targets, benchmarks and the demo that run the core outside a host.
#pragma once

#include "core/plugin_decoder.h"

// Everything as at load: the plug-in state and session, every portal back
// to its default entry with Portal_Count 0, and the plug-in's decoder
// disarmed on an empty buffer, following the shown portal.
void Reset_Core_State();

// The state at load, then as when the window shows `portal`, the filter
// runs and a channel change has just armed the plug-in's decoder: its first
// chunk still to come.
void Arm_Decoder_For_Portal(int portal);

// Binds `decoder` to `portal` and arms it as a channel change does: an empty
// buffer, the first chunk still to come. The table is not touched.
void Set_Up_Portal_Decoder(Section_Decoder &decoder, int portal);
