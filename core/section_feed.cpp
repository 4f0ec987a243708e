// A tool's decoder takes every chunk: the feed without the plug-in's gate.
#include "core/section_feed.h"

void Feed_Section_Decoder(Section_Decoder &decoder, int32_t n, const uint8_t *bytes,
                          const Decoder_Owner &owner) {
  Feed_Chunk(
      decoder, n, bytes, [] { return true; }, owner);
}
