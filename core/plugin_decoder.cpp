// The plug-in's decoder and its data callback: the decoder's work, inlined,
// gated by the plug-in's flags, its lists written into Portal_Table.
#include "core/plugin_decoder.h"

#include "core/plugin_state.h"
#include "core/portal_lock.h"
#include "core/portal_table.h"
#include "core/section_feed.h"

namespace {

// A decode that finds Portal_Lock gone (On_Exit has deleted it) writes
// nothing: the session is over and the table is no longer ours to write.
void Write_Portal_Table(const Decoded_List &list, void *) {
  Portal_Lock_Scope lock;
  if (!lock.Taken)
    return;
  Portal_Count[list.Portal] = Apply_Decoded_List(
      Portal_Table[list.Portal], Portal_Count[list.Portal], Portal_Shown[list.Portal], list);
}

Shown_List Portal_Table_Shows(int32_t portal, void *) {
  Portal_Lock_Scope lock;
  return Portal_Shown[portal];
}

void Tell_Listener(const Decoder_Event &event, void *) {
  if (Plugin_Decoder_Listener.Observe != nullptr)
    Plugin_Decoder_Listener.Observe(event, Plugin_Decoder_Listener.Context);
}

} // namespace

Section_Decoder Plugin_Decoder;
Decoder_Listener Plugin_Decoder_Listener;
const Decoder_Owner Plugin_Decoder_Owner{Write_Portal_Table, Portal_Table_Shows,
                                         Decoder_Events ? Tell_Listener : nullptr, nullptr};

void HOST_CALL On_Section_Data(uint32_t, int32_t n, const uint8_t *bytes) {
  // In the 32-bit module the decoder's address is held in a register the
  // compiler may not see through, so each of its fields is a short offset
  // from it rather than an absolute address: there each absolute address
  // is a relocation the loader fixes up, and both cost room in its 16 KB.
  // (A 64-bit build addresses it relative to the code at no cost.)
  Section_Decoder *decoder = &Plugin_Decoder;
#if defined(__i386__)
  asm("" : "+r"(decoder));
#endif
  Feed_Chunk(
      *decoder, n, bytes, [] { return !Exiting && Filter_Running; }, Plugin_Decoder_Owner);
}
