// EIT section writer: header fields, event loop, descriptors, CRC-32.
#include "stream/eit_writer.h"

#include <stdexcept>

static void Put_16(Byte_Vector &out, uint32_t value) {
  out.push_back(static_cast<uint8_t>(value >> 8));
  out.push_back(static_cast<uint8_t>(value));
}

static Byte_Vector Descriptor(uint8_t tag, const Byte_Vector &body) {
  if (body.size() > 255)
    throw std::length_error("descriptor body over 255 bytes");
  Byte_Vector out{tag, static_cast<uint8_t>(body.size())};
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

Byte_Vector Linkage_Descriptor_Bytes(const Linkage_Descriptor &descriptor) {
  Byte_Vector body;
  Put_16(body, descriptor.Transport_Stream_Id);
  Put_16(body, descriptor.Original_Network_Id);
  Put_16(body, descriptor.Service_Id);
  body.push_back(descriptor.Linkage_Type);
  body.insert(body.end(), descriptor.Private_Bytes.begin(), descriptor.Private_Bytes.end());
  return Descriptor(Linkage_Descriptor_Tag, body);
}

Byte_Vector Portal_Descriptor_Bytes(uint16_t transport_stream_id, uint16_t service_id,
                                    const std::string &name) {
  Linkage_Descriptor descriptor;
  descriptor.Transport_Stream_Id = transport_stream_id;
  descriptor.Service_Id = service_id;
  descriptor.Private_Bytes.assign(name.begin(), name.end());
  return Linkage_Descriptor_Bytes(descriptor);
}

Byte_Vector Short_Event_Descriptor_Bytes(const std::string &language, const std::string &name,
                                         const std::string &text) {
  Byte_Vector body(language.begin(), language.end());
  body.resize(3, ' ');
  body.push_back(static_cast<uint8_t>(name.size()));
  body.insert(body.end(), name.begin(), name.end());
  body.push_back(static_cast<uint8_t>(text.size()));
  body.insert(body.end(), text.begin(), text.end());
  return Descriptor(Short_Event_Descriptor_Tag, body);
}

Byte_Vector Build_Eit_Section(const Eit_Section &section) {
  Byte_Vector body; // everything behind section_length, without the CRC
  Put_16(body, section.Service_Id);
  body.push_back(static_cast<uint8_t>(0xC0 | ((section.Version_Number & 0x1F) << 1) |
                                      (section.Current_Next ? 1 : 0)));
  body.push_back(section.Section_Number);
  body.push_back(section.Last_Section_Number);
  Put_16(body, section.Transport_Stream_Id);
  Put_16(body, section.Original_Network_Id);
  body.push_back(section.Segment_Last_Section_Number);
  body.push_back(section.Last_Table_Id);
  for (const Eit_Event &event : section.Events) {
    if (event.Descriptors.size() > static_cast<std::size_t>(Eit_Loop_Length_Mask))
      throw std::length_error("event descriptor loop over 4095 bytes");
    Put_16(body, event.Event_Id);
    body.insert(body.end(), event.Start_Time, event.Start_Time + 5);
    body.insert(body.end(), event.Duration, event.Duration + 3);
    const uint32_t loop = static_cast<uint32_t>(event.Descriptors.size());
    Put_16(body, (static_cast<uint32_t>(event.Running_Status & 7) << 13) |
                     (event.Free_Ca ? 0x1000u : 0u) | loop);
    body.insert(body.end(), event.Descriptors.begin(), event.Descriptors.end());
  }
  const std::size_t length = body.size() + Section_Crc_Size;
  if (length > Section_Length_Limit)
    throw std::length_error("EIT section over 4096 bytes");
  Byte_Vector out{section.Table_Id};
  Put_16(out, Section_Flag_Bits | static_cast<uint32_t>(length)); // syntax 1, reserved bits 1
  out.insert(out.end(), body.begin(), body.end());
  const uint32_t crc = Mpeg_Crc32(out.data(), out.size());
  Put_16(out, crc >> 16);
  Put_16(out, crc & 0xFFFF);
  return out;
}

Eit_Section Portal_Source_Section(int portal, const std::vector<Portal_Listing_Entry> &entries) {
  const Portal_Constants &constants = Portal_Constants_Table.at(static_cast<std::size_t>(portal));
  Eit_Section section;
  section.Service_Id = constants.Source_Service_Id;
  section.Transport_Stream_Id = constants.Source_Transport_Stream_Id;
  Eit_Event event;
  event.Descriptors = Short_Event_Descriptor_Bytes("deu", constants.Default_Name, "");
  for (const Portal_Listing_Entry &entry : entries) {
    const Byte_Vector bytes =
        Portal_Descriptor_Bytes(entry.Transport_Stream_Id, entry.Service_Id, entry.Name);
    event.Descriptors.insert(event.Descriptors.end(), bytes.begin(), bytes.end());
  }
  section.Events.push_back(event);
  return section;
}

Byte_Vector Portal_Header_Bytes(int portal, int section_length) {
  const Portal_Constants &constants = Portal_Constants_Table.at(static_cast<std::size_t>(portal));
  Byte_Vector header{0x00, Eit_Actual_Present_Following};
  Put_16(header, Section_Flag_Bits | (static_cast<uint32_t>(section_length) & Section_Length_Mask));
  Put_16(header, constants.Source_Service_Id);
  header.push_back(0xC1); // version 0, current
  header.push_back(0x00); // section_number
  header.push_back(0x01); // last_section_number
  Put_16(header, constants.Source_Transport_Stream_Id);
  Put_16(header, Portal_Original_Network_Id);
  header.push_back(0x01);                         // segment_last_section_number
  header.push_back(Eit_Actual_Present_Following); // last_table_id
  return header;
}
