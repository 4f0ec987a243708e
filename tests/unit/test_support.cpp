#include "tests/unit/test_support.h"

#include "stream/ts_reader.h"

#include <algorithm>
#include <cstring>

namespace {

Decoded_List Last_List;

void Hear_Decode(const Decoder_Event &event, void *) {
  if (event.Step == Decoder_Step::Decoded)
    Last_List = *event.List;
}

} // namespace

void Arm_Decoder(int portal) {
  Arm_Decoder_For_Portal(portal);
  Last_List = Decoded_List{};
  Plugin_Decoder_Listener = {Hear_Decode, nullptr};
}

const Decoded_List &Last_Decoded() {
  return Last_List;
}

std::vector<Portal_Listing_Entry> Numbered_Entries(int count) {
  std::vector<Portal_Listing_Entry> entries;
  for (int i = 0; i < count; ++i)
    entries.push_back({static_cast<uint16_t>(4 + i), static_cast<uint16_t>(1000 + i),
                       "Kanal " + std::to_string(i)});
  return entries;
}

Byte_Vector Payload_Of(const Byte_Vector &section) {
  // The pointer field 0, then the section.
  Byte_Vector payload(section.size() + Pointer_Field_Size, 0x00);
  std::copy(section.begin(), section.end(), payload.begin() + Pointer_Field_Size);
  return payload;
}

Byte_Vector Portal_Payload(int portal, const std::vector<Portal_Listing_Entry> &entries,
                           std::size_t padding) {
  Byte_Vector payload = Payload_Of(Build_Eit_Section(Portal_Source_Section(portal, entries)));
  payload.resize(payload.size() + padding, Stuffing_Byte);
  return payload;
}

Byte_Vector Other_Section(std::size_t size, char fill) {
  Eit_Section other;
  other.Service_Id = 0x0300;
  other.Transport_Stream_Id = 4;
  other.Events.resize(1);
  const std::size_t bare = Build_Eit_Section(other).size() + 7;
  other.Events[0].Descriptors =
      Short_Event_Descriptor_Bytes("deu", "", std::string(size - bare, fill));
  return Build_Eit_Section(other);
}

void Feed(const Byte_Vector &bytes, std::size_t chunk) {
  for (std::size_t at = 0; at < bytes.size(); at += chunk) {
    const std::size_t n = std::min(chunk, bytes.size() - at);
    On_Section_Data(0, static_cast<int32_t>(n), bytes.data() + at);
  }
}

void Feed_Once(const Byte_Vector &bytes) {
  On_Section_Data(0, static_cast<int32_t>(bytes.size()), bytes.data());
}

Byte_Vector Buffered() {
  return Byte_Vector(Plugin_Decoder.Section_Buffer.begin(),
                     Plugin_Decoder.Section_Buffer.begin() + Plugin_Decoder.Fill);
}

std::string Name_Of(const Portal_Entry &entry) {
  return std::string(entry.Name, strnlen(entry.Name, sizeof entry.Name));
}

bool Row_Holds(const Portal_Row &row, int32_t count,
               const std::vector<Portal_Listing_Entry> &list) {
  if (count != static_cast<int32_t>(list.size()))
    return false;
  for (std::size_t i = 0; i < list.size(); ++i)
    if (Name_Of(row[i]) != list[i].Name || row[i].Service_Id != list[i].Service_Id ||
        row[i].Transport_Stream_Id != list[i].Transport_Stream_Id)
      return false;
  return true;
}

Byte_Vector Filter_Payloads(const Byte_Vector &packets) {
  Byte_Vector payloads;
  Ts_Reader reader;
  Open_Ts_Memory(reader, packets.data(), packets.size());
  const uint8_t *payload = nullptr;
  int32_t size = 0;
  while (Next_Ts_Payload(reader, Eit_Pid, &payload, &size) == Ts_Read_Result::Payload)
    payloads.insert(payloads.end(), payload, payload + size);
  Close_Ts_Reader(reader);
  return payloads;
}
