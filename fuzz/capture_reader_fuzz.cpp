// Fuzz target for the capture reader, and the decoder behind it as
// portal-scan drives them. The first byte sets how many bytes each read of
// the source hands over (so refills fall anywhere), the second the portal;
// the rest is the capture. Every payload must lie inside the reader's buffer
// and inside a packet, and every consumed byte must be a packet's or a
// skipped one.
#include "core/decoder_setup.h"
#include "core/dvb_layout.h"
#include "core/plugin_decoder.h"
#include "core/plugin_state.h"
#include "core/portal_table.h"
#include "stream/ts_reader.h"

#include <cstdlib>

static void Check(bool holds) {
  if (!holds)
    std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2)
    return 0;
  Ts_Reader reader;
  Open_Ts_Memory(reader, data + 2, size - 2);
  reader.Read_Limit = data[0] == 0 ? Ts_Reader_Buffer_Size : data[0];
  Arm_Decoder_For_Portal(data[1] % Portal_Total);
  const uint8_t *payload = nullptr;
  int32_t n = 0;
  Ts_Read_Result result;
  while ((result = Next_Ts_Payload(reader, Eit_Pid, &payload, &n)) == Ts_Read_Result::Payload) {
    Check(n >= 1 && n <= Ts_Payload_Size);
    Check(payload >= reader.Buffer.data() && payload + n <= reader.Buffer.data() + reader.Start);
    Check(reader.Start <= reader.End && reader.End <= reader.Buffer.size());
    On_Section_Data(0, n, payload);
    if (Plugin_Decoder.Scan_Idle)
      Arm_Decoder_For_Portal(data[1] % Portal_Total); // decode again, as the timer re-arms it
    Check(Plugin_Decoder.Fill >= 0 && Plugin_Decoder.Fill <= Section_Buffer_Size);
  }
  Check(result == Ts_Read_Result::End || result == Ts_Read_Result::Not_Transport_Stream);
  Check(reader.Offset + reader.Missing_Prefix ==
        reader.Packets * reader.Packet_Size + reader.Skipped_Bytes);
  Check(reader.Offset <= size - 2);
  Check(reader.Error_Packets <= reader.Packets);
  Check((result == Ts_Read_Result::Not_Transport_Stream) == !reader.Ever_Synced);
  Close_Ts_Reader(reader);
  return 0;
}
