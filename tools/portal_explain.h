// portal-scan --explain: what a capture really carries for each portal, read
// from the sections the standard way (the evidence), what the plug-in's own
// decoder did with the same capture, as it tells its steps (the account),
// and a one-line verdict on how the two compare. Rendering is
// portal_scan_output's.
//
// Wiring: Explain_Attach points a Section_Reassembler at a Capture_Evidence,
// Explain_Observe the pass's step observer; the reassembler is fed every PID
// 0x12 payload and the observer hears the decoders' steps on the same
// thread; then, per portal, Portal_Explain gives the verdict.
#pragma once

#include "core/dvb_layout.h"
#include "core/portal_table.h"
#include "core/section_decoder.h"
#include "stream/section_reassembler.h"
#include "tools/portal_listing.h"
#include "tools/portal_scan_pass.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

constexpr int32_t Version_Total = Eit_Version_Mask + 1; // version_number values

// A portal linkage descriptor as the section carries it.
struct Explain_Entry {
  std::string Name; // the private bytes, ISO-8859-1
  uint16_t Transport_Stream_Id = 0;
  uint16_t Service_Id = 0;
  uint8_t Descriptor_Length = 0;
};

// One copy of a portal's source section on air, and the portal descriptors
// its event loops list: those the decoder's rule takes (the first
// Portal_Entry_Total of them kept) and the first of those it passes over.
struct Source_Copy {
  uint64_t Packet_Offset = 0; // of the packet it began in
  int32_t Size = 0;           // table_id to CRC
  bool Crc_Ok = false;
  bool At_Payload_Start = false;
  uint8_t Version = 0;
  int32_t Listed = 0; // descriptors the rule takes, all of them
  int32_t Entry_Count = 0;
  std::array<Explain_Entry, Portal_Entry_Total> Entries{};
  int32_t Refused = 0; // linkage descriptors of a portal entry the rule passes over
  Explain_Entry First_Refused;
};

// Sections of a portal's service (its source service, transport stream and
// network) that are not its source section: how many, and the header fields
// that keep each from being one, in words, with how many sections differ so.
struct Other_Sections {
  int32_t Count = 0;
  uint16_t Service_Id = 0;
  std::vector<std::pair<std::string, int32_t>> Ways; // the first few ways, first seen first
};

// One candidate, as the decoder told of it: where it stood, what it did with
// it step by step, and how it judged it.
struct Candidate_Account {
  uint32_t At = 0; // its table_id in the bytes the decoder gathered
  Input_Place Where;
  int32_t Length = 0;
  int32_t Byte_In_Front = -1;                          // -1: at the start of the decoder's bytes
  int32_t Waits = 0;                                   // scans that kept it incomplete
  int32_t First_Wanted = 0;                            // the bytes it wanted more the first time
  std::vector<std::pair<Decoder_Step, int32_t>> Steps; // from its check on
  Judgement Way = Judgement::None;
};

// What a portal's decoder told of its scans: the candidates it found, the
// last in full, and what it decoded.
struct Decoder_Account {
  int32_t Scans = 0; // scans that ended keeping only their last bytes (Tail_Kept)
  int32_t Candidates = 0;
  std::map<int32_t, int32_t> Judged; // candidates by Judgement, the last one's included
  Candidate_Account Last;
  bool Decoded = false;
  Decoded_List List; // what the owner was handed last
  Input_Place Decoded_Where;
};

constexpr int32_t Recent_Copies = 64; // copies kept to find the one the decoder takes

// What the capture carried of one portal's source section, what else of its
// service, and what its decoder told.
struct Portal_Evidence {
  int32_t Repetitions = 0; // complete copies on air, sound or not
  int32_t Crc_Failures = 0;
  int32_t Flagged = 0; // further copies in packets flagged with the transport error indicator
  int32_t At_Payload_Start = 0;       // began right behind a pointer_field of 0
  int32_t Packed = 0;                 // began behind another section or a nonzero pointer
  int32_t Version_Count = 0;          // distinct versions of sound copies, first seen first
  uint64_t First_At = 0, Last_At = 0; // where the first and last copy began in the input
  double Repeat_Seconds = -1;         // the mean time between copies, if the capture has a clock
  std::array<uint8_t, Version_Total> Versions{};

  bool Sound_Seen = false;
  Source_Copy First_Sound, Last_Sound;
  Other_Sections Others;

  // The latest copies, and the copy the decoder decoded if it is among them.
  std::array<Source_Copy, Recent_Copies> Recent{};
  int32_t Recent_Next = 0;
  bool Decoded_Copy_Found = false;
  Source_Copy Decoded_Copy;

  Decoder_Account Account;
};

struct Capture_Evidence { // some 200 KB: kept off the stack
  std::array<Portal_Evidence, Portal_Total> Portals{};
};

enum class Verdict_Kind {
  Shown,              // decoded, and it agrees with the copy on air
  Shown_Mended,       // the same, by the rule that takes a stray pointer field out
  Shown_Packed,       // the same, found inside a packet, packed behind another section
  Shown_From_Packets, // the same, taken from whole 188-byte packets
  Shown_As_Carried,   // decoded from failing copies, by the rule of the same failure twice
  Shown_Repaired,     // decoded from failing copies, by the rule that repairs
  Shown_Unchecked,    // decoded from a failing copy, by the rule that takes it unchecked
  Not_On_Air,         // no copy in the capture
  Too_Short,          // the capture ends before the decoder has gathered enough to look
  Damaged,            // every copy fails its CRC or is flagged with the transport error indicator
  Disagree,           // the decoder's account and the air differ: the text says how
};

struct Portal_Verdict {
  Verdict_Kind Kind = Verdict_Kind::Not_On_Air;
  std::string Says; // one line, UTF-8
};

// Section_Filter and Section_Callback for the reassembler; context is a
// Capture_Evidence. The filter keeps EIT sections of the portals' source
// services only.
bool Explain_Wants_Section(const uint8_t *head, int32_t size, void *context);
void Explain_Take_Section(const Reassembled_Section &section, void *context);
// The portal whose source section this is, by the decoder's own test
// (core/portal_section_rule.h), or -1.
int32_t Explain_Source_Portal(const Reassembled_Section &section);
void Explain_Attach(Section_Reassembler &reassembler, Capture_Evidence &evidence);
// The pass's Step_Observer; context is a Capture_Evidence.
void Explain_Hear(const Decoder_Event &event, const Input_Place &at, void *context);
// Points the pass's step observer at `evidence`.
void Explain_Observe(Scan_Setup &setup, Capture_Evidence &evidence);
// A PID 0x12 payload flagged with the transport error indicator, which the
// reassembler never gets (a receiver drops it): a portal's source section
// starting in it (its header recognisable behind the pointer field) counts
// as a flagged copy.
void Explain_Take_Flagged(const uint8_t *payload, int32_t size, bool unit_start,
                          Capture_Evidence &evidence);

// The verdict on a portal: the decoder's account against the capture's
// evidence; `result` gives the bytes the decoder was handed.
Portal_Verdict Portal_Explain(const Portal_Evidence &evidence, const Portal_Result &result);

// "shown", "shown_mended", "shown_packed", "shown_from_packets",
// "shown_as_carried", "shown_repaired", "shown_unchecked", "not_on_air",
// "too_short", "damaged" or "disagree".
const char *Verdict_Word(Verdict_Kind kind);

// The rule a judgement names, in words: its number (the table at the top of
// core/section_decoder.cpp) and name, e.g. "rule 2 (stray pointer field
// taken out)"; the name alone is Judgement_Name's.
std::string Rule_Words(Judgement judgement);

// The decoder's account in words, one line: its candidates and the steps of
// the last.
std::string Account_Words(const Decoder_Account &account);
// Sections of the portal's service that are not its source section, in
// words ("2 other sections of service 27: last_section_number 0, not 1"), or
// empty if none.
std::string Other_Sections_Words(const Other_Sections &others);
