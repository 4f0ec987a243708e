// The demo capture: four portals' source sections in an EIT carousel with
// the noise a real multiplex carries around them.
#include "stream/sample_stream.h"

#include "core/host_contract.h"
#include "core/portal_table.h"
#include "stream/ts_writer.h"

#include <string>

std::vector<Portal_Listing_Entry> Sample_Portal_Entries(int portal) {
  switch (portal) {
  case 0:
    return {{4, 0x00D0, "Lumen Kino"},     {4, 0x00D1, "Lumen Abenteuer"},
            {4, 0x00D2, "Lumen Familie"},  {4, 0x00DB, "Lumen Serien"},
            {4, 0x00DC, "Lumen Spannung"}, {4, 0x00DD, "Riedgau Heimat"}};
  case 1:
    return {
        {4, 0x0202, "Nachtfalter 1"}, {4, 0x0203, "Nachtfalter 2"}, {4, 0x0204, "Nachtfalter 3"}};
  case 2:
    return {{4, 0x00E0, "Anstoss Liga 1"},
            {4, 0x00E1, "Anstoss Liga 2"},
            {4, 0x00E2, "Anstoss Liga 3"},
            {4, 0x00E3, "Anstoss Liga 4"},
            {4, 0x00E4, "Anstoss Liga 5"},
            {4, 0x00E5, "Anstoss Liga 6"},
            {4, 0x00E6, "Anstoss Pokal 1"},
            {4, 0x00E7, "Anstoss Pokal 2"},
            {4, 0x00E8,
             "Fu\xDF"
             "ball Konferenz"}};
  default:
    return {{4, 0x00F0, "Sportfeld 1"},
            {4, 0x00F1, "Sportfeld 2"},
            {4, 0x00F2, "Rennbahn Boxengasse"},
            {4, 0x00F3, "Rennbahn Onboard"},
            {4, 0x00F4, "Sportfeld \xD6sterreich"}};
  }
}

Byte_Vector Sample_Source_Section(int portal, const std::vector<Portal_Listing_Entry> &entries) {
  Eit_Section section = Portal_Source_Section(portal, entries);
  if (Portal_Constants_Table[static_cast<std::size_t>(portal)].Source_Transport_Stream_Id !=
      Portal_Transport_Stream_Id) {
    section.Table_Id = Eit_Other_Present_Following;
    section.Last_Table_Id = Eit_Other_Present_Following;
  }
  return Build_Eit_Section(section);
}

namespace {

// Present/following or schedule section of an ordinary service.
Byte_Vector Service_Section(uint8_t table_id, uint16_t service_id, uint8_t section_number,
                            const std::string &title) {
  Eit_Section section;
  section.Table_Id = table_id;
  section.Last_Table_Id = table_id;
  section.Service_Id = service_id;
  section.Transport_Stream_Id = 4;
  section.Section_Number = section_number;
  section.Last_Section_Number = table_id >= Eit_Actual_Schedule_First ? 8 : 1;
  section.Segment_Last_Section_Number = section.Last_Section_Number;
  Eit_Event event;
  event.Event_Id = static_cast<uint16_t>(service_id * 16 + section_number);
  event.Descriptors = Short_Event_Descriptor_Bytes("deu", title, "Live und in HD.");
  section.Events.push_back(event);
  if (table_id >= Eit_Actual_Schedule_First) { // a schedule lists more events
    event.Event_Id++;
    event.Start_Time[3] = 0x30;
    section.Events.push_back(event);
  }
  return Build_Eit_Section(section);
}

// Section 1 of portal 0's source service: a header that must not be taken
// for the portal's section 0, carrying descriptors that would show if it were.
Byte_Vector Portal_Section_One() {
  Eit_Section section =
      Portal_Source_Section(0, {{4, 0x0666, "Falscher Abschnitt"}, {4, 0x0667, "Auch falsch"}});
  section.Section_Number = 1;
  return Build_Eit_Section(section);
}

// The portal's source section with every service id changed, in packets
// flagged as damaged: a reader that fed them would decode wrong entries.
void Write_Damaged_Copy(Ts_Writer &writer, int portal) {
  std::vector<Portal_Listing_Entry> entries = Sample_Portal_Entries(portal);
  for (Portal_Listing_Entry &entry : entries) {
    entry.Service_Id ^= 0x4000;
    entry.Name[0] = '#';
  }
  Ts_Packet_Options damaged;
  damaged.Transport_Error = true;
  Write_Section(writer, Eit_Pid, Sample_Source_Section(portal, entries), damaged);
}

void Write_Media(Ts_Writer &writer, int packets) {
  for (int i = 0; i < packets; ++i)
    Write_Noise_Packet(writer, i % 4 == 3 ? Sample_Audio_Pid : Sample_Video_Pid);
}

void Write_Carousel_Round(Ts_Writer &writer, int round) {
  static const char *const titles[] = {"Abendnachrichten", "Knoll & Kruse ermitteln",
                                       "Kreisliga kompakt", "Wetter im Riedgau"};
  for (int portal = 0; portal < Portal_Total; ++portal) {
    if (round == 0)
      Write_Damaged_Copy(writer, portal);
    Write_Media(writer, 3);
    for (uint16_t service = 0x0030; service < 0x0034; ++service)
      Write_Section(writer, Eit_Pid,
                    Service_Section(Eit_Actual_Present_Following, service, 0, titles[service & 3]));
    Write_Media(writer, 2);
    if (portal == 0)
      Write_Section(writer, Eit_Pid, Portal_Section_One());
    Write_Section(writer, Eit_Pid, Sample_Source_Section(portal, Sample_Portal_Entries(portal)));
    Write_Media(writer, 4);
    for (uint8_t section = 0; section < 3; ++section)
      Write_Section(writer, Eit_Pid,
                    Service_Section(static_cast<uint8_t>(Eit_Actual_Schedule_First + section),
                                    0x0040, static_cast<uint8_t>(section * 8),
                                    "Kreisliga Nordwinkel live"));
    Write_Noise_Packet(writer, Ts_Null_Pid);
  }
}

} // namespace

Byte_Vector Make_Sample_Stream() {
  Ts_Writer writer;
  for (int round = 0; round < Sample_Carousel_Rounds; ++round)
    Write_Carousel_Round(writer, round);
  return writer.Bytes;
}
