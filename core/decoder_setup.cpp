// Putting the core into the states the plug-in passes through.
#include "core/decoder_setup.h"

#include "core/plugin_decoder.h"
#include "core/plugin_session.h"
#include "core/plugin_state.h"
#include "core/portal_table.h"

void Reset_Core_State() {
  Reset_Plugin_State();
  Reset_Plugin_Session();
  Reset_Portal_Table();
  Clear_Scan_Portal(Plugin_Decoder);
  Reset_Portal_Counts();
  Plugin_Decoder.Portal = Follow_Shown_Portal;
  Reset_Section_Decoder(Plugin_Decoder);
}

void Arm_Decoder_For_Portal(int portal) {
  Reset_Core_State();
  Current_Portal = portal;
  Filter_Running = 1;
  Restart_Section_Buffer(Plugin_Decoder);
  Arm_Section_Decoder(Plugin_Decoder);
}

void Set_Up_Portal_Decoder(Section_Decoder &decoder, int portal) {
  decoder.Portal = portal;
  Reset_Section_Decoder(decoder);
  Arm_Section_Decoder(decoder);
}
