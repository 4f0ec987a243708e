// Captures written with the stream toolkit, read back through the capture
// reader, the section reassembler and portal-scan's explain step: sections
// come back whole whatever the packet layout or damage, and each portal's
// verdict names what kept the plug-in from showing its list, if anything.
#include "core/host_contract.h"
#include "stream/eit_writer.h"
#include "stream/section_reassembler.h"
#include "stream/ts_reader.h"
#include "stream/ts_writer.h"
#include "tools/portal_explain.h"
#include "tools/portal_scan_output.h"

#include <gtest/gtest.h>

#include <cstring>
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
const Entries Plain = {{4, 311, "Schoene \"Welt\""}, {4, 312, "Kino Zwei"}};
const Entries Long_Name = {{4, 301, "Kino Eins"},
                           {4, 302, "Sportfeld 2"},
                           {4, 303, "Serienwelt"},
                           {4, 304, "Ein sehr langer Kanalname"}};
const Entries Hurt = {{4, 301, "Kino Eins"}, {4, 302, "Sportfeld 2"}, {4, 303, "Serienwelu"}};

struct Airing {
  Entries Listed;
  uint8_t Version = 1;
  bool Packed = false;  // behind a filler section
  bool Damaged = false; // a bit flipped in the last name
  uint8_t Last_Section_Number = 1;
};

// Every capture also carries a filler section and another portal's section.
Byte_Vector Capture_Of(int portal, const std::vector<Airing> &airings) {
  Ts_Writer writer;
  Write_Section(writer, Eit_Pid, Build_Eit_Section(Portal_Source_Section((portal + 1) % 4, Three)));
  for (const Airing &airing : airings) {
    Eit_Section section = Portal_Source_Section(portal, airing.Listed);
    section.Version_Number = airing.Version;
    section.Last_Section_Number = airing.Last_Section_Number;
    Byte_Vector bytes = Build_Eit_Section(section);
    bytes[bytes.size() - 5] ^= airing.Damaged ? 0x01 : 0x00;
    Ts_Packet_Options options;
    options.Pack_Sections = airing.Packed;
    Write_Sections(writer, Eit_Pid, {Filler_Section(0x40, 1), bytes}, options);
  }
  return writer.Bytes;
}

// What the plug-in's decoder left: `fed` bytes handed to it, by default
// enough for it to look.
Portal_Result Outcome(bool decoded, const Entries &shown, Judgement way = Judgement::Sound,
                      bool inside_packet = false, bool from_packets = false,
                      uint64_t fed = Scan_Threshold) {
  Portal_Result outcome;
  outcome.Decoded = decoded;
  outcome.Way = decoded ? way : Judgement::None;
  outcome.Inside_Packet = inside_packet;
  outcome.From_Packets = from_packets;
  outcome.Bytes_Fed = fed;
  outcome.Listing.Count = static_cast<int32_t>(shown.size());
  for (std::size_t k = 0; k < shown.size(); ++k) {
    Portal_Entry &entry = outcome.Listing.Entries[k];
    std::memcpy(entry.Name, shown[k].Name.data(), shown[k].Name.size());
    entry.Transport_Stream_Id = shown[k].Transport_Stream_Id;
    entry.Service_Id = shown[k].Service_Id;
  }
  return outcome;
}

TEST(Portal_Explain, VerdictsNameWhatTheCaptureCarriesAndThePluginMissed) {
  struct Case {
    int Portal;
    std::vector<Airing> Airings;
    Portal_Result Plugin;
    Verdict_Kind Kind;
    const char *Says;
    const char *Json; // counts and anything else the case is about
  };
  const Case cases[] = {
      {0,
       {{Three, 1}, {Renamed, 2, false, true}, {Renamed, 2}},
       Outcome(true, Renamed),
       Verdict_Kind::Shown,
       "the plug-in shows these 3 entries",
       "\"repetitions\": 3, \"versions\": [1, 2], \"crc_failures\": 1, \"at_payload_start\": 3, "
       "\"packed\": 0"},
      {3, {}, Outcome(false, {}), Verdict_Kind::Not_On_Air, "not on air", "\"repetitions\": 0"},
      {1,
       {{Three, 1, true}},
       Outcome(false, {}),
       Verdict_Kind::Disagree,
       "found nothing although a sound copy is on air, packed behind another section",
       "\"at_payload_start\": 0, \"packed\": 1"},
      {1,
       {{Three, 1, true}},
       Outcome(true, Three, Judgement::Sound, true),
       Verdict_Kind::Shown_Packed,
       "shows these 3 entries, found inside a packet, packed behind another section",
       "\"verdict\": \"shown_packed\""},
      {1,
       {{Three, 1, true}},
       Outcome(true, Three, Judgement::Stray_Pointer_Taken_Out, true, true),
       Verdict_Kind::Shown_Mended,
       "pointer field of the next section, which starts in this one's last packet; found inside "
       "a packet, packed behind another section (no pointer field in front); taken from the "
       "whole 188-byte packets",
       "\"verdict\": \"shown_mended\""},
      {0,
       {{Three}},
       Outcome(true, Three, Judgement::Sound, false, true),
       Verdict_Kind::Shown_From_Packets,
       "shows these 3 entries, taken from the whole 188-byte packets it was handed",
       "\"verdict\": \"shown_from_packets\""},
      {3,
       {{Three, 1, false, true}, {Three, 1, true, true}},
       Outcome(true, Hurt, Judgement::Unchecked),
       Verdict_Kind::Shown_Unchecked,
       "fails its CRC, so it shows one unchecked, as it arrives, until a sound copy replaces it: "
       "3 entries",
       "\"verdict\": \"shown_unchecked\""},
      {2,
       {{Three}},
       Outcome(false, {}, Judgement::None, false, false, Scan_Threshold - 1),
       Verdict_Kind::Too_Short,
       "the capture ends before the plug-in has gathered the 920 bytes it looks at (it was "
       "handed 919)",
       "\"verdict\": \"too_short\""},
      {0,
       {{Long_Name}},
       Outcome(true, Three),
       Verdict_Kind::Disagree,
       "the plug-in passes over 1 portal descriptor of the section, the first \"Ein sehr langer "
       "Kanalname\" (descriptor_length 32, not 5 to 30)",
       "\"refused\": 1"},
      {2,
       {{Three, 1, false, true}, {Three, 1, true, true}},
       Outcome(false, {}),
       Verdict_Kind::Damaged,
       "damaged in every repetition",
       "\"crc_failures\": 2, \"at_payload_start\": 1, \"packed\": 1, \"entries\": []"},
      {0,
       {{Three}},
       Outcome(true, {Three[0], Three[1]}),
       Verdict_Kind::Disagree,
       "count differs",
       "\"verdict\": \"disagree\""},
      {3,
       {{Accented}},
       Outcome(true, Plain),
       Verdict_Kind::Disagree,
       "entry 0's name differs: the plug-in has \"Schoene \"Welt\"\", the section lists "
       "\"Sch\xC3\xB6ne \"Welt\"\"",
       "{\"name\": \"Sch\xC3\xB6ne \\\"Welt\\\"\", \"transport_stream_id\": 4, \"service_id\": "
       "311}"},
      {1,
       {{Three, 1, false, false, 0}},
       Outcome(false, {}),
       Verdict_Kind::Disagree,
       "requires last_section_number 1 (the section has 0)",
       "\"at_payload_start\": 1"},
      {2,
       {{Three}},
       Outcome(false, {}),
       Verdict_Kind::Disagree,
       "found nothing although the section starts at a payload start",
       "\"repetitions\": 1"},
      {2,
       {{Three}},
       Outcome(true, Three, Judgement::Stray_Pointer_Taken_Out),
       Verdict_Kind::Shown_Mended,
       "shows these 3 entries, once it has taken out the pointer field of the next section",
       "\"verdict\": \"shown_mended\""},
      {1,
       {{Three, 1, false, true}, {Three, 1, false, true}},
       Outcome(true, Hurt, Judgement::As_Carried),
       Verdict_Kind::Shown_As_Carried,
       "fails its CRC the same way, so it shows the section as it arrives: 3 entries",
       "\"crc_failures\": 2, \"at_payload_start\": 2, \"packed\": 0, \"entries\": []"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.Says);
    Capture_Evidence evidence;
    Section_Reassembler reassembler;
    Explain_Attach(reassembler, evidence);
    Feed_Capture(Capture_Of(c.Portal, c.Airings), reassembler);
    const Portal_Evidence &portal = evidence.Portals[static_cast<std::size_t>(c.Portal)];
    const Portal_Verdict verdict = Portal_Explain(portal, c.Plugin);
    EXPECT_EQ(verdict.Kind, c.Kind);
    EXPECT_NE(verdict.Says.find(c.Says), std::string::npos) << verdict.Says;
    const std::string json = Explain_Json(portal, verdict);
    EXPECT_NE(json.find(c.Json), std::string::npos) << json;
    EXPECT_NE(Explain_Text(portal, verdict).find(verdict.Says), std::string::npos);
  }
}

} // namespace
