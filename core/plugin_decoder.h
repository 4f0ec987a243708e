// The plug-in's own decoder and the data callback the host calls with its
// filter's bytes. The decoder follows the portal the window shows and takes
// data only while the host's filter runs and the plug-in is not exiting;
// what it decodes goes into Portal_Table.
#pragma once

#include "core/host_contract.h"
#include "core/section_decoder.h"

#include <cstdint>

// The plug-in's decoder, fed by On_Section_Data.
extern Section_Decoder Plugin_Decoder;

// The owner of the plug-in's decoder: it writes each decoded list into
// Portal_Table, Portal_Count and Portal_Shown under Portal_Lock, and says
// what a portal shows by Portal_Shown.
extern const Decoder_Owner Plugin_Decoder_Owner;

// Who listens to the plug-in's decoder's steps: nobody at load. Native
// builds tell it every step (the tests listen); the DLL tells nothing.
struct Decoder_Listener {
  void (*Observe)(const Decoder_Event &event, void *context);
  void *Context;
};
extern Decoder_Listener Plugin_Decoder_Listener;

// The callback the host calls with each piece of filtered data. The first
// argument is ignored; n is the byte count. Feeds Plugin_Decoder.
void HOST_CALL On_Section_Data(uint32_t ignored, int32_t n, const uint8_t *bytes);
