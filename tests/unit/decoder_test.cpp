// Which sections are decoded and what their descriptors become.
#include "tests/unit/test_support.h"

#include <gtest/gtest.h>

#include "stream/sample_stream.h"
#include "stream/section_reassembler.h"
#include "stream/ts_reader.h"
#include "stream/ts_writer.h"
#include "tests/unit/plain_decoder.h"

#include <algorithm>
#include <cstring>

namespace {

// Decodes `section` for `portal` from a freshly armed decoder.
void Decode(int portal, const Eit_Section &section) {
  Arm_Decoder(portal);
  Byte_Vector payload = Payload_Of(Build_Eit_Section(section));
  payload.resize(payload.size() + 1000, Stuffing_Byte);
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
  EXPECT_EQ(Portal_Table[portal][0].Descriptor_Length, Linkage_Fixed_Bytes + 7); // "Kanal 0"
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
  payload.resize(1200, Stuffing_Byte);
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
    first.resize(first.size() + 1000, Stuffing_Byte);
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

// `portal`'s source section listing `entries`, grown to `size` bytes
// (table_id to CRC) by user-defined descriptors (tag 0x80) behind them.
Byte_Vector Section_Of_Size(int portal, const std::vector<Portal_Listing_Entry> &entries,
                            std::size_t size) {
  constexpr std::size_t Filler_Max = 2 + 255;
  Eit_Section section = Portal_Source_Section(portal, entries);
  Byte_Vector &loop = section.Events[0].Descriptors;
  for (std::size_t rest = size - Build_Eit_Section(section).size(); rest > 0;) {
    std::size_t take = std::min(rest, Filler_Max);
    if (rest - take == 1) // leave room for a whole descriptor
      take -= 2;
    loop.push_back(0x80);
    loop.push_back(static_cast<uint8_t>(take - 2));
    loop.insert(loop.end(), take - 2, 'x');
    rest -= take;
  }
  return Build_Eit_Section(section);
}

// Copies fed one after another, a decode re-armed at once as the refresh
// tick does, judged by the decoder's rules: copies damaged in different
// places give the sound section back (rule 4); the same failing bytes from
// two transmissions are how the stream carries the section (rule 3); where
// nothing checks out, the first failing copy is shown as the plain decoder
// shows it, one copy later (rule 5), until a sound copy replaces it; a list
// that checked out is never replaced by a failing copy of its version.
TEST(Decoder, FailingCopiesShowWhatThePlainDecoderShowsUntilASoundOne) {
  using Entries = std::vector<Portal_Listing_Entry>;
  const Entries sound_list = Numbered_Entries(3);
  // Four packets long: entries first, filler behind them.
  const Byte_Vector sound = Section_Of_Size(1, sound_list, 700);
  const auto damaged = [&sound](std::size_t at, uint8_t bit) {
    Byte_Vector copy = sound;
    copy[at] ^= bit;
    return Payload_Of(copy);
  };
  const auto lost_packet = [&sound](std::size_t packet) {
    Byte_Vector copy = Payload_Of(sound);
    const std::size_t at = packet * Ts_Payload_Size;
    copy.erase(copy.begin() + static_cast<long>(at),
               copy.begin() + static_cast<long>(std::min(at + Ts_Payload_Size, copy.size())));
    return copy;
  };
  const Byte_Vector whole = Payload_Of(sound);
  const std::size_t name_byte = Offset_Of(sound, {'K', 'a', 'n', 'a', 'l', ' ', '1'}) + 6;
  const Byte_Vector name = damaged(name_byte, 0x01);       // "Kanal 1" read as "Kanal 0"
  const Byte_Vector other_name = damaged(name_byte, 0x02); // and as "Kanal 3"
  const Byte_Vector service = damaged(Offset_Of(sound, {0x00, 0x85, 0x03, 0xE9}) + 3, 0x04);
  const Byte_Vector crc = damaged(sound.size() - 1, 0x80);
  const Byte_Vector marks = damaged(1, 0x80); // section_syntax_indicator: no candidate
  const Byte_Vector lost_2 = lost_packet(2), lost_3 = lost_packet(3);
  Entries name_list = sound_list, other_name_list = sound_list;
  name_list[1].Name = "Kanal 0";
  other_name_list[1].Name = "Kanal 3";
  const struct Case {
    const char *What;
    std::vector<const Byte_Vector *> Copies;
    const Entries *Shown; // null: the default entry alone
    Judgement Way;
  } cases[] = {
      {"one damaged copy", {&name}, nullptr, Judgement::None},
      {"a damaged copy, then a sound one", {&name, &whole}, &sound_list, Judgement::Sound},
      {"the same damaged copy twice", {&name, &name}, &name_list, Judgement::As_Carried},
      {"the same wrong CRC twice", {&crc, &crc}, &sound_list, Judgement::As_Carried},
      {"two copies damaged in different bytes",
       {&name, &service},
       &sound_list,
       Judgement::Repaired},
      {"two copies damaged in different packets", {&name, &crc}, &sound_list, Judgement::Repaired},
      {"every copy missing another packet", {&lost_2, &lost_3}, &sound_list, Judgement::Repaired},
      {"two copies damaged in one byte", {&name, &other_name}, &name_list, Judgement::Unchecked},
      {"then a sound one", {&name, &other_name, &whole}, &sound_list, Judgement::Sound},
      {"then the first damage again",
       {&name, &other_name, &name},
       &name_list,
       Judgement::As_Carried},
      {"a list shown, then such damage",
       {&whole, &name, &other_name},
       &sound_list,
       Judgement::Sound},
      {"a decode in between", {&name, &whole, &name}, &sound_list, Judgement::Sound},
      {"a broken header twice", {&marks, &marks}, nullptr, Judgement::None},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.What);
    Arm_Decoder(1);
    for (const Byte_Vector *copy : c.Copies) {
      Arm_Section_Decoder(Plugin_Decoder);
      Byte_Vector payload = *copy;
      payload.resize(payload.size() + 1000, Stuffing_Byte);
      Feed(payload);
    }
    EXPECT_EQ(Last_Decoded().Way, c.Way);
    if (c.Shown == nullptr) {
      EXPECT_EQ(Portal_Count[1], 0);
      Expect_Entry(Portal_Table[1][0], "RedLight", 4, 0x0201);
      continue;
    }
    ASSERT_EQ(Portal_Count[1], 3);
    for (int i = 0; i < 3; ++i)
      Expect_Entry(Portal_Table[1][i], (*c.Shown)[i].Name, (*c.Shown)[i].Transport_Stream_Id,
                   (*c.Shown)[i].Service_Id);
  }
}

// Sections packed back to back, as EIT usually is: the portal section starts
// a packet, and the next section starts inside its last packet, whose
// pointer field the raw payloads put inside the portal section. For
// sections of 2 to 23 packets, with that pointer field at every place the
// last packet allows, fed in packet payloads and in odd sizes, the decoder
// takes it out and shows the exact list.
TEST(Decoder, PackedSectionsDecodeWholeWithoutTheNextSectionsPointerField) {
  const auto entries = Numbered_Entries(5);
  Eit_Section next;
  next.Service_Id = 0x0300;
  next.Transport_Stream_Id = 4;
  next.Events.resize(1);
  next.Events[0].Descriptors =
      Short_Event_Descriptor_Bytes("deu", "Abendfilm", std::string(90, 'y'));
  const Byte_Vector next_section = Build_Eit_Section(next);
  Ts_Packet_Options packed;
  packed.Pack_Sections = true;
  int cases = 0;
  for (std::size_t packets = 2; packets <= 23; ++packets) {
    // `tail` section bytes in the last packet, behind its pointer field and
    // in front of at least the next section's first byte.
    for (std::size_t tail = 1; tail <= Ts_Payload_Size - 2; ++tail) {
      const std::size_t size = (Ts_Payload_Size - 1) + (packets - 2) * Ts_Payload_Size + tail;
      if (size > static_cast<std::size_t>(Section_Size_Max))
        break;
      Ts_Writer writer;
      Write_Sections(writer, Eit_Pid,
                     {Section_Of_Size(0, entries, size), next_section, next_section, next_section,
                      next_section, next_section},
                     packed);
      const Byte_Vector payloads = Filter_Payloads(writer.Bytes);
      ASSERT_EQ(payloads[(packets - 1) * Ts_Payload_Size], tail) << "the stray pointer field";
      const std::size_t odd = 101 + (tail * 37 + packets * 11) % 900;
      for (std::size_t chunk : {static_cast<std::size_t>(Ts_Payload_Size), odd}) {
        SCOPED_TRACE(std::to_string(packets) + " packets, " + std::to_string(tail) +
                     " bytes in the last, chunks of " + std::to_string(chunk));
        Arm_Decoder(0);
        Feed(payloads, chunk);
        EXPECT_EQ(Last_Decoded().Way, Judgement::Stray_Pointer_Taken_Out);
        ASSERT_EQ(Portal_Count[0], 5);
        for (int i = 0; i < 5; ++i)
          Expect_Entry(Portal_Table[0][i], entries[i].Name, entries[i].Transport_Stream_Id,
                       entries[i].Service_Id);
        Expect_Cleared(0, 5);
        if (HasFailure())
          return;
        ++cases;
      }
    }
  }
  EXPECT_EQ(cases, 2 * (21 * (Ts_Payload_Size - 2) + 49));
}

// Sections packed back to back, as multiplexers pack EIT: each right behind
// the previous one, so the portal section starts anywhere in a packet,
// behind another section's last byte, and the next one starts inside its
// last packet or not. However the host hands the filter's data over (each
// packet's payload, pieces of odd sizes, whole 188-byte packets or whole
// sections), the decoder shows the exact list.
TEST(Decoder, PackedStreamsShowTheExactListHoweverTheHostHandsThemOver) {
  const auto entries = Numbered_Entries(6);
  Ts_Packet_Options packed;
  packed.Pack_Sections = true;
  const Byte_Vector trailing = Other_Section(150);
  int cases = 0, inside = 0;
  for (const std::size_t size : {160, 400, 1500}) {
    const Byte_Vector portal = Section_Of_Size(0, entries, size);
    ASSERT_EQ(portal.size(), size);
    for (std::size_t lead = 40; lead < 40 + Ts_Payload_Size; ++lead) {
      std::vector<Byte_Vector> sections = {Other_Section(lead), portal};
      sections.insert(sections.end(), 8, trailing);
      Ts_Writer writer;
      Write_Sections(writer, Eit_Pid, sections, packed);
      const Byte_Vector payloads = Filter_Payloads(writer.Bytes);
      for (int way = 0; way < 4; ++way) {
        SCOPED_TRACE("a " + std::to_string(size) + "-byte section behind one of " +
                     std::to_string(lead) + ", handed over as " +
                     (way == 0   ? "payloads"
                      : way == 1 ? "odd pieces"
                      : way == 2 ? "packets"
                                 : "sections"));
        Arm_Decoder(0);
        if (way == 0)
          Feed(payloads, Ts_Payload_Size);
        else if (way == 1)
          Feed(payloads, 101 + (lead * 37 + size) % 900);
        else if (way == 2)
          Feed(writer.Bytes, Ts_Packet_Size);
        else
          for (const Byte_Vector &section : sections)
            Feed_Once(section);
        EXPECT_EQ(Plugin_Decoder.Scan_Idle, 1);
        ASSERT_EQ(Portal_Count[0], 6);
        for (int i = 0; i < 6; ++i)
          Expect_Entry(Portal_Table[0][i], entries[i].Name, entries[i].Transport_Stream_Id,
                       entries[i].Service_Id);
        Expect_Cleared(0, 6);
        EXPECT_EQ(Last_Decoded().From_Packets, way == 2);
        inside += Last_Decoded().Inside_Packet;
        if (HasFailure())
          return;
        ++cases;
      }
    }
  }
  EXPECT_EQ(cases, 3 * Ts_Payload_Size * 4);
  EXPECT_GT(inside, cases / 2) << "most sections stood behind another";
}

// Beside the plain decoder (no CRC check, a scan only at 920 bytes): on the
// sample capture and on streams with the portal section behind a pointer
// field or packed behind another section, wherever the plain decoder shows
// the list on air, the plug-in shows the same list with the same payload or
// an earlier one; where it shows another (a packed section marred by the
// next one's pointer field) or none, the plug-in shows the list on air.
TEST(Decoder, NeverLaterNorOtherThanThePlainDecoder) {
  struct Stream {
    std::string What;
    int Portal;
    Byte_Vector Payloads;
    std::vector<Portal_Listing_Entry> On_Air;
  };
  std::vector<Stream> streams;
  const Byte_Vector sample = Filter_Payloads(Make_Sample_Stream());
  for (int portal = 0; portal < Portal_Total; ++portal)
    streams.push_back({"the sample", portal, sample, Sample_Portal_Entries(portal)});
  const auto entries = Numbered_Entries(6);
  const Byte_Vector trailing = Other_Section(150);
  for (const bool pack : {false, true})
    for (const std::size_t size : {160, 400, 1500})
      for (std::size_t lead = 40; lead < 2000; lead += 23) {
        Ts_Packet_Options options;
        options.Pack_Sections = pack;
        // Other sections, `lead` bytes in all, in front of the portal's.
        std::vector<Byte_Vector> sections;
        std::size_t rest = lead;
        for (; rest > 250; rest -= 200)
          sections.push_back(Other_Section(200));
        sections.push_back(Other_Section(rest));
        sections.push_back(Section_Of_Size(0, entries, size));
        sections.insert(sections.end(), 8, trailing);
        Ts_Writer writer;
        Write_Sections(writer, Eit_Pid, sections, options);
        streams.push_back({std::string(pack ? "packed" : "behind a pointer field"), 0,
                           Filter_Payloads(writer.Bytes), entries});
      }
  int plain_exact = 0, plain_other = 0, sooner = 0;
  std::size_t bytes_sooner = 0;
  for (const Stream &stream : streams) {
    SCOPED_TRACE(stream.What + ", portal " + std::to_string(stream.Portal));
    Arm_Decoder(stream.Portal);
    Plain_Decoder plain = Plain_Decoder_For(stream.Portal);
    std::size_t ours_at = 0, plain_at = 0;
    for (std::size_t at = 0; at < stream.Payloads.size(); at += Ts_Payload_Size) {
      const std::size_t n = std::min<std::size_t>(Ts_Payload_Size, stream.Payloads.size() - at);
      if (!Plugin_Decoder.Scan_Idle) {
        On_Section_Data(0, static_cast<int32_t>(n), &stream.Payloads[at]);
        ours_at = at + n;
      }
      if (Plain_Feed(plain, &stream.Payloads[at], n))
        plain_at = at + n;
    }
    ASSERT_TRUE(Row_Holds(Portal_Table[stream.Portal], Portal_Count[stream.Portal], stream.On_Air));
    if (plain.Decoded && Row_Holds(plain.Entries, plain.Count, stream.On_Air)) {
      ++plain_exact;
      EXPECT_LE(ours_at, plain_at);
      sooner += ours_at < plain_at;
      bytes_sooner += plain_at - ours_at;
    } else {
      ++plain_other;
    }
  }
  EXPECT_GT(plain_exact, 100);
  EXPECT_GT(plain_other, 50);
  std::printf("beside the plain decoder: %d lists it shows exactly, the plug-in %d of them sooner, "
              "%zu bytes sooner in all; %d lists it marrs or misses, the plug-in shows them\n",
              plain_exact, sooner, bytes_sooner, plain_other);
}

TEST(Decoder, FirstMatchingHeaderDecides) {
  Arm_Decoder(2);
  Byte_Vector stream(300, 0x00); // zero bytes that are no header
  const Byte_Vector first = Portal_Payload(2, {{4, 100, "Erste"}, {4, 101, "Zweite"}}, 0);
  const Byte_Vector second = Portal_Payload(2, Numbered_Entries(5), 0);
  stream.insert(stream.end(), first.begin(), first.end());
  stream.insert(stream.end(), second.begin(), second.end());
  stream.resize(1500, Stuffing_Byte);
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
  Byte_Vector d{Linkage_Descriptor_Tag,
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
  stream.resize(1000, Stuffing_Byte);
  Current_Portal = 1; // ">>" before the data arrives
  Feed(stream);
  EXPECT_EQ(Plugin_Decoder.Scan_Portal, 1);
  EXPECT_EQ(Portal_Count[0], 0);
  EXPECT_EQ(Portal_Count[1], 3);
}

} // namespace

namespace {

// Portal 1's names from its first button on, as far as its count goes.
std::string Portal_One_Names() {
  std::string names = Name_Of(Portal_Table[1][0]);
  for (int i = 1; i < Portal_Count[1]; ++i)
    names += " | " + Name_Of(Portal_Table[1][i]);
  return names;
}

// Which failing copies count as two. Each copy is fed alone into a re-armed
// decoder, as refresh ticks arm it, while its portal is shown. The same
// failing bytes twice behind a zero byte are shown as carried, never over a
// list of their version that checked out; a copy without a zero byte in
// front is never shown; a failure inside another's bytes is no second copy
// of anything, and one behind it shows the first, as the plain decoder
// would (here a header with no entries behind it: nothing).
TEST(Decoder_Failure_Pairs, OnlyCopiesThatCouldBeRepetitionsPair) {
  const auto entries = Numbered_Entries(3);
  const Byte_Vector sound = Build_Eit_Section(Portal_Source_Section(1, entries));
  Byte_Vector name = sound; // "Kanal 1" read as "Kanal 0"
  name[Offset_Of(sound, {'K', 'a', 'n', 'a', 'l', ' ', '1'}) + 6] ^= 0x01;
  Byte_Vector other = Build_Eit_Section(Portal_Source_Section(2, entries));
  other[other.size() - 1] ^= 0x80;
  const char *const name_list = "Kanal 0 | Kanal 0 | Kanal 2", *const none = "RedLight";
  const char *const sound_list = "Kanal 0 | Kanal 1 | Kanal 2";

  const auto stuffed = [](Byte_Vector bytes) {
    bytes.resize(bytes.size() + 1000, Stuffing_Byte);
    return bytes;
  };
  const Byte_Vector name_payload = stuffed(Payload_Of(name));
  const Byte_Vector sound_payload = stuffed(Payload_Of(sound));
  const Byte_Vector other_payload = stuffed(Payload_Of(other));
  Byte_Vector name_inside{Stuffing_Byte}; // behind a byte that is not zero
  name_inside.insert(name_inside.end(), name.begin(), name.end());
  name_inside = stuffed(name_inside);
  // A failing header of length 600, then the name copy: inside its 603
  // bytes, or behind them.
  constexpr int Wide_Length = 600;
  const Byte_Vector wide = Portal_Header_Bytes(1, Wide_Length);
  Byte_Vector within = wide, behind = wide;
  within.insert(within.end(), name_payload.begin(), name_payload.end());
  within.resize(wide.size() + Wide_Length + 1000, Stuffing_Byte);
  behind.resize(Pointer_Field_Size + Wide_Length + Section_Head_Bytes, Stuffing_Byte);
  behind.insert(behind.end(), name_payload.begin(), name_payload.end());

  struct Copy {
    int Portal;
    const Byte_Vector *Bytes;
  };
  const struct Case {
    const char *What;
    std::vector<Copy> Copies;
    const char *Shown; // portal 1's names
    Judgement Way;
  } cases[] = {
      {"the same damage over a list",
       {{1, &sound_payload}, {1, &name_payload}, {1, &name_payload}},
       sound_list,
       Judgement::Sound},
      {"without a zero byte in front, twice",
       {{1, &name_inside}, {1, &name_inside}},
       none,
       Judgement::None},
      {"behind a zero byte, then without",
       {{1, &name_payload}, {1, &name_inside}},
       none,
       Judgement::None},
      {"without, then twice behind a zero byte",
       {{1, &name_inside}, {1, &name_payload}, {1, &name_payload}},
       name_list,
       Judgement::As_Carried},
      {"a failure inside another's bytes", {{1, &within}}, none, Judgement::None},
      {"a failure behind another's bytes", {{1, &behind}}, none, Judgement::Unchecked},
      {"a failure of another portal",
       {{2, &other_payload}, {1, &name_payload}},
       none,
       Judgement::None},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.What);
    Arm_Decoder(1);
    for (const Copy &copy : c.Copies) {
      Current_Portal = copy.Portal;
      Arm_Section_Decoder(Plugin_Decoder);
      Feed(*copy.Bytes);
    }
    EXPECT_EQ(Last_Decoded().Way, c.Way);
    EXPECT_EQ(Portal_One_Names(), c.Shown);
  }
}

} // namespace
