// The demo host's capture: loading, the channels it names, and the player
// thread that feeds the host's filter.
#include "demo/demo_capture.h"

#include "core/decoder_setup.h"
#include "core/dvb_layout.h"
#include "core/portal_lock.h"
#include "core/portal_table.h"
#include "core/section_decoder.h"
#include "host/stand_in_host.h"
#include "stream/sample_stream.h"

#include <cerrno>
#include <cstring>

volatile LONG Demo_Player_Loops = 0;

namespace {

bool Open_Reader(const Demo_Capture &capture, Ts_Reader &reader) {
  if (capture.Path.empty()) {
    Open_Ts_Memory(reader, capture.Sample.data(), capture.Sample.size());
    return true;
  }
  return Open_Ts_File(reader, capture.Path.c_str());
}

// The ids of each EIT section whose header lies whole in a payload that
// starts a section, up to its transport_stream_id.
void Note_Section_Headers(Demo_Capture &capture, const uint8_t *payload, int32_t size) {
  constexpr int32_t Ids_End = Eit_Transport_Stream_Id_Offset + 2;
  for (int32_t at = Pointer_Field_Size + payload[0]; at + Ids_End <= size;) {
    const uint8_t *section = payload + at;
    const uint8_t table_id = section[Section_Table_Id_Offset];
    if (table_id == Stuffing_Byte)
      return;
    if (Is_Eit_Table_Id(table_id))
      Add_Demo_Channel(
          capture, static_cast<uint16_t>(Big_Endian_16(section + Eit_Transport_Stream_Id_Offset)),
          static_cast<uint16_t>(Big_Endian_16(section + Eit_Service_Id_Offset)));
    at += Section_Size_At(section);
  }
}

// One pass over the capture: packet counts and section headers.
bool Scan_Headers(Demo_Capture &capture, std::string &error) {
  Ts_Reader reader;
  if (!Open_Reader(capture, reader)) {
    error = "cannot open " + capture.Path + ": " + std::strerror(errno);
    return false;
  }
  const uint8_t *payload = nullptr;
  int32_t size = 0;
  Ts_Read_Result status;
  while ((status = Next_Ts_Payload(reader, Eit_Pid, &payload, &size)) == Ts_Read_Result::Payload) {
    ++capture.Eit_Packets;
    if (reader.Unit_Start && size > 0)
      Note_Section_Headers(capture, payload, size);
  }
  const int saved_errno = errno;
  capture.Packets = reader.Packets;
  const uint64_t damaged_packets = reader.Error_Packets;
  Close_Ts_Reader(reader);
  const std::string name = capture.Path.empty() ? "the sample" : capture.Path;
  if (status == Ts_Read_Result::Read_Error)
    error = "cannot read " + name + ": " + std::strerror(saved_errno);
  else if (status == Ts_Read_Result::Not_Transport_Stream)
    error = name + " is not a transport stream (no 0x47 sync at 188-byte spacing)";
  else if (capture.Eit_Packets == 0 && damaged_packets > 0)
    // The reader skips damaged packets, so some of those may have been on
    // PID 0x12: say what is known, not that there were none.
    error = name + " holds no usable packets on PID 0x12 (" + std::to_string(damaged_packets) +
            " of its " + std::to_string(capture.Packets) +
            " packets are flagged with the transport error indicator and skipped)";
  else if (capture.Eit_Packets == 0)
    error = name + " holds no packets on PID 0x12";
  return error.empty();
}

// The list the demo's own decoder takes, by the table's rule.
struct Demo_Row {
  Portal_Row Entries{};
  int32_t Count = 0;
  Shown_List Shown;
};

void Keep_Demo_Row(const Decoded_List &list, void *context) {
  Demo_Row &row = *static_cast<Demo_Row *>(context);
  row.Count = Apply_Decoded_List(row.Entries, row.Count, row.Shown, list);
}

Shown_List Demo_Row_Shows(int32_t, void *context) {
  return static_cast<Demo_Row *>(context)->Shown;
}

// Runs the capture through a decoder armed for `portal` (as portal-scan
// does) and adds the entries it decodes.
void Scan_Portal_Entries(Demo_Capture &capture, int portal) {
  Ts_Reader reader;
  if (!Open_Reader(capture, reader))
    return;
  static Section_Decoder decoder; // 32 KB: kept off the stack
  Demo_Row row;
  const Decoder_Owner owner{Keep_Demo_Row, Demo_Row_Shows, nullptr, &row};
  Set_Up_Portal_Decoder(decoder, portal);
  const uint8_t *payload = nullptr;
  int32_t size = 0;
  while (!decoder.Scan_Idle &&
         Next_Ts_Payload(reader, Eit_Pid, &payload, &size) == Ts_Read_Result::Payload)
    Feed_Section_Decoder(decoder, size, payload, owner);
  Close_Ts_Reader(reader);
  for (int i = 0; i < row.Count; ++i) {
    const Portal_Entry &entry = row.Entries[i];
    if (entry.Transport_Stream_Id != 0 && entry.Service_Id != 0)
      Add_Demo_Channel(capture, static_cast<uint16_t>(entry.Transport_Stream_Id),
                       static_cast<uint16_t>(entry.Service_Id));
  }
}

// ---- the player ------------------------------------------------------------

const Demo_Capture *Played = nullptr;
int Packets_Per_Period = 0;
HANDLE Player_Thread = nullptr;
HANDLE Player_Stop = nullptr;

void Deliver(const uint8_t *payload, int32_t size) {
  const Section_Data_Callback callback = Host_Filter_Callback;
  if (Host_Filter_Open && callback != nullptr)
    callback(0, size, payload);
}

DWORD WINAPI Player_Main(LPVOID) {
  Ts_Reader reader;
  Open_Reader(*Played, reader);
  const uint8_t *payload = nullptr;
  int32_t size = 0;
  while (WaitForSingleObject(Player_Stop, Play_Period_Ms) == WAIT_TIMEOUT) {
    for (int sent = 0; sent < Packets_Per_Period;) {
      if (Next_Ts_Payload(reader, Eit_Pid, &payload, &size) != Ts_Read_Result::Payload) {
        Close_Ts_Reader(reader);
        InterlockedIncrement(&Demo_Player_Loops);
        if (!Open_Reader(*Played, reader))
          return 1;
        continue;
      }
      Deliver(payload, size);
      ++sent;
    }
  }
  Close_Ts_Reader(reader);
  return 0;
}

} // namespace

void Add_Demo_Channel(Demo_Capture &capture, uint16_t transport_stream_id, uint16_t service_id) {
  if (!Demo_Channel_Known(capture, transport_stream_id, service_id))
    capture.Channels.push_back(Demo_Channel{transport_stream_id, service_id});
}

bool Demo_Channel_Known(const Demo_Capture &capture, uint16_t transport_stream_id,
                        uint16_t service_id) {
  for (const Demo_Channel &channel : capture.Channels)
    if (channel.Transport_Stream_Id == transport_stream_id && channel.Service_Id == service_id)
      return true;
  return false;
}

bool Load_Demo_Capture(Demo_Capture &capture, const char *path, std::string &error) {
  capture = Demo_Capture{};
  if (path != nullptr)
    capture.Path = path;
  else
    capture.Sample = Make_Sample_Stream();
  if (!Scan_Headers(capture, error))
    return false;
  Create_Portal_Lock();
  for (int portal = 0; portal < Portal_Total; ++portal)
    Scan_Portal_Entries(capture, portal);
  Delete_Portal_Lock();
  return true;
}

bool Start_Demo_Player(const Demo_Capture &capture, int packets_per_period) {
  Played = &capture;
  Packets_Per_Period = packets_per_period;
  Player_Stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (Player_Stop == nullptr)
    return false;
  Player_Thread = CreateThread(nullptr, 0, Player_Main, nullptr, 0, nullptr);
  return Player_Thread != nullptr;
}

void Stop_Demo_Player() {
  if (Player_Thread == nullptr)
    return;
  SetEvent(Player_Stop);
  WaitForSingleObject(Player_Thread, INFINITE);
  CloseHandle(Player_Thread);
  CloseHandle(Player_Stop);
  Player_Thread = nullptr;
  Player_Stop = nullptr;
}
