// portal-scan --explain: sorts the reassembled sections of each portal's
// service into copies of its source section and other sections, by the
// decoder's own test (core/portal_section_rule.h); gathers what the decoder
// tells of its steps; and compares the two. The decoder's rules are its own
// (the table at the top of core/section_decoder.cpp): they are named here by
// number and name, never worked out again. All verdicts are given here, in
// Portal_Explain and the helpers above it.
#include "tools/portal_explain.h"

#include "core/portal_section_rule.h"
#include "stream/eit_writer.h"
#include "tools/text_json.h"

#include <cstdio>

namespace {

constexpr std::size_t Other_Ways_Most = 4; // ways other sections differ, kept in words

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

// The portal whose service this EIT section is of (its source service and
// transport stream on the portal network), or -1.
int32_t Service_Portal(const uint8_t *s, int32_t size) {
  if (size < Eit_Header_Size || !Is_Eit_Table_Id(s[Section_Table_Id_Offset]) ||
      Big_Endian_16(s + Eit_Original_Network_Id_Offset) != Portal_Original_Network_Id)
    return -1;
  for (int32_t portal = 0; portal < Portal_Total; ++portal) {
    const Portal_Constants &constants = Constants_Of(portal);
    if (Big_Endian_16(s + Eit_Service_Id_Offset) == constants.Source_Service_Id &&
        Big_Endian_16(s + Eit_Transport_Stream_Id_Offset) == constants.Source_Transport_Stream_Id)
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
void Read_Descriptor_Loop(const uint8_t *s, int32_t at, int32_t end, Source_Copy &copy) {
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
      if (copy.Refused++ == 0)
        copy.First_Refused = Entry_At(descriptor);
      continue;
    }
    ++copy.Listed;
    if (copy.Entry_Count < Portal_Entry_Total)
      copy.Entries[static_cast<std::size_t>(copy.Entry_Count++)] = Entry_At(descriptor);
  }
}

// Walks the event loop; stops at the first event that overruns the section.
void Read_Entries(const uint8_t *s, int32_t size, Source_Copy &copy) {
  copy.Listed = copy.Entry_Count = copy.Refused = 0;
  const int32_t end = size - Section_Crc_Size;
  int32_t at = Eit_Header_Size;
  while (at + Eit_Event_Header_Size <= end) {
    const int32_t loop_end =
        at + Eit_Event_Header_Size +
        (Big_Endian_16(s + at + Eit_Event_Header_Size - 2) & Eit_Loop_Length_Mask);
    if (loop_end > end)
      return;
    Read_Descriptor_Loop(s, at + Eit_Event_Header_Size, loop_end, copy);
    at = loop_end;
  }
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

void Add_Field(std::string &out, const std::string &field, int32_t has, const std::string &taken) {
  out += (out.empty() ? "" : ", ") + field + " " + std::to_string(has) + ", not " + taken;
}

// The header fields of a section of `portal`'s service that keep it from
// being the source section, in words ("last_section_number 0, not 1"). Each
// field is judged alone, in a header the decoder's rule otherwise accepts.
std::string Header_Difference(const uint8_t *has, int32_t portal) {
  const std::array<uint8_t, Eit_Header_Size> accepted = Accepted_Header(portal);
  const int32_t word = Big_Endian_16(has + Section_Length_Offset);
  const int32_t accepted_word = Big_Endian_16(accepted.data() + Section_Length_Offset);
  std::string out;
  std::array<uint8_t, Eit_Header_Size> header = accepted;
  Put_Length_Word(header, (word & Section_Flag_Bits) | (accepted_word & Section_Length_Mask));
  if (Accepted_Section_Length(header.data()) == 0)
    Add_Field(out, "the top bits of section_length's word",
              (word & Section_Flag_Bits) / (Section_Length_Mask + 1), "all set");
  Put_Length_Word(header, (accepted_word & Section_Flag_Bits) | (word & Section_Length_Mask));
  if (Accepted_Section_Length(header.data()) == 0)
    Add_Field(out, "section_length", word & Section_Length_Mask,
              "at least " + std::to_string(Section_Length_Min));
  const struct {
    const char *Name;
    int32_t Offset;
  } fields[] = {{"section_number", Eit_Section_Number_Offset},
                {"last_section_number", Eit_Last_Section_Number_Offset},
                {"segment_last_section_number", Eit_Segment_Last_Section_Number_Offset}};
  for (const auto &field : fields) {
    header = accepted;
    header[static_cast<std::size_t>(field.Offset)] = has[field.Offset];
    if (!Matches_Source_Fields(header.data(), Constants_Of(portal)))
      Add_Field(out, field.Name, has[field.Offset], Accepted_Values(portal, field.Offset));
  }
  return out.empty() ? "its header" : out;
}

void Note_Other_Section(Other_Sections &others, const uint8_t *s, int32_t portal) {
  ++others.Count;
  others.Service_Id = Constants_Of(portal).Source_Service_Id;
  const std::string way = Header_Difference(s, portal);
  for (auto &known : others.Ways)
    if (known.first == way) {
      ++known.second;
      return;
    }
  if (others.Ways.size() < Other_Ways_Most)
    others.Ways.emplace_back(way, 1);
}

std::string Quoted_Name(const std::string &latin1) {
  return "\"" + Printable_Latin1(latin1) + "\"";
}

std::string Ids(int32_t transport_stream_id, int32_t service_id) {
  return "TS id " + std::to_string(transport_stream_id) + ", service id " +
         std::to_string(service_id);
}

std::string Place_Words(const Input_Place &place) {
  if (!place.Known)
    return "at a place the scan no longer remembers";
  return "at byte " + std::to_string(place.Payload_Byte) +
         " of the payload of the packet at offset " + std::to_string(place.Packet_Offset);
}

// One step of a candidate, in words.
std::string Step_Words(Decoder_Step step, int32_t value) {
  switch (step) {
  case Decoder_Step::Crc_Checked:
    return value ? "CRC held" : "CRC failed";
  case Decoder_Step::Stray_Taken_Out:
    return "stray byte at byte " + std::to_string(value) + " of the section taken out";
  case Decoder_Step::Paired:
    return value ? "judged with a failing copy kept before: the same bytes"
                 : "judged with a failing copy kept before";
  case Decoder_Step::Repair_Tried:
    return value ? "a section made of the copies held" : "no section made of the copies held";
  case Decoder_Step::Judged:
    return Rule_Words(static_cast<Judgement>(value));
  case Decoder_Step::Decoded:
    return "decoded " + Plural(value, "entry", "entries");
  case Decoder_Step::Candidate_Found:
  case Decoder_Step::Kept_Incomplete:
  case Decoder_Step::Tail_Kept:
    break;
  }
  return "step " + std::to_string(static_cast<int32_t>(step)) + " (" + std::to_string(value) + ")";
}

// How the decoder's list differs from a copy's entries; empty if it does
// not.
std::string Entry_Difference(const Decoded_List &list, const Source_Copy &copy) {
  if (list.Found != copy.Listed)
    return "count differs: the plug-in has " + std::to_string(list.Found) + ", the section lists " +
           std::to_string(copy.Listed);
  for (int32_t k = 0; k < copy.Entry_Count; ++k) {
    const Portal_Entry &shown = list.Entries[static_cast<std::size_t>(k)];
    const Explain_Entry &listed = copy.Entries[static_cast<std::size_t>(k)];
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

// The portal descriptors of the copy that the decoder's rule passes over, in
// words; empty if none.
std::string Refused_Entries(const Source_Copy &copy) {
  if (copy.Refused == 0)
    return "";
  const Explain_Entry &entry = copy.First_Refused;
  const std::string why = entry.Service_Id == 0
                              ? "service id 0"
                              : "descriptor_length " + std::to_string(entry.Descriptor_Length) +
                                    ", not " + std::to_string(Portal_Descriptor_Length_Min) +
                                    " to " + std::to_string(Portal_Descriptor_Length_Max);
  return "it passes over " + Plural(copy.Refused, "portal descriptor", "portal descriptors") +
         " of the section, the first " + Quoted_Name(entry.Name) + " (" + why + ")";
}

Portal_Verdict Verdict(Verdict_Kind kind, const std::string &says) {
  return Portal_Verdict{kind, says};
}

Portal_Verdict Disagree(const std::string &how) {
  return Verdict(Verdict_Kind::Disagree, "the plug-in and the section disagree: " + how);
}

std::string Copies(int32_t count) {
  return Plural(count, "copy", "copies");
}

// Where a copy began, in words.
std::string Copy_Words(const Source_Copy &copy) {
  return "in the packet at offset " + std::to_string(copy.Packet_Offset) +
         (copy.At_Payload_Start ? ", at a payload start" : ", packed behind another section");
}

// What the decoder's list shows, in words: its entries, or what a list of
// fewer than two does to the table.
std::string Shows_Words(const Decoded_List &list) {
  if (list.Count == 0)
    return "the section lists no entries; the plug-in keeps its own";
  if (list.Count == 1)
    return "the section lists 1 entry; the plug-in puts it in entry 0 and keeps its count";
  return "the plug-in shows these " + std::to_string(list.Count) + " entries";
}

// A decode by a rule whose copy held its CRC: the verdict by the way the
// decoder came to it, each way in words, and the rule.
Portal_Verdict Shown_Verdict(const Decoded_List &list, const std::string &notes) {
  Verdict_Kind kind = Verdict_Kind::Shown;
  std::string how;
  const auto add = [&](Verdict_Kind applies, const std::string &words) {
    kind = kind == Verdict_Kind::Shown ? applies : kind;
    how += std::string(how.empty() ? ", " : "; ") + words;
  };
  if (list.Way == Judgement::Stray_Pointer_Taken_Out)
    kind = Verdict_Kind::Shown_Mended;
  if (list.Inside_Packet)
    add(Verdict_Kind::Shown_Packed,
        "found inside a packet, packed behind another section (no pointer field in front)");
  if (list.From_Packets)
    add(Verdict_Kind::Shown_From_Packets, "taken from the whole 188-byte packets it was handed");
  return Verdict(kind, Shows_Words(list) + how + "; by " + Rule_Words(list.Way) + notes);
}

// The verdict kind of a decode from a copy that failed its CRC, by its rule;
// Verdict_Kind::Shown for a rule whose copy held.
Verdict_Kind Failing_Kind(Judgement way) {
  switch (way) {
  case Judgement::As_Carried:
    return Verdict_Kind::Shown_As_Carried;
  case Judgement::Repaired:
    return Verdict_Kind::Shown_Repaired;
  case Judgement::Unchecked:
    return Verdict_Kind::Shown_Unchecked;
  default:
    return Verdict_Kind::Shown;
  }
}

// What the copies on air say beside a decode: a later version, descriptors
// the rule passes over.
std::string Decode_Notes(const Portal_Evidence &evidence, const Source_Copy &copy) {
  std::string notes;
  const std::string refused = Refused_Entries(copy);
  if (!refused.empty())
    notes += "; " + refused;
  if (evidence.Sound_Seen && evidence.Last_Sound.Version != copy.Version)
    notes += "; later copies on air carry version " + std::to_string(evidence.Last_Sound.Version) +
             " (the plug-in shows the first copy it decodes)";
  return notes;
}

Portal_Verdict Decoded_Verdict(const Portal_Evidence &evidence) {
  const Decoder_Account &account = evidence.Account;
  const Decoded_List &list = account.List;
  const Verdict_Kind failing = Failing_Kind(list.Way);
  if (failing != Verdict_Kind::Shown) {
    std::string line = "the plug-in shows " + Plural(list.Count, "entry", "entries") +
                       " of a copy that fails its CRC, by " + Rule_Words(list.Way);
    const std::string difference =
        evidence.Sound_Seen ? Entry_Difference(list, evidence.Last_Sound) : "";
    if (!difference.empty())
      line += "; against the last sound copy, " + difference;
    return Verdict(failing, line);
  }
  if (!evidence.Decoded_Copy_Found)
    return Disagree("it decoded a copy " + Place_Words(account.Decoded_Where) + " by " +
                    Rule_Words(list.Way) + ", where the capture carries no whole copy");
  const Source_Copy &copy = evidence.Decoded_Copy;
  if (!copy.Crc_Ok)
    return Disagree("its copy " + Place_Words(account.Decoded_Where) + " held by " +
                    Rule_Words(list.Way) + ", but fails its CRC as the capture carries it");
  const std::string difference = Entry_Difference(list, copy);
  if (!difference.empty())
    return Disagree(difference);
  return Shown_Verdict(list, Decode_Notes(evidence, copy));
}

} // namespace

std::string Rule_Words(Judgement judgement) {
  const std::string name = Judgement_Name(judgement);
  return "rule " + std::to_string(static_cast<int32_t>(judgement)) +
         (name.empty() ? "" : " (" + name + ")");
}

std::string Account_Words(const Decoder_Account &account) {
  if (account.Candidates == 0)
    return "no candidate in " + Plural(account.Scans, "scan", "scans");
  const Candidate_Account &last = account.Last;
  std::string out = Plural(account.Candidates, "candidate", "candidates");
  if (account.Candidates == 1) {
    out += ",";
  } else {
    std::string earlier;
    for (const auto &judged : account.Judged) {
      const int32_t count =
          judged.second - (judged.first == static_cast<int32_t>(last.Way) ? 1 : 0);
      if (count > 0)
        earlier += (earlier.empty() ? "" : ", ") +
                   Rule_Words(static_cast<Judgement>(judged.first)) + " " + std::to_string(count);
    }
    out += " (before the last: " + (earlier.empty() ? std::string("none judged") : earlier) +
           "); the last";
  }
  out += " " + Place_Words(last.Where) + ", " +
         (last.Byte_In_Front < 0
              ? std::string("first of the bytes gathered")
              : "behind byte " + Hex(static_cast<uint32_t>(last.Byte_In_Front) & 0xFF, 2)) +
         ", section length " + std::to_string(last.Length);
  if (last.Waits > 0)
    out += ", kept " + Plural(last.Waits, "time", "times") + " for more bytes (" +
           std::to_string(last.First_Wanted) + " wanted at first)";
  for (const auto &step : last.Steps)
    out += ", " + Step_Words(step.first, step.second);
  if (last.Way == Judgement::None)
    out += ", not judged";
  return out;
}

std::string Other_Sections_Words(const Other_Sections &others) {
  if (others.Count == 0)
    return "";
  std::string out = Plural(others.Count, "other section", "other sections") + " of service " +
                    std::to_string(others.Service_Id) + ": ";
  int32_t told = 0;
  for (std::size_t i = 0; i < others.Ways.size(); ++i) {
    out += (i ? "; " : "") + others.Ways[i].first +
           (others.Ways.size() > 1 ? " (" + std::to_string(others.Ways[i].second) + ")" : "");
    told += others.Ways[i].second;
  }
  return out +
         (told < others.Count ? "; " + std::to_string(others.Count - told) + " otherwise" : "");
}

bool Explain_Wants_Section(const uint8_t *head, int32_t size, void *) {
  if (size < Eit_Service_Id_Offset + 2 || !Is_Eit_Table_Id(head[Section_Table_Id_Offset]))
    return false;
  for (const Portal_Constants &constants : Portal_Constants_Table)
    if (Big_Endian_16(head + Eit_Service_Id_Offset) == constants.Source_Service_Id)
      return true;
  return false;
}

int32_t Explain_Source_Portal(const Reassembled_Section &section) {
  const int32_t portal = Service_Portal(section.Bytes, section.Size);
  return portal >= 0 && Source_Section_Length(section.Bytes, Constants_Of(portal)) != 0 ? portal
                                                                                        : -1;
}

void Explain_Take_Section(const Reassembled_Section &section, void *context) {
  const uint8_t *s = section.Bytes;
  const int32_t portal = Service_Portal(s, section.Size);
  if (portal < 0)
    return;
  Portal_Evidence &evidence =
      static_cast<Capture_Evidence *>(context)->Portals[static_cast<std::size_t>(portal)];
  if (Source_Section_Length(s, Constants_Of(portal)) == 0) {
    Note_Other_Section(evidence.Others, s, portal);
    return;
  }
  evidence.First_At = evidence.Repetitions == 0 ? section.Packet_Offset : evidence.First_At;
  evidence.Last_At = section.Packet_Offset;
  ++evidence.Repetitions;
  ++(section.At_Payload_Start ? evidence.At_Payload_Start : evidence.Packed);
  Source_Copy &copy = evidence.Recent[static_cast<std::size_t>(evidence.Recent_Next)];
  evidence.Recent_Next = (evidence.Recent_Next + 1) % Recent_Copies;
  copy.Packet_Offset = section.Packet_Offset;
  copy.Size = section.Size;
  copy.Crc_Ok = section.Crc_Ok;
  copy.At_Payload_Start = section.At_Payload_Start;
  copy.Version = static_cast<uint8_t>(Eit_Version(s));
  Read_Entries(s, section.Size, copy);
  if (!section.Crc_Ok) {
    ++evidence.Crc_Failures;
    return;
  }
  Note_Version(evidence, copy.Version);
  if (!evidence.Sound_Seen)
    evidence.First_Sound = copy;
  evidence.Sound_Seen = true;
  evidence.Last_Sound = copy;
}

void Explain_Take_Flagged(const uint8_t *payload, int32_t size, bool unit_start,
                          Capture_Evidence &evidence) {
  if (!unit_start || size < Pointer_Field_Size || payload[0] >= size - Pointer_Field_Size)
    return;
  const int32_t at = Pointer_Field_Size + payload[0];
  const int32_t portal = Service_Portal(payload + at, size - at);
  if (portal >= 0 && Source_Section_Length(payload + at, Constants_Of(portal)) != 0)
    ++evidence.Portals[static_cast<std::size_t>(portal)].Flagged;
}

void Explain_Hear(const Decoder_Event &event, const Input_Place &at, void *context) {
  if (event.Portal < 0 || event.Portal >= Portal_Total)
    return;
  Portal_Evidence &evidence =
      static_cast<Capture_Evidence *>(context)->Portals[static_cast<std::size_t>(event.Portal)];
  Decoder_Account &account = evidence.Account;
  Candidate_Account &last = account.Last;
  switch (event.Step) {
  case Decoder_Step::Candidate_Found:
    if (account.Candidates > 0 && last.Way == Judgement::None && last.At == event.At)
      return; // the candidate kept at the front, found again
    ++account.Candidates;
    last = Candidate_Account{};
    last.At = event.At;
    last.Where = at;
    last.Length = event.Length;
    last.Byte_In_Front = event.Value;
    return;
  case Decoder_Step::Kept_Incomplete:
    last.First_Wanted = last.Waits++ == 0 ? event.Value : last.First_Wanted;
    return;
  case Decoder_Step::Tail_Kept:
    ++account.Scans;
    return;
  case Decoder_Step::Judged:
    last.Way = static_cast<Judgement>(event.Value);
    ++account.Judged[event.Value];
    break;
  case Decoder_Step::Decoded:
    if (event.List == nullptr)
      break;
    account.Decoded = true;
    account.List = *event.List;
    account.Decoded_Where = at;
    evidence.Decoded_Copy_Found = false;
    // The copy it took: of its length, the first of the latest copies that
    // began in the packet its table_id came in, or else the last that began
    // before (a packet sent twice comes to the decoder twice, to the
    // reassembler once).
    for (int32_t i = 0; i < Recent_Copies; ++i) {
      const Source_Copy &copy =
          evidence.Recent[static_cast<std::size_t>((evidence.Recent_Next + i) % Recent_Copies)];
      if (copy.Size == 0 || copy.Size != event.Length + Section_Head_Bytes ||
          (at.Known && copy.Packet_Offset > at.Packet_Offset))
        continue;
      evidence.Decoded_Copy = copy;
      evidence.Decoded_Copy_Found = true;
      if (at.Known && copy.Packet_Offset == at.Packet_Offset)
        break;
    }
    break;
  default:
    break;
  }
  last.Steps.emplace_back(event.Step, event.Value);
}

void Explain_Attach(Section_Reassembler &reassembler, Capture_Evidence &evidence) {
  reassembler.Deliver = Explain_Take_Section;
  reassembler.Want = Explain_Wants_Section;
  reassembler.Context = &evidence;
}

void Explain_Observe(Scan_Setup &setup, Capture_Evidence &evidence) {
  setup.Observe = Explain_Hear;
  setup.Observe_Context = &evidence;
}

Portal_Verdict Portal_Explain(const Portal_Evidence &evidence, const Portal_Result &result) {
  const Decoder_Account &account = evidence.Account;
  if (account.Decoded)
    return Decoded_Verdict(evidence);
  const std::string others = Other_Sections_Words(evidence.Others);
  const std::string beside = others.empty() ? "" : " (" + others + ")";
  if (evidence.Repetitions == 0 && evidence.Flagged > 0)
    return Verdict(Verdict_Kind::Damaged,
                   "on air only in packets flagged with the transport error indicator (" +
                       Copies(evidence.Flagged) + "), which a receiver drops" + beside);
  if (evidence.Repetitions == 0)
    return Verdict(Verdict_Kind::Not_On_Air, "not on air in this capture" + beside);
  if (result.Bytes_Fed < static_cast<uint64_t>(Scan_Threshold))
    return Verdict(Verdict_Kind::Too_Short,
                   "the capture ends before the plug-in has gathered the " +
                       std::to_string(Scan_Threshold) + " bytes it looks at (it was handed " +
                       std::to_string(result.Bytes_Fed) + ")");
  const Candidate_Account &last = account.Last;
  const bool sound_before = evidence.Sound_Seen && last.Where.Known &&
                            evidence.First_Sound.Packet_Offset < last.Where.Packet_Offset;
  if (account.Candidates > 0 && last.Way == Judgement::None && last.Waits > 0 && !sound_before)
    return Verdict(Verdict_Kind::Too_Short,
                   "the capture ends while the plug-in waits for the rest of the copy " +
                       Place_Words(last.Where));
  if (!evidence.Sound_Seen)
    return Verdict(
        Verdict_Kind::Damaged,
        "on air but damaged in every repetition (" + std::to_string(evidence.Repetitions) +
            " on air" +
            (evidence.Flagged > 0 ? ", " + Copies(evidence.Flagged) + " more flagged" : "") +
            "); the plug-in decoded none: " + Account_Words(account));
  return Disagree("a sound copy is on air (the first " + Copy_Words(evidence.First_Sound) +
                  "), but the plug-in decoded none: " + Account_Words(account));
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
