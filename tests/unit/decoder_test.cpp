// Which sections are decoded and what their descriptors become.
#include "tests/unit/test_support.h"

#include <gtest/gtest.h>

#include "stream/ts_reader.h"
#include "stream/ts_writer.h"

#include <algorithm>
#include <cstring>

namespace {

// Decodes `section` for `portal` from a freshly armed decoder.
void Decode(int portal, const Eit_Section &section) {
  Arm_Decoder(portal);
  Byte_Vector payload = Payload_Of(Build_Eit_Section(section));
  payload.resize(payload.size() + 1000, 0xFF);
  Feed(payload);
}

void Expect_Entry(const Portal_Entry &entry, const std::string &name, int ts, int service) {
  EXPECT_EQ(Name_Of(entry), name);
  EXPECT_EQ(entry.Transport_Stream_Id, ts);
  EXPECT_EQ(entry.Service_Id, service);
}

void Expect_Cleared(int portal, int from) {
  for (int i = from; i < Portal_Entry_Total; ++i) {
    const Portal_Entry empty{};
    EXPECT_EQ(std::memcmp(&Portal_Table[portal][i], &empty, sizeof empty), 0) << "entry " << i;
  }
}

class EachPortal : public testing::TestWithParam<int> {};

TEST_P(EachPortal, DecodesItsOwnSourceSectionOnly) {
  const int portal = GetParam();
  Decode(portal, Portal_Source_Section(portal, Numbered_Entries(6)));
  EXPECT_EQ(Plugin_Decoder.Scan_Idle, 1);
  EXPECT_EQ(Plugin_Decoder.Scan_Portal, portal);
  ASSERT_EQ(Portal_Count[portal], 6);
  for (int i = 0; i < 6; ++i)
    Expect_Entry(Portal_Table[portal][i], "Kanal " + std::to_string(i), 4 + i, 1000 + i);
  EXPECT_EQ(Portal_Table[portal][0].Descriptor_Length, 7 + 7);
  Expect_Cleared(portal, 6);

  // Every other portal's source is passed over.
  const int other = (portal + 1) % Portal_Total;
  Decode(other, Portal_Source_Section(portal, Numbered_Entries(6)));
  EXPECT_EQ(Plugin_Decoder.Scan_Idle, 0);
  EXPECT_EQ(Portal_Count[other], 0);
}
INSTANTIATE_TEST_SUITE_P(Portals, EachPortal, testing::Values(0, 1, 2, 3));

TEST(Decoder, SkipsHeadersThatAreNotTheSource) {
  const auto entries = Numbered_Entries(3);
  std::vector<Eit_Section> wrong(7, Portal_Source_Section(0, entries));
  wrong[0].Section_Number = 1;
  wrong[1].Last_Section_Number = 0;
  wrong[2].Original_Network_Id = 0x0001;
  wrong[3].Segment_Last_Section_Number = 0;
  wrong[4].Transport_Stream_Id = 5;
  wrong[5].Service_Id = 0x0013;
  wrong[6].Events.clear(); // section length 15: too short
  wrong[6].Last_Table_Id = 0;
  for (std::size_t i = 0; i < wrong.size(); ++i) {
    Decode(0, wrong[i]);
    EXPECT_EQ(Plugin_Decoder.Scan_Idle, 0) << "case " << i;
    EXPECT_EQ(Name_Of(Portal_Table[0][0]), "Direct Portal") << "case " << i;
  }
  // Section syntax bit cleared: the length word's top bits are not all 1.
  Arm_Decoder(0);
  Byte_Vector payload = Payload_Of(Build_Eit_Section(Portal_Source_Section(0, entries)));
  payload[2] &= 0x7F;
  payload.resize(1200, 0xFF);
  Feed(payload);
  EXPECT_EQ(Plugin_Decoder.Scan_Idle, 0);
}

TEST(Decoder, IgnoresTableIdAndVersion) {
  Eit_Section section = Portal_Source_Section(0, Numbered_Entries(2));
  section.Table_Id = 0x61;
  section.Version_Number = 17;
  section.Current_Next = false;
  Decode(0, section);
  EXPECT_EQ(Portal_Count[0], 2);
}

// Where a bit flips in a section of portal 1 ("Kanal 0" to "Kanal 2").
std::size_t Offset_Of(const Byte_Vector &section, const Byte_Vector &bytes) {
  return static_cast<std::size_t>(
      std::search(section.begin(), section.end(), bytes.begin(), bytes.end()) - section.begin());
}

// A damaged section is no candidate: nothing of it reaches the table, the
// decoder stays armed, and the next sound repetition decodes, also when it
// follows in the same buffer.
TEST(Decoder, DamagedSectionsAreSkippedForTheNextSoundOne) {
  const auto entries = Numbered_Entries(3);
  const Byte_Vector sound = Build_Eit_Section(Portal_Source_Section(1, entries));
  const std::size_t name = Offset_Of(sound, {'K', 'a', 'n', 'a', 'l', ' ', '1'});
  const std::size_t service = Offset_Of(sound, {0x00, 0x85, 0x03, 0xE9}) + 3; // 1001
  const struct Case {
    const char *What;
    std::size_t At;
    uint8_t Bit;
  } cases[] = {{"name", name + 6, 0x01},
               {"service id", service, 0x04},
               {"crc", sound.size() - 1, 0x80},
               {"section length", 2, 0x01}};
  for (const Case &c : cases) {
    ASSERT_LT(c.At, sound.size()) << c.What;
    Byte_Vector damaged = sound;
    damaged[c.At] ^= c.Bit;
    Arm_Decoder(1);
    Byte_Vector first = Payload_Of(damaged);
    first.resize(first.size() + 1000, 0xFF);
    Feed(first);
    EXPECT_EQ(Plugin_Decoder.Scan_Idle, 0) << c.What;
    EXPECT_EQ(Portal_Count[1], 0) << c.What;
    Expect_Entry(Portal_Table[1][0], "RedLight", 4, 0x0201);
    Feed(Portal_Payload(1, entries));
    EXPECT_EQ(Plugin_Decoder.Scan_Idle, 1) << c.What;
    ASSERT_EQ(Portal_Count[1], 3) << c.What;
    Expect_Entry(Portal_Table[1][1], "Kanal 1", 5, 1001);

    Arm_Decoder(1); // the damaged and the sound one in one buffer
    Byte_Vector both = Payload_Of(damaged);
    const Byte_Vector next = Portal_Payload(1, entries);
    both.insert(both.end(), next.begin(), next.end());
    Feed_Once(both);
    EXPECT_EQ(Plugin_Decoder.Scan_Idle, 1) << c.What;
    ASSERT_EQ(Portal_Count[1], 3) << c.What;
    Expect_Entry(Portal_Table[1][2], "Kanal 2", 6, 1002);
  }
}

// Packed behind another section's start, the portal section's last packet
// carries a pointer field that the raw payloads put inside the section: the
// decoder must never turn that into an entry.
TEST(Decoder, PointerFieldInsideThePacketedSectionIsNoEntry) {
  const auto entries = Numbered_Entries(12);
  const Byte_Vector portal = Build_Eit_Section(Portal_Source_Section(0, entries));
  Eit_Section other;
  other.Service_Id = 0x0300;
  other.Transport_Stream_Id = 4;
  Ts_Writer writer;
  Ts_Packet_Options packed;
  packed.Pack_Sections = true;
  for (int round = 0; round < 3; ++round)
    Write_Sections(writer, Eit_Pid, {portal, Build_Eit_Section(other)}, packed);
  Arm_Decoder(0);
  Ts_Reader reader;
  Open_Ts_Memory(reader, writer.Bytes.data(), writer.Bytes.size());
  const uint8_t *payload = nullptr;
  int32_t size = 0;
  int unit_starts = 0, packets = 0;
  const int portal_packets = static_cast<int>((portal.size() + 1 + 183) / 184);
  while (Next_Ts_Payload(reader, Eit_Pid, &payload, &size) == Ts_Read_Result::Payload) {
    if (packets++ < portal_packets)
      unit_starts += reader.Unit_Start;
    On_Section_Data(0, size, payload);
    ASSERT_EQ(Plugin_Decoder.Scan_Idle, 0) << "decoded from a cut section";
  }
  Close_Ts_Reader(reader);
  EXPECT_EQ(unit_starts, 2) << "the next section starts in the portal section's last packet";
  EXPECT_EQ(Portal_Count[0], 0);
  EXPECT_EQ(Name_Of(Portal_Table[0][0]), "Direct Portal");
}

TEST(Decoder, FirstMatchingHeaderDecides) {
  Arm_Decoder(2);
  Byte_Vector stream(300, 0x00); // zero bytes that are no header
  const Byte_Vector first = Portal_Payload(2, {{4, 100, "Erste"}, {4, 101, "Zweite"}}, 0);
  const Byte_Vector second = Portal_Payload(2, Numbered_Entries(5), 0);
  stream.insert(stream.end(), first.begin(), first.end());
  stream.insert(stream.end(), second.begin(), second.end());
  stream.resize(1500, 0xFF);
  Feed(stream);
  ASSERT_EQ(Portal_Count[2], 2);
  Expect_Entry(Portal_Table[2][1], "Zweite", 4, 101);
}

TEST(Decoder, CountFollowsTheNumberOfMatches) {
  // A first decode fills six entries.
  Decode(3, Portal_Source_Section(3, Numbered_Entries(6)));
  ASSERT_EQ(Portal_Count[3], 6);
  const Portal_Entry sixth = Portal_Table[3][5];

  // No match: the decoder disarms, the table stays as it was. (Decode()
  // arms afresh but keeps the table: Arm_Decoder resets it, so refill.)
  auto refill = [] {
    Feed(Portal_Payload(3, Numbered_Entries(6)));
    Arm_Section_Decoder(Plugin_Decoder);
  };
  Arm_Decoder(3);
  refill();
  Feed(Portal_Payload(3, {}));
  EXPECT_EQ(Plugin_Decoder.Scan_Idle, 1);
  EXPECT_EQ(Portal_Count[3], 6);
  EXPECT_EQ(std::memcmp(&Portal_Table[3][5], &sixth, sizeof sixth), 0);

  // One match overwrites entry 0 only.
  Arm_Decoder(3);
  refill();
  Feed(Portal_Payload(3, {{9, 900, "Einzeln"}}));
  EXPECT_EQ(Portal_Count[3], 6);
  Expect_Entry(Portal_Table[3][0], "Einzeln", 9, 900);
  Expect_Entry(Portal_Table[3][1], "Kanal 1", 5, 1001);

  // Two matches replace the whole list.
  Arm_Decoder(3);
  refill();
  Feed(Portal_Payload(3, Numbered_Entries(2)));
  EXPECT_EQ(Portal_Count[3], 2);
  Expect_Cleared(3, 2);
}

TEST(Decoder, KeepsTheFirstSeventeenOfMoreMatches) {
  Arm_Decoder(1);
  const Portal_Row portal_two = Portal_Table[2];
  Feed(Portal_Payload(1, Numbered_Entries(25)));
  EXPECT_EQ(Plugin_Decoder.Scan_Idle, 1);
  EXPECT_EQ(Portal_Count[1], Portal_Entry_Total);
  Expect_Entry(Portal_Table[1][16], "Kanal 16", 20, 1016);
  EXPECT_EQ(std::memcmp(&Portal_Table[2], &portal_two, sizeof portal_two), 0)
      << "nothing spills into the next portal's row";
}

// Descriptors built byte by byte, since their exact layout is the point.
Byte_Vector Raw_Descriptor(uint8_t length, uint16_t onid, uint16_t service, uint8_t type,
                           const std::string &name) {
  Byte_Vector d{0x4A,
                length,
                0x12,
                0x34,
                static_cast<uint8_t>(onid >> 8),
                static_cast<uint8_t>(onid),
                static_cast<uint8_t>(service >> 8),
                static_cast<uint8_t>(service),
                type};
  d.insert(d.end(), name.begin(), name.end());
  return d;
}

void Decode_Raw(const std::vector<Byte_Vector> &descriptors) {
  Eit_Section section = Portal_Source_Section(0, {});
  for (const Byte_Vector &d : descriptors)
    section.Events[0].Descriptors.insert(section.Events[0].Descriptors.end(), d.begin(), d.end());
  Decode(0, section);
}

TEST(Decoder, NamesTakeTheDescriptorsPrivateBytes) {
  Decode_Raw({Raw_Descriptor(12, 0x85, 7, 0xB0, "Sport"), Raw_Descriptor(7, 0x85, 8, 0xB0, ""),
              Raw_Descriptor(30, 0x85, 9, 0xB0, std::string(23, 'x')),
              Raw_Descriptor(5, 0x85, 10, 0xB0, ""), Raw_Descriptor(6, 0x85, 11, 0xB0, "")});
  ASSERT_EQ(Portal_Count[0], 5);
  const auto &row = Portal_Table[0];
  Expect_Entry(row[0], "Sport", 0x1234, 7);
  EXPECT_EQ(row[0].Descriptor_Length, 12);
  for (int i = 5; i < Portal_Name_Size; ++i)
    EXPECT_EQ(row[0].Name[i], 0);
  Expect_Entry(row[1], "", 0x1234, 8);
  EXPECT_EQ(Name_Of(row[2]), std::string(23, 'x'));
  // Lengths 5 and 6 leave no room for a name: empty, ids kept.
  Expect_Entry(row[3], "", 0x1234, 10);
  EXPECT_EQ(row[3].Descriptor_Length, 5);
  Expect_Entry(row[4], "", 0x1234, 11);
}

TEST(Decoder, PassesOverOtherLinkageDescriptors) {
  Decode_Raw({Raw_Descriptor(31, 0x85, 7, 0xB0, std::string(24, 'y')),
              Raw_Descriptor(4, 0x85, 7, 0xB0, ""), Raw_Descriptor(10, 0x86, 7, 0xB0, "abc"),
              Raw_Descriptor(10, 0x85, 0, 0xB0, "abc"), Raw_Descriptor(10, 0x85, 7, 0x01, "abc"),
              Raw_Descriptor(10, 0x85, 0x0100, 0xB0, "gut"),
              Raw_Descriptor(10, 0x85, 0x0001, 0xB0, "auch")});
  EXPECT_EQ(Portal_Count[0], 2);
  Expect_Entry(Portal_Table[0][0], "gut", 0x1234, 0x0100);
  Expect_Entry(Portal_Table[0][1], "auc", 0x1234, 0x0001);
}

TEST(Decoder, FollowsThePortalShownWhenTheScanStarts) {
  Arm_Decoder(0);
  Byte_Vector stream = Portal_Payload(0, Numbered_Entries(2), 0);
  const Byte_Vector other = Portal_Payload(1, Numbered_Entries(3), 0);
  stream.insert(stream.end(), other.begin(), other.end());
  stream.resize(1000, 0xFF);
  Current_Portal = 1; // ">>" before the data arrives
  Feed(stream);
  EXPECT_EQ(Plugin_Decoder.Scan_Portal, 1);
  EXPECT_EQ(Portal_Count[0], 0);
  EXPECT_EQ(Portal_Count[1], 3);
}

} // namespace
