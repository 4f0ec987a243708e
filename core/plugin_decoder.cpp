// The plug-in's decoder and its data callback: the decoder's work, inlined,
// gated by the plug-in's flags.
#include "core/plugin_decoder.h"

#include "core/plugin_state.h"
#include "core/section_feed.h"

Section_Decoder Plugin_Decoder;

void HOST_CALL On_Section_Data(uint32_t, int32_t n, const uint8_t *bytes) {
  Feed_Chunk(Plugin_Decoder, n, bytes, [] { return !Exiting && Filter_Running; });
}
