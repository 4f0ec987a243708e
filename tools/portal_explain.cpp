// portal-scan --explain: collects each portal's source section from the
// reassembled sections, walks its events and descriptor loops, and compares
// the result with the decoder's table row. What the decoder insists on is
// judged by its own rule (core/portal_section_rule.h), never restated here.
// All verdicts are given here, in Portal_Explain and the helpers above it.
#include "tools/portal_explain.h"

#include "core/portal_section_rule.h"
#include "core/section_decoder.h"
#include "stream/eit_writer.h"
#include "tools/text_json.h"

namespace {

constexpr int32_t Version_Shift = 1; // version_number: bits 5-1 of its byte
constexpr uint8_t Version_Mask = Version_Total - 1;

const Portal_Constants &Constants_Of(int32_t portal) {
  return Portal_Constants_Table[static_cast<std::size_t>(portal)];
}

// A source section header of `portal` that the decoder's rule accepts, from
// table_id on: the stream writer's.
std::array<uint8_t, Eit_Header_Size> Accepted_Header(int32_t portal) {
  const Byte_Vector bytes = Portal_Header_Bytes(portal, Section_Length_Min);
  std::array<uint8_t, Eit_Header_Size> header{};
  std::copy(bytes.end() - Eit_Header_Size, bytes.end(), header.begin());
  return header;
}

bool Is_Eit(uint8_t table_id) {
  return table_id >= Eit_Table_Id_First && table_id <= Eit_Table_Id_Last;
}

// The portal whose source section this is, or -1: an EIT section of the
// portal's source service and transport stream on the portal network, with
// the section number the decoder looks for. Its other header fields are
// judged later, to say what keeps the decoder from it.
int32_t Source_Portal(const uint8_t *s, int32_t size) {
  if (size < Eit_Header_Size || !Is_Eit(s[Section_Table_Id_Offset]) ||
      Big_Endian_16(s + Eit_Original_Network_Id_Offset) != Portal_Original_Network_Id)
    return -1;
  for (int32_t portal = 0; portal < Portal_Total; ++portal) {
    const Portal_Constants &constants = Constants_Of(portal);
    if (Big_Endian_16(s + Eit_Service_Id_Offset) == constants.Source_Service_Id &&
        Big_Endian_16(s + Eit_Transport_Stream_Id_Offset) == constants.Source_Transport_Stream_Id &&
        s[Eit_Section_Number_Offset] == Accepted_Header(portal)[Eit_Section_Number_Offset])
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

Explain_Entry Entry_At(const uint8_t *at) {
  Explain_Entry entry;
  entry.Descriptor_Length = at[1];
  entry.Transport_Stream_Id =
      static_cast<uint16_t>(Big_Endian_16(at + Linkage_Transport_Stream_Id_Offset));
  entry.Service_Id = static_cast<uint16_t>(Big_Endian_16(at + Linkage_Service_Id_Offset));
  entry.Name.assign(reinterpret_cast<const char *>(at + Linkage_Private_Data_Offset),
                    static_cast<std::size_t>(at[1] - Linkage_Fixed_Bytes));
  return entry;
}

// Takes the portal linkage descriptors of one event's loop [at, end): the
// linkage descriptors of linkage type Portal_Linkage_Type from the portal
// network, as the section lists them, sorted into those the decoder's rule
// takes and those it passes over.
void Read_Descriptor_Loop(const uint8_t *s, int32_t at, int32_t end, Portal_Evidence &evidence) {
  while (at + Descriptor_Head_Size <= end) {
    const uint8_t *descriptor = s + at;
    const int32_t length = descriptor[1];
    const int32_t next = at + Descriptor_Head_Size + length;
    if (next > end)
      return;
    at = next;
    if (descriptor[0] != Linkage_Descriptor_Tag || length < Linkage_Fixed_Bytes ||
        Big_Endian_16(descriptor + Linkage_Original_Network_Id_Offset) !=
            Portal_Original_Network_Id ||
        descriptor[Linkage_Type_Offset] != Portal_Linkage_Type)
      continue;
    if (!Matches_Portal_Descriptor(descriptor)) {
      if (evidence.Refused++ == 0)
        evidence.First_Refused = Entry_At(descriptor);
    } else if (evidence.Entry_Count < Portal_Entry_Total) {
      evidence.Entries[static_cast<std::size_t>(evidence.Entry_Count++)] = Entry_At(descriptor);
    }
  }
}

// Walks the event loop; stops at the first event that overruns the section.
void Read_Entries(const uint8_t *s, int32_t size, Portal_Evidence &evidence) {
  evidence.Entry_Count = 0;
  evidence.Refused = 0;
  const int32_t end = size - Section_Crc_Size;
  int32_t at = Eit_Header_Size;
  while (at + Eit_Event_Header_Size <= end) {
    const int32_t loop_end =
        at + Eit_Event_Header_Size +
        (Big_Endian_16(s + at + Eit_Event_Header_Size - 2) & Eit_Loop_Length_Mask);
    if (loop_end > end)
      return;
    Read_Descriptor_Loop(s, at + Eit_Event_Header_Size, loop_end, evidence);
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

// The values of the byte at `offset` that the decoder's rule takes in an
// otherwise accepted header of `portal`, in words: "1", "1 to 3", "one of
// 1, 5".
std::string Accepted_Values(int32_t portal, int32_t offset) {
  std::array<uint8_t, Eit_Header_Size> header = Accepted_Header(portal);
  std::vector<int32_t> taken;
  for (int32_t value = 0; value <= UINT8_MAX; ++value) {
    header[static_cast<std::size_t>(offset)] = static_cast<uint8_t>(value);
    if (Matches_Source_Fields(header.data(), Constants_Of(portal)))
      taken.push_back(value);
  }
  if (taken.empty())
    return "none";
  if (taken.size() == 1)
    return std::to_string(taken[0]);
  if (taken.back() - taken.front() + 1 == static_cast<int32_t>(taken.size()))
    return std::to_string(taken.front()) + " to " + std::to_string(taken.back());
  std::string out = "one of";
  for (std::size_t i = 0; i < taken.size(); ++i)
    out += (i ? ", " : " ") + std::to_string(taken[i]);
  return out;
}

void Put_Length_Word(std::array<uint8_t, Eit_Header_Size> &header, int32_t word) {
  header[Section_Length_Offset] = static_cast<uint8_t>(word >> 8);
  header[Section_Length_Offset + 1] = static_cast<uint8_t>(word);
}

// The header fields of the last sound copy that keep the decoder's rule from
// taking it; empty if none. Each field is judged alone, in a header the rule
// otherwise accepts.
std::string Header_Difference(const Portal_Evidence &evidence) {
  const uint8_t *has = evidence.Header.data();
  const int32_t portal = evidence.Portal;
  const std::array<uint8_t, Eit_Header_Size> accepted = Accepted_Header(portal);
  const int32_t word = Big_Endian_16(has + Section_Length_Offset);
  const int32_t accepted_word = Big_Endian_16(accepted.data() + Section_Length_Offset);
  std::string out;
  std::array<uint8_t, Eit_Header_Size> header = accepted;
  Put_Length_Word(header, (word & Section_Flag_Bits) | (accepted_word & Section_Length_Mask));
  if (Accepted_Section_Length(header.data()) == 0)
    Add_Requirement(out, "the top bits of section_length's word", "all set",
                    (word & Section_Flag_Bits) / (Section_Length_Mask + 1));
  Put_Length_Word(header, (accepted_word & Section_Flag_Bits) | (word & Section_Length_Mask));
  if (Accepted_Section_Length(header.data()) == 0)
    Add_Requirement(out, "section_length", "at least " + std::to_string(Section_Length_Min),
                    word & Section_Length_Mask);
  const struct {
    const char *Name;
    int32_t Offset;
  } fields[] = {{"last_section_number", Eit_Last_Section_Number_Offset},
                {"segment_last_section_number", Eit_Segment_Last_Section_Number_Offset}};
  for (const auto &field : fields) {
    header = accepted;
    header[static_cast<std::size_t>(field.Offset)] = has[field.Offset];
    if (!Matches_Source_Fields(header.data(), Constants_Of(portal)))
      Add_Requirement(out, field.Name, Accepted_Values(portal, field.Offset), has[field.Offset]);
  }
  return out;
}

Portal_Verdict Verdict(Verdict_Kind kind, const std::string &says) {
  return Portal_Verdict{kind, says};
}

Portal_Verdict Disagree(const std::string &how) {
  return Verdict(Verdict_Kind::Disagree, "the plug-in and the section disagree: " + how);
}

// How the decoder came to the section it shows, for the verdict: the kind
// of the first that applies and each in words.
Portal_Verdict Shown_Verdict(const Portal_Result &result, const std::string &shows) {
  Verdict_Kind kind = Verdict_Kind::Shown;
  std::string how;
  const auto add = [&](Verdict_Kind applies, const char *words) {
    kind = kind == Verdict_Kind::Shown ? applies : kind;
    how += std::string(how.empty() ? ", " : "; ") + words;
  };
  if (result.Way == Judgement::Stray_Pointer_Taken_Out)
    add(Verdict_Kind::Shown_Mended, "once it has taken out the pointer field of the next "
                                    "section, which starts in this one's last packet");
  if (result.Inside_Packet)
    add(Verdict_Kind::Shown_Packed,
        "found inside a packet, packed behind another section (no pointer field in front)");
  if (result.From_Packets)
    add(Verdict_Kind::Shown_From_Packets, "taken from the whole 188-byte packets it was handed");
  return Verdict(kind, shows + how);
}

// The portal descriptors of the section that the decoder's rule passes over,
// in words; empty if none.
std::string Refused_Entries(const Portal_Evidence &evidence) {
  if (evidence.Refused == 0)
    return "";
  const Explain_Entry &entry = evidence.First_Refused;
  const std::string why = entry.Service_Id == 0
                              ? "service id 0"
                              : "descriptor_length " + std::to_string(entry.Descriptor_Length) +
                                    ", not " + std::to_string(Portal_Descriptor_Length_Min) +
                                    " to " + std::to_string(Portal_Descriptor_Length_Max);
  return "the plug-in passes over " + std::to_string(evidence.Refused) +
         (evidence.Refused == 1 ? " portal descriptor" : " portal descriptors") +
         " of the section, the first " + Quoted_Name(entry.Name) + " (" + why + ")";
}

Portal_Verdict Decoded_Verdict(const Portal_Evidence &evidence, const Portal_Result &result) {
  const std::string difference = Entry_Difference(evidence, result);
  if (!difference.empty())
    return Disagree(difference + (evidence.Version_Count > 1
                                      ? " (the section changed version during the capture; the "
                                        "plug-in keeps the first copy it decodes)"
                                      : ""));
  const std::string refused = Refused_Entries(evidence);
  if (!refused.empty())
    return Disagree(refused);
  if (evidence.Entry_Count == 0)
    return Verdict(Verdict_Kind::Shown, "the section lists no entries; the plug-in keeps its own");
  return Shown_Verdict(result, "the plug-in shows these " + std::to_string(evidence.Entry_Count) +
                                   " entries");
}

std::string Copies(int32_t count) {
  return std::to_string(count) + (count == 1 ? " copy" : " copies");
}

// A list the plug-in made from failing copies: how (`says`), the entries
// it shows, and how they differ from the last sound copy, if one is on air.
Portal_Verdict From_Failing_Copies(Verdict_Kind kind, const std::string &says,
                                   const Portal_Evidence &evidence, const Portal_Result &result) {
  const int32_t count = result.Listing.Count;
  std::string line = says + std::to_string(count) + (count == 1 ? " entry" : " entries");
  const std::string difference = evidence.Sound_Seen ? Entry_Difference(evidence, result) : "";
  if (!difference.empty())
    line += "; against the last sound copy, " + difference;
  return Verdict(kind, line);
}

// What the plug-in shows of copies that fail their CRC, by the way it
// decoded: the same failing copy twice running, decoded as it arrives (that
// is how the stream carries it); two copies each damaged in another packet,
// made whole; or, every copy failing differently, the last one unchecked.
Portal_Verdict Failing_Verdict(const Portal_Evidence &evidence, const Portal_Result &result) {
  switch (result.Way) {
  case Judgement::As_Carried:
    return From_Failing_Copies(Verdict_Kind::Shown_As_Carried,
                               "every copy the plug-in found fails its CRC the same way, so it "
                               "shows the section as it arrives: ",
                               evidence, result);
  case Judgement::Repaired:
    return From_Failing_Copies(Verdict_Kind::Shown_Repaired,
                               "the copies the plug-in found fail their CRC, but two of them, "
                               "each damaged in another packet, gave the section back whole: it "
                               "shows these ",
                               evidence, result);
  default:
    return From_Failing_Copies(Verdict_Kind::Shown_Unchecked,
                               "every copy the plug-in found fails its CRC, so it shows one "
                               "unchecked, as it arrives, until a sound copy replaces it: ",
                               evidence, result);
  }
}

} // namespace

bool Explain_Wants_Section(const uint8_t *head, int32_t size, void *) {
  if (size < Eit_Service_Id_Offset + 2 || !Is_Eit(head[Section_Table_Id_Offset]))
    return false;
  for (const Portal_Constants &constants : Portal_Constants_Table)
    if (Big_Endian_16(head + Eit_Service_Id_Offset) == constants.Source_Service_Id)
      return true;
  return false;
}

int32_t Explain_Source_Portal(const Reassembled_Section &section) {
  return Source_Portal(section.Bytes, section.Size);
}

void Explain_Take_Section(const Reassembled_Section &section, void *context) {
  const uint8_t *s = section.Bytes;
  const int32_t portal = Source_Portal(s, section.Size);
  if (portal < 0)
    return;
  Portal_Evidence &evidence =
      static_cast<Capture_Evidence *>(context)->Portals[static_cast<std::size_t>(portal)];
  evidence.First_At = evidence.Repetitions == 0 ? section.Packet_Offset : evidence.First_At;
  evidence.Last_At = section.Packet_Offset;
  ++evidence.Repetitions;
  ++(section.At_Payload_Start ? evidence.At_Payload_Start : evidence.Packed);
  if (!section.Crc_Ok) {
    ++evidence.Crc_Failures;
    return;
  }
  Note_Version(evidence,
               static_cast<uint8_t>((s[Eit_Version_Offset] >> Version_Shift) & Version_Mask));
  evidence.Sound_Seen = true;
  evidence.Portal = portal;
  std::copy(s, s + Eit_Header_Size, evidence.Header.begin());
  Read_Entries(s, section.Size, evidence);
}

void Explain_Take_Flagged(const uint8_t *payload, int32_t size, bool unit_start,
                          Capture_Evidence &evidence) {
  if (!unit_start || size < Pointer_Field_Size || payload[0] >= size - Pointer_Field_Size)
    return;
  const int32_t at = Pointer_Field_Size + payload[0];
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
  if (result.Decoded && (result.Way == Judgement::As_Carried || result.Way == Judgement::Repaired ||
                         result.Way == Judgement::Unchecked))
    return Failing_Verdict(evidence, result);
  if (evidence.Repetitions == 0 && evidence.Flagged > 0)
    return Verdict(Verdict_Kind::Damaged,
                   "on air only in packets flagged with the transport error indicator (" +
                       Copies(evidence.Flagged) + "), which a receiver drops" +
                       (result.Decoded ? "; yet the plug-in decoded a source section" : ""));
  if (evidence.Repetitions == 0)
    return result.Decoded ? Disagree("the plug-in decoded a source section, but no whole copy of "
                                     "it is in the capture")
                          : Verdict(Verdict_Kind::Not_On_Air, "not on air in this capture");
  if (!result.Decoded && result.Bytes_Fed < static_cast<uint64_t>(Scan_Threshold))
    return Verdict(Verdict_Kind::Too_Short,
                   "the capture ends before the plug-in has gathered the " +
                       std::to_string(Scan_Threshold) + " bytes it looks at (it was handed " +
                       std::to_string(result.Bytes_Fed) + ")");
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
  return Disagree(evidence.At_Payload_Start == 0
                      ? "the plug-in found nothing although a sound copy is on air, packed "
                        "behind another section"
                      : "the plug-in found nothing although the section starts at a payload "
                        "start");
}

const char *Verdict_Word(Verdict_Kind kind) {
  switch (kind) {
  case Verdict_Kind::Shown:
    return "shown";
  case Verdict_Kind::Shown_Mended:
    return "shown_mended";
  case Verdict_Kind::Shown_Packed:
    return "shown_packed";
  case Verdict_Kind::Shown_From_Packets:
    return "shown_from_packets";
  case Verdict_Kind::Shown_As_Carried:
    return "shown_as_carried";
  case Verdict_Kind::Shown_Repaired:
    return "shown_repaired";
  case Verdict_Kind::Shown_Unchecked:
    return "shown_unchecked";
  case Verdict_Kind::Not_On_Air:
    return "not_on_air";
  case Verdict_Kind::Too_Short:
    return "too_short";
  case Verdict_Kind::Damaged:
    return "damaged";
  case Verdict_Kind::Disagree:
    break;
  }
  return "disagree";
}
