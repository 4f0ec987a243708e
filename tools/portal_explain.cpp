// portal-scan --explain: collects each portal's source section from the
// reassembled sections, walks its events and descriptor loops, and compares
// the result with the decoder's table row. All verdicts are given here, in
// Portal_Explain and the helpers above it.
#include "tools/portal_explain.h"

#include "tools/text_json.h"

namespace {

constexpr uint8_t Eit_Table_First = 0x4E; // EIT present/following actual
constexpr uint8_t Eit_Table_Last = 0x6F;  // EIT schedule other, last table
constexpr int32_t Service_Id_End = 5;     // table_id, section_length, service_id
constexpr int32_t Eit_Header_Size = 14;   // table_id to last_table_id
constexpr int32_t Event_Header_Size = 12; // event_id to descriptors_loop_length
constexpr int32_t Crc_Size = 4;
constexpr int32_t Loop_Length_Mask = 0x0FFF;
constexpr uint8_t Linkage_Tag = 0x4A;
constexpr int32_t Linkage_Fixed_Size = 7; // ts id, network id, service id, type

// What the decoder insists on in a source section header.
constexpr uint8_t Wanted_Length_Flags = 0xF;
constexpr int32_t Wanted_Section_Length_Over = 15;
constexpr uint8_t Wanted_Last_Section_Number = 1;
constexpr uint8_t Wanted_Segment_Last_Section_Number = 1;

int32_t Word(const uint8_t *at) {
  return (at[0] << 8) | at[1];
}

// The portal whose source section this is, or -1.
int32_t Source_Portal(const uint8_t *s, int32_t size) {
  if (size < Eit_Header_Size || s[0] < Eit_Table_First || s[0] > Eit_Table_Last || s[6] != 0 ||
      Word(s + 10) != Portal_Original_Network_Id)
    return -1;
  for (int32_t portal = 0; portal < Portal_Total; ++portal) {
    const Portal_Constants &constants = Portal_Constants_Table[static_cast<std::size_t>(portal)];
    if (Word(s + 3) == constants.Source_Service_Id &&
        Word(s + 8) == constants.Source_Transport_Stream_Id)
      return portal;
  }
  return -1;
}

void Note_Version(Portal_Evidence &evidence, uint8_t version) {
  for (int32_t i = 0; i < evidence.Version_Count; ++i)
    if (evidence.Versions[static_cast<std::size_t>(i)] == version)
      return;
  evidence.Versions[static_cast<std::size_t>(evidence.Version_Count++)] = version;
}

// Takes the portal linkage descriptors of one event's loop [at, end).
void Read_Descriptor_Loop(const uint8_t *s, int32_t at, int32_t end, Portal_Evidence &evidence) {
  while (at + 2 <= end) {
    const int32_t length = s[at + 1];
    const int32_t next = at + 2 + length;
    if (next > end)
      return;
    if (s[at] == Linkage_Tag && length >= Linkage_Fixed_Size &&
        Word(s + at + 4) == Portal_Original_Network_Id && s[at + 8] == Portal_Linkage_Type &&
        evidence.Entry_Count < Portal_Entry_Total) {
      Explain_Entry &entry = evidence.Entries[static_cast<std::size_t>(evidence.Entry_Count++)];
      entry.Transport_Stream_Id = static_cast<uint16_t>(Word(s + at + 2));
      entry.Service_Id = static_cast<uint16_t>(Word(s + at + 6));
      entry.Name.assign(reinterpret_cast<const char *>(s + at + 2 + Linkage_Fixed_Size),
                        static_cast<std::size_t>(length - Linkage_Fixed_Size));
    }
    at = next;
  }
}

// Walks the event loop; stops at the first event that overruns the section.
void Read_Entries(const uint8_t *s, int32_t size, Portal_Evidence &evidence) {
  evidence.Entry_Count = 0;
  const int32_t end = size - Crc_Size;
  int32_t at = Eit_Header_Size;
  while (at + Event_Header_Size <= end) {
    const int32_t loop_end =
        at + Event_Header_Size + (Word(s + at + Event_Header_Size - 2) & Loop_Length_Mask);
    if (loop_end > end)
      return;
    Read_Descriptor_Loop(s, at + Event_Header_Size, loop_end, evidence);
    at = loop_end;
  }
}

std::string Quoted_Name(const std::string &latin1) {
  return "\"" + Printable_Latin1(latin1) + "\"";
}

std::string Ids(int32_t transport_stream_id, int32_t service_id) {
  return "TS id " + std::to_string(transport_stream_id) + ", service id " +
         std::to_string(service_id);
}

// How the decoder's row differs from the last sound copy; empty if it does
// not. The decoder replaces the whole row only for two entries or more; a
// single entry overwrites entry 0, none changes nothing.
std::string Entry_Difference(const Portal_Evidence &evidence, const Portal_Result &result) {
  const int32_t count = evidence.Entry_Count;
  if (count >= 2 && result.Listing.Count != count)
    return "count differs: the plug-in has " + std::to_string(result.Listing.Count) +
           ", the section lists " + std::to_string(count);
  for (int32_t k = 0; k < count; ++k) {
    const Portal_Entry &shown = result.Listing.Entries[static_cast<std::size_t>(k)];
    const Explain_Entry &listed = evidence.Entries[static_cast<std::size_t>(k)];
    const std::string entry = "entry " + std::to_string(k);
    if (Entry_Name_Bytes(shown) != listed.Name)
      return entry + "'s name differs: the plug-in has " + Quoted_Name(Entry_Name_Bytes(shown)) +
             ", the section lists " + Quoted_Name(listed.Name);
    if (shown.Transport_Stream_Id != listed.Transport_Stream_Id ||
        shown.Service_Id != listed.Service_Id)
      return entry + "'s ids differ: the plug-in has " +
             Ids(shown.Transport_Stream_Id, shown.Service_Id) + ", the section lists " +
             Ids(listed.Transport_Stream_Id, listed.Service_Id);
  }
  return "";
}

void Add_Requirement(std::string &out, const std::string &field, const std::string &wanted,
                     int32_t has) {
  out += (out.empty() ? "" : "; ") + field + " " + wanted + " (the section has " +
         std::to_string(has) + ")";
}

// The header fields of the last sound copy that keep the decoder from
// matching it; empty if none.
std::string Header_Difference(const Portal_Evidence &evidence) {
  std::string out;
  if (evidence.Length_Flags != Wanted_Length_Flags)
    Add_Requirement(out, "the top bits of section_length's word", "all set", evidence.Length_Flags);
  if (evidence.Section_Length <= Wanted_Section_Length_Over)
    Add_Requirement(out, "section_length", "over 15", evidence.Section_Length);
  if (evidence.Last_Section_Number != Wanted_Last_Section_Number)
    Add_Requirement(out, "last_section_number", "1", evidence.Last_Section_Number);
  if (evidence.Segment_Last_Section_Number != Wanted_Segment_Last_Section_Number)
    Add_Requirement(out, "segment_last_section_number", "1", evidence.Segment_Last_Section_Number);
  return out;
}

Portal_Verdict Verdict(Verdict_Kind kind, const std::string &says) {
  return Portal_Verdict{kind, says};
}

Portal_Verdict Disagree(const std::string &how) {
  return Verdict(Verdict_Kind::Disagree, "the plug-in and the section disagree: " + how);
}

Portal_Verdict Decoded_Verdict(const Portal_Evidence &evidence, const Portal_Result &result) {
  const std::string difference = Entry_Difference(evidence, result);
  if (!difference.empty())
    return Disagree(difference + (evidence.Version_Count > 1
                                      ? " (the section changed version during the capture; the "
                                        "plug-in keeps the first copy it decodes)"
                                      : ""));
  if (evidence.Entry_Count == 0)
    return Verdict(Verdict_Kind::Shown, "the section lists no entries; the plug-in keeps its own");
  const std::string shows =
      "the plug-in shows these " + std::to_string(evidence.Entry_Count) + " entries";
  if (result.Way == Decode_Way::Stray_Pointer_Taken_Out)
    return Verdict(Verdict_Kind::Shown_Mended,
                   shows + ", once it has taken out the pointer field of the next section, "
                           "which starts in this one's last packet");
  return Verdict(Verdict_Kind::Shown, shows);
}

std::string Copies(int32_t count) {
  return std::to_string(count) + (count == 1 ? " copy" : " copies");
}

// The plug-in met the same failing copy twice running and decoded it as it
// arrives, unchecked: that is how the stream carries it.
Portal_Verdict Carried_Verdict(const Portal_Evidence &evidence, const Portal_Result &result) {
  const int32_t count = result.Listing.Count;
  std::string says = "every copy the plug-in found fails its CRC the same way, so it shows the "
                     "section as it arrives: " +
                     std::to_string(count) + (count == 1 ? " entry" : " entries");
  const std::string difference = evidence.Sound_Seen ? Entry_Difference(evidence, result) : "";
  if (!difference.empty())
    says += "; against the last sound copy, " + difference;
  return Verdict(Verdict_Kind::Shown_As_Carried, says);
}

} // namespace

bool Explain_Wants_Section(const uint8_t *head, int32_t size, void *) {
  if (size < Service_Id_End || head[0] < Eit_Table_First || head[0] > Eit_Table_Last)
    return false;
  for (const Portal_Constants &constants : Portal_Constants_Table)
    if (Word(head + 3) == constants.Source_Service_Id)
      return true;
  return false;
}

void Explain_Take_Section(const Reassembled_Section &section, void *context) {
  const uint8_t *s = section.Bytes;
  const int32_t portal = Source_Portal(s, section.Size);
  if (portal < 0)
    return;
  Portal_Evidence &evidence =
      static_cast<Capture_Evidence *>(context)->Portals[static_cast<std::size_t>(portal)];
  ++evidence.Repetitions;
  ++(section.At_Payload_Start ? evidence.At_Payload_Start : evidence.Packed);
  if (!section.Crc_Ok) {
    ++evidence.Crc_Failures;
    return;
  }
  Note_Version(evidence, static_cast<uint8_t>((s[5] >> 1) & 0x1F));
  evidence.Sound_Seen = true;
  evidence.Length_Flags = static_cast<uint8_t>(s[1] >> 4);
  evidence.Section_Length = Word(s + 1) & 0x0FFF;
  evidence.Last_Section_Number = s[7];
  evidence.Segment_Last_Section_Number = s[12];
  Read_Entries(s, section.Size, evidence);
}

void Explain_Take_Flagged(const uint8_t *payload, int32_t size, bool unit_start,
                          Capture_Evidence &evidence) {
  if (!unit_start || size < 1 || payload[0] >= size - 1)
    return;
  const int32_t at = 1 + payload[0];
  const int32_t portal = Source_Portal(payload + at, size - at);
  if (portal >= 0)
    ++evidence.Portals[static_cast<std::size_t>(portal)].Flagged;
}

void Explain_Attach(Section_Reassembler &reassembler, Capture_Evidence &evidence) {
  reassembler.Deliver = Explain_Take_Section;
  reassembler.Want = Explain_Wants_Section;
  reassembler.Context = &evidence;
}

Portal_Verdict Portal_Explain(const Portal_Evidence &evidence, const Portal_Result &result) {
  if (result.Decoded && result.Way == Decode_Way::As_Carried)
    return Carried_Verdict(evidence, result);
  if (evidence.Repetitions == 0 && evidence.Flagged > 0)
    return Verdict(Verdict_Kind::Damaged,
                   "on air only in packets flagged with the transport error indicator (" +
                       Copies(evidence.Flagged) + "), which a receiver drops" +
                       (result.Decoded ? "; yet the plug-in decoded a source section" : ""));
  if (evidence.Repetitions == 0)
    return result.Decoded ? Disagree("the plug-in decoded a source section, but no whole copy of "
                                     "it is in the capture")
                          : Verdict(Verdict_Kind::Not_On_Air, "not on air in this capture");
  if (!evidence.Sound_Seen)
    return Verdict(
        Verdict_Kind::Damaged,
        "on air but damaged in every repetition (" + std::to_string(evidence.Repetitions) +
            " on air" +
            (evidence.Flagged > 0 ? ", " + Copies(evidence.Flagged) + " more flagged" : "") + ")" +
            (result.Decoded ? "; the plug-in decoded a damaged copy" : ""));
  if (result.Decoded)
    return Decoded_Verdict(evidence, result);
  const std::string header = Header_Difference(evidence);
  if (!header.empty())
    return Disagree("the plug-in requires " + header);
  if (evidence.At_Payload_Start == 0)
    return Verdict(Verdict_Kind::Only_Packed,
                   "on air but only packed behind other sections, which the plug-in cannot find");
  return Disagree("the plug-in found nothing although the section starts at a payload start");
}

const char *Verdict_Word(Verdict_Kind kind) {
  switch (kind) {
  case Verdict_Kind::Shown:
    return "shown";
  case Verdict_Kind::Shown_Mended:
    return "shown_mended";
  case Verdict_Kind::Shown_As_Carried:
    return "shown_as_carried";
  case Verdict_Kind::Not_On_Air:
    return "not_on_air";
  case Verdict_Kind::Only_Packed:
    return "only_packed";
  case Verdict_Kind::Damaged:
    return "damaged";
  case Verdict_Kind::Disagree:
    break;
  }
  return "disagree";
}
