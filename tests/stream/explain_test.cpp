// Captures written with the stream toolkit, read back through the capture
// reader, the section reassembler and portal-scan's explain step: sections
// come back whole whatever the packet layout or damage, and each portal's
// verdict follows what the plug-in's decoder told of its steps.
#include "core/host_contract.h"
#include "stream/eit_writer.h"
#include "stream/section_reassembler.h"
#include "stream/ts_reader.h"
#include "stream/ts_writer.h"
#include "tools/portal_explain.h"
#include "tools/portal_scan_output.h"
#include "tools/portal_scan_pass.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// Runs a capture through the reader into the reassembler.
void Feed_Capture(const Byte_Vector &bytes, Section_Reassembler &reassembler) {
  Ts_Reader reader;
  Open_Ts_Memory(reader, bytes.data(), bytes.size());
  const uint8_t *payload = nullptr;
  int32_t size = 0;
  while (Next_Ts_Payload(reader, Eit_Pid, &payload, &size) == Ts_Read_Result::Payload) {
    Reassemble_Payload(reassembler, payload, size, reader.Unit_Start, reader.Continuity,
                       reader.Packet_Offset);
  }
  Close_Ts_Reader(reader);
}

Byte_Vector Packets(const std::vector<Byte_Vector> &sections, Ts_Packet_Options options = {}) {
  Ts_Writer writer;
  Write_Sections(writer, Eit_Pid, sections, options);
  return writer.Bytes;
}

int Packet_Count(const Byte_Vector &section) { // written alone, pointer field first
  return static_cast<int>((section.size() + Ts_Payload_Size) / Ts_Payload_Size);
}

Byte_Vector Filler_Section(uint16_t service_id, int events) {
  Eit_Section section;
  section.Service_Id = service_id;
  for (int i = 0; i < events; ++i) {
    Eit_Event event;
    event.Descriptors = Short_Event_Descriptor_Bytes("deu", "Spielfilm", std::string(30, 'x'));
    section.Events.push_back(event);
  }
  return Build_Eit_Section(section);
}

struct Seen {
  Byte_Vector Bytes;
  bool Crc_Ok;
  bool At_Payload_Start;
  int Start_Packet;
};

void Collect(const Reassembled_Section &section, void *context) {
  static_cast<std::vector<Seen> *>(context)->push_back(
      {Byte_Vector(section.Bytes, section.Bytes + section.Size), section.Crc_Ok,
       section.At_Payload_Start, static_cast<int>(section.Packet_Offset / Ts_Packet_Size)});
}

bool operator==(const Seen &a, const Seen &b) {
  return a.Bytes == b.Bytes && a.Crc_Ok == b.Crc_Ok && a.At_Payload_Start == b.At_Payload_Start &&
         a.Start_Packet == b.Start_Packet;
}

TEST(Section_Reassembler, SectionsComeBackWholeOrAreDropped) {
  const Byte_Vector small = Filler_Section(0x31, 1), large = Filler_Section(0x32, 12),
                    medium = Filler_Section(0x33, 3);
  Byte_Vector damaged = large;
  damaged[100] ^= 0x10;
  const int large_packets = Packet_Count(large);
  Ts_Packet_Options packed, stuffed;
  packed.Pack_Sections = true;
  stuffed.Adaptation_Length = 40;

  Ts_Writer gap; // lost: the packet where one section ends and the next begins
  Write_Sections(gap, Eit_Pid, {large, large}, packed);
  const int small_after_gap = static_cast<int>(gap.Bytes.size() / Ts_Packet_Size) - 1;
  Write_Section(gap, Eit_Pid, small);
  gap.Bytes.erase(gap.Bytes.begin() + (large_packets - 1) * Ts_Packet_Size,
                  gap.Bytes.begin() + large_packets * Ts_Packet_Size);
  Byte_Vector repeated = Packets({large, small}); // the second packet sent twice
  repeated.insert(repeated.begin() + 2 * Ts_Packet_Size, repeated.begin() + Ts_Packet_Size,
                  repeated.begin() + 2 * Ts_Packet_Size);
  Ts_Writer cut; // the last packet of `large` never sent, counters running on
  Write_Section(cut, Eit_Pid, large);
  cut.Bytes.resize(cut.Bytes.size() - Ts_Packet_Size);
  cut.Continuity[Eit_Pid] = (cut.Continuity[Eit_Pid] + 15) & Ts_Continuity_Mask;
  Write_Section(cut, Eit_Pid, small);

  struct Case {
    const char *Name;
    Byte_Vector Capture;
    std::vector<Seen> Expected;
    uint64_t Dropped;
  };
  const Case cases[] = {
      {"across packets",
       Packets({large, small}),
       {{large, true, true, 0}, {small, true, true, large_packets}},
       0},
      {"packed, a tail behind a nonzero pointer",
       Packets({small, medium, small}, packed),
       {{small, true, true, 0}, {medium, true, false, 0}, {small, true, false, 1}},
       0},
      {"stuffing behind short sections",
       Packets({small, medium}, stuffed),
       {{small, true, true, 0}, {medium, true, true, 1}},
       0},
      {"damaged", Packets({damaged}), {{damaged, false, true, 0}}, 0},
      {"continuity gap", gap.Bytes, {{small, true, true, small_after_gap}}, 1},
      {"pointer field ends a section early",
       cut.Bytes,
       {{small, true, true, large_packets - 1}},
       1},
      {"duplicate packet",
       repeated,
       {{large, true, true, 0}, {small, true, true, large_packets + 1}},
       0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<Seen> seen;
    Section_Reassembler reassembler;
    reassembler.Deliver = Collect;
    reassembler.Context = &seen;
    Feed_Capture(c.Capture, reassembler);
    EXPECT_TRUE(seen == c.Expected);
    EXPECT_EQ(reassembler.Dropped, c.Dropped);
  }
}

using Entries = std::vector<Portal_Listing_Entry>;
const Entries Three = {{4, 301, "Kino Eins"}, {4, 302, "Sportfeld 2"}, {4, 303, "Serienwelt"}};
const Entries Renamed = {{4, 301, "Kino Eins"}, {4, 302, "Sportfeld 3"}, {4, 303, "Serienwelt"}};
const Entries Accented = {{4, 311, "Sch\xF6ne \"Welt\""}, {4, 312, "Kino Zwei"}};
const Entries Long_Name = {{4, 301, "Kino Eins"},
                           {4, 302, "Sportfeld 2"},
                           {4, 303, "Serienwelt"},
                           {4, 304, "Ein sehr langer Kanalname"}};

Entries Many(int count) { // a section of three packets for 17
  Entries entries;
  for (int i = 0; i < count; ++i)
    entries.push_back({4, static_cast<uint16_t>(400 + i), "Talgrund " + std::to_string(i)});
  return entries;
}

struct Airing {
  Entries Listed;
  uint8_t Version = 1;
  bool Packed = false; // behind a filler section
  int Damaged = 0;     // a bit flipped this many bytes before its end
  uint8_t Last_Section_Number = 1;
  bool Followed = false;     // the next section starts in its last packet
  bool Hidden_Entry = false; // an event's text holds a portal descriptor's bytes
  int Repeated_Packet = -1;  // this packet of it sent twice, counted from 0
  uint8_t Damage_Bit = 0x01; // the bit Damaged flips
};

// Every capture carries another portal's section first; unless cut short,
// other services' sections behind, as a carousel goes on.
Byte_Vector Capture_Of(int portal, const std::vector<Airing> &airings, bool cut = false) {
  Ts_Writer writer;
  Write_Section(writer, Eit_Pid, Build_Eit_Section(Portal_Source_Section((portal + 1) % 4, Three)));
  for (const Airing &airing : airings) {
    Eit_Section section = Portal_Source_Section(portal, airing.Listed);
    section.Version_Number = airing.Version;
    section.Last_Section_Number = airing.Last_Section_Number;
    if (airing.Hidden_Entry) {
      const Byte_Vector hidden = Portal_Descriptor_Bytes(4, 399, "Versteckt");
      const Byte_Vector text = Short_Event_Descriptor_Bytes(
          "deu", "Vorschau", std::string(hidden.begin(), hidden.end()));
      Byte_Vector &loop = section.Events[0].Descriptors;
      loop.insert(loop.begin(), text.begin(), text.end());
    }
    Byte_Vector bytes = Build_Eit_Section(section);
    if (airing.Damaged > 0)
      bytes[bytes.size() - static_cast<std::size_t>(airing.Damaged)] ^= airing.Damage_Bit;
    Ts_Packet_Options options;
    options.Pack_Sections = airing.Packed || airing.Followed;
    std::vector<Byte_Vector> sections = {Filler_Section(0x40, 1), bytes};
    if (airing.Followed)
      sections.push_back(Filler_Section(0x41, 1));
    const std::size_t first_packet = writer.Bytes.size() + Ts_Packet_Size; // behind the filler's
    Write_Sections(writer, Eit_Pid, sections, options);
    if (airing.Repeated_Packet >= 0) {
      const long at =
          static_cast<long>(first_packet) + airing.Repeated_Packet * long{Ts_Packet_Size};
      const Byte_Vector packet(writer.Bytes.begin() + at,
                               writer.Bytes.begin() + at + Ts_Packet_Size);
      writer.Bytes.insert(writer.Bytes.begin() + at + Ts_Packet_Size, packet.begin(), packet.end());
    }
  }
  for (int i = 0; !cut && i < 6; ++i)
    Write_Section(writer, Eit_Pid, Filler_Section(static_cast<uint16_t>(0x50 + i), 2));
  return writer.Bytes;
}

// portal-scan's pass over a capture with the explanation beside it, as
// --explain runs it: every payload to the reassembler (the flagged ones
// counted), every decoder step to the evidence.
struct Explained {
  Section_Reassembler Reassembler;
  Capture_Evidence Evidence;
  Scan_Outcome Outcome;
};

void Take_Payload(const uint8_t *payload, int32_t size, bool unit_start, bool flagged,
                  int32_t continuity, uint64_t packet_offset, void *context) {
  Explained &explained = *static_cast<Explained *>(context);
  if (flagged)
    Explain_Take_Flagged(payload, size, unit_start, explained.Evidence);
  else
    Reassemble_Payload(explained.Reassembler, payload, size, unit_start, continuity, packet_offset);
}

std::unique_ptr<Explained> Explain_Capture(const Byte_Vector &bytes, Feed_Unit feed) {
  auto explained = std::make_unique<Explained>();
  Explain_Attach(explained->Reassembler, explained->Evidence);
  Scan_Setup setup;
  setup.Feed = feed;
  setup.Consumer = Take_Payload;
  setup.Consumer_Context = explained.get();
  Explain_Observe(setup, explained->Evidence);
  Ts_Reader reader;
  Open_Ts_Memory(reader, bytes.data(), bytes.size());
  explained->Outcome = Scan_Capture(reader, setup);
  Close_Ts_Reader(reader);
  return explained;
}

// The decoder's list told otherwise than it was, for a verdict on a decoder
// that went wrong.
void Unaccented(Portal_Evidence &evidence) {
  std::memcpy(evidence.Account.List.Entries[0].Name, "Schoene \"Welt\"", 15);
}

// Each capture through the real pass, the decoders telling the explanation
// their steps: the verdict names the rule the decoder went by, and says
// "disagree" only where the decoder's account and the air differ.
TEST(Portal_Explain, VerdictsFollowTheDecodersAccount) {
  struct Case {
    int Portal;
    std::vector<Airing> Airings;
    Verdict_Kind Kind;
    const char *Says;
    const char *Json; // counts and anything else the case is about
    Feed_Unit Feed = Feed_Unit::Payloads;
    bool Cut = false;
    void (*Tamper)(Portal_Evidence &) = nullptr;
  };
  const Case cases[] = {
      {0,
       {{Three, 1}, {Renamed, 2, false, 5}, {Renamed, 2}},
       Verdict_Kind::Shown,
       "the plug-in shows these 3 entries; by rule 1 (sound); later copies on air carry version 2",
       "\"repetitions\": 3, \"versions\": [1, 2], \"crc_failures\": 1, \"at_payload_start\": 3, "
       "\"packed\": 0"},
      {3, {}, Verdict_Kind::Not_On_Air, "not on air", "\"repetitions\": 0"},
      {1,
       {{Three, 1, true}},
       Verdict_Kind::Shown_Packed,
       "shows these 3 entries, found inside a packet, packed behind another section",
       "\"rule\": 1, \"rule_name\": \"sound\""},
      {1,
       {{Three, 1, true}},
       Verdict_Kind::Shown_Packed,
       "found inside a packet, packed behind another section (no pointer field in front); taken "
       "from the whole 188-byte packets",
       "\"verdict\": \"shown_packed\"",
       Feed_Unit::Packets},
      {0,
       {{Three}},
       Verdict_Kind::Shown_From_Packets,
       "shows these 3 entries, taken from the whole 188-byte packets it was handed",
       "\"verdict\": \"shown_from_packets\"",
       Feed_Unit::Packets},
      {2,
       {{Many(12), 1, false, 0, 1, true}},
       Verdict_Kind::Shown_Mended,
       "packed behind another section (no pointer field in front); by rule 2 (stray pointer "
       "field taken out)",
       "\"rule\": 2, \"rule_name\": \"stray pointer field taken out\""},
      {3, // one byte damaged differently in each copy: no copy mends the other
       {{Three, 1, false, 5}, {Three, 1, false, 5, 1, false, false, -1, 0x02}},
       Verdict_Kind::Shown_Unchecked,
       "shows 3 entries of a copy that fails its CRC, by rule 5 (unchecked)",
       "\"verdict\": \"shown_unchecked\""},
      {1,
       {{Three, 1, false, 5}, {Three, 1, false, 5}},
       Verdict_Kind::Shown_As_Carried,
       "by rule 3 (the same failure twice)",
       "\"crc_failures\": 2, \"at_payload_start\": 2, \"packed\": 0, \"entries\": []"},
      {2,
       {{Three}},
       Verdict_Kind::Too_Short,
       "the capture ends before the plug-in has gathered the 920 bytes it looks at (it was "
       "handed 552)",
       "\"verdict\": \"too_short\"",
       Feed_Unit::Payloads,
       true},
      {0,
       {{Long_Name}},
       Verdict_Kind::Shown,
       "shows these 3 entries; by rule 1 (sound); it passes over 1 portal descriptor of the "
       "section, the first \"Ein sehr langer Kanalname\" (descriptor_length 32, not 5 to 30)",
       "\"refused\": 1"},
      {2,
       {{Three, 1, false, 5}, {Three, 1, true, 5}},
       Verdict_Kind::Damaged,
       "damaged in every repetition (2 on air); the plug-in decoded none: 2 candidates (before "
       "the last: rule 6 (failed and remembered) 1); the last at byte 77 of the payload of the "
       "packet at offset 564, behind byte 0xF8, section length 105, CRC failed, judged with a "
       "failing copy kept before: the same bytes, rule 7 (failed and passed over)",
       "\"crc_failures\": 2, \"at_payload_start\": 1, \"packed\": 1, \"entries\": []"},
      {1,
       {{Three, 1, false, 0, 0}},
       Verdict_Kind::Not_On_Air,
       "not on air in this capture (1 other section of service 513: last_section_number 0, not 1)",
       "\"repetitions\": 0, \"versions\": [], \"crc_failures\": 0, \"at_payload_start\": 0, "
       "\"packed\": 0, \"entries\": [], \"refused\": 0, \"flagged\": 0, \"repeat_seconds\": null, "
       "\"other_sections\": 1, \"decoded_at\": null, \"rule\": null"},
      // The decoder's byte walk takes a portal descriptor's bytes inside an
      // event's text for an entry: the air lists 3.
      {0,
       {{Three, 1, false, 0, 1, false, true}},
       Verdict_Kind::Disagree,
       "the plug-in and the section disagree: count differs: the plug-in has 4, the section "
       "lists 3",
       "\"rule\": 1"},
      // A packet sent twice reaches the decoder twice, the reassembler once:
      // the decoder takes the copy behind the first packet's second coming,
      // which is the copy on air; a copy with its middle packet twice it
      // makes whole by taking that packet once.
      {3,
       {{Many(17), 1, false, 0, 1, false, false, 0}},
       Verdict_Kind::Shown,
       "the plug-in shows these 17 entries; by rule 1 (sound)",
       "\"decoded_at\": 564"},
      {3,
       {{Many(17), 1, false, 0, 1, false, false, 1}},
       Verdict_Kind::Shown_Repaired,
       "the plug-in shows 17 entries of a copy that fails its CRC, by rule 4 (repaired)",
       "\"decoded_at\": 376"},
      {3,
       {{Accented}},
       Verdict_Kind::Disagree,
       "entry 0's name differs: the plug-in has \"Schoene \"Welt\"\", the section lists "
       "\"Sch\xC3\xB6ne \"Welt\"\"",
       "{\"name\": \"Sch\xC3\xB6ne \\\"Welt\\\"\", \"transport_stream_id\": 4, \"service_id\": "
       "311}",
       Feed_Unit::Payloads,
       false,
       Unaccented},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Says);
    const std::unique_ptr<Explained> explained =
        Explain_Capture(Capture_Of(c.Portal, c.Airings, c.Cut), c.Feed);
    Portal_Evidence &portal = explained->Evidence.Portals[static_cast<std::size_t>(c.Portal)];
    if (c.Tamper != nullptr)
      c.Tamper(portal);
    const Portal_Verdict verdict =
        Portal_Explain(portal, explained->Outcome.Portals[static_cast<std::size_t>(c.Portal)]);
    EXPECT_EQ(verdict.Kind, c.Kind) << verdict.Says;
    EXPECT_NE(verdict.Says.find(c.Says), std::string::npos) << verdict.Says;
    const std::string json = Explain_Json(portal, verdict);
    EXPECT_NE(json.find(c.Json), std::string::npos) << json;
    EXPECT_NE(Explain_Text(portal, verdict).find(verdict.Says), std::string::npos);
  }
}

} // namespace
