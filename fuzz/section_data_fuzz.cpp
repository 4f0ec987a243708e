// Fuzz target for the data callback. The input is a little program: each
// step's control byte chooses what the host or the window does next (feed a
// chunk of the following bytes, re-arm, disarm, change channel, change the
// shown portal, reset the table, stop or start the filter); after every
// step the table and buffer must still be within their bounds.
#include "core/decoder_setup.h"
#include "core/plugin_decoder.h"
#include "core/plugin_state.h"
#include "core/portal_table.h"

#include <cstdlib>
#include <cstring>

static void Check_Invariants() {
  if (Plugin_Decoder.Fill < 0 || Plugin_Decoder.Fill > Section_Buffer_Size)
    std::abort();
  for (int portal = 0; portal < Portal_Total; ++portal) {
    const int32_t count = Portal_Count[portal];
    if (count < 0 || count > Portal_Entry_Total)
      std::abort();
    for (const Portal_Entry &entry : Portal_Table[portal]) {
      if (std::memchr(entry.Name, 0, Portal_Name_Size) == nullptr)
        std::abort(); // every name stays NUL-terminated
      if (entry.Transport_Stream_Id < 0 || entry.Transport_Stream_Id > 0xFFFF ||
          entry.Service_Id < 0 || entry.Service_Id > 0xFFFF)
        std::abort();
    }
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  Arm_Decoder_For_Portal(0);
  size_t at = 0;
  while (at < size) {
    const uint8_t control = data[at++];
    switch (control & 7) {
    case 0:
    case 1:
    case 2:
    case 3: { // feed: chunk size from the low bits and next byte
      size_t n = (static_cast<size_t>(control >> 3) << 8) | (at < size ? data[at++] : 0);
      if (n > size - at)
        n = size - at;
      On_Section_Data(0, static_cast<int32_t>(n), data + at);
      at += n;
      break;
    }
    case 4:
      Arm_Section_Decoder(Plugin_Decoder);
      break;
    case 5:
      Disarm_Section_Decoder(Plugin_Decoder);
      break;
    case 6: // channel change, or a portal change from ">>"
      if (control & 8) {
        Plugin_Decoder.First_Chunk_Seen = 0;
        Arm_Section_Decoder(Plugin_Decoder);
      } else {
        Current_Portal = (Current_Portal + 1) % Portal_Total;
      }
      break;
    case 7:
      if (control & 8)
        Reset_Portal_Table();
      else
        Filter_Running = (control >> 4) & 1;
      break;
    }
    Check_Invariants();
  }
  return 0;
}
