#include "stream/decoder_setup.h"

#include "plugin/plugin_state.h"
#include "portal/portal_table.h"
#include "portal/section_decoder.h"

void Arm_Decoder_For_Portal(int portal) {
  Reset_Plugin_State();
  Reset_Portal_Table();
  for (auto &count : Portal_Count)
    count = 0;
  Fill = 0;
  Current_Portal = portal;
  Filter_Running = 1;
  First_Chunk_Seen = 0;
  Scan_Idle = 0;
}
