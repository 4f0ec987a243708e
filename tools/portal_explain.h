// portal-scan --explain: what a capture really carries for each portal, read
// from the sections the standard way (the evidence), and a one-line verdict
// on how that compares with what the plug-in's own decoder made of the same
// capture. Rendering is portal_scan_output's.
//
// Wiring: Explain_Attach points a Section_Reassembler at a Capture_Evidence;
// the reassembler is fed every PID 0x12 payload; then, per portal,
// Portal_Explain gives the verdict.
#pragma once

#include "core/dvb_layout.h"
#include "core/portal_table.h"
#include "stream/section_reassembler.h"
#include "tools/portal_listing.h"

#include <array>
#include <cstdint>
#include <string>

constexpr int32_t Version_Total = 32; // version_number is 5 bits

// A portal linkage descriptor as the section carries it.
struct Explain_Entry {
  std::string Name; // the private bytes, ISO-8859-1
  uint16_t Transport_Stream_Id = 0;
  uint16_t Service_Id = 0;
  uint8_t Descriptor_Length = 0;
};

// What the capture carried of one portal's source section.
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

  // The last sound copy: its header, which the decoder's rule judges, and
  // its portal descriptors: those the rule takes (at most Portal_Entry_Total,
  // like the plug-in) and the first of those it passes over.
  bool Sound_Seen = false;
  int32_t Portal = 0;
  std::array<uint8_t, Eit_Header_Size> Header{};
  int32_t Entry_Count = 0;
  std::array<Explain_Entry, Portal_Entry_Total> Entries{};
  int32_t Refused = 0; // linkage descriptors of a portal entry the rule passes over
  Explain_Entry First_Refused;
};

struct Capture_Evidence {
  std::array<Portal_Evidence, Portal_Total> Portals{};
};

enum class Verdict_Kind {
  Shown,              // decoded, and it agrees with the last sound copy
  Shown_Mended,       // the same, once the next section's pointer field was taken out
  Shown_Packed,       // the same, found inside a packet, packed behind another section
  Shown_From_Packets, // the same, taken from whole 188-byte packets
  Shown_As_Carried,   // every copy the plug-in found failed the same way: shown as it arrives
  Shown_Repaired,     // two failing copies, each damaged in another packet, made it whole
  Shown_Unchecked,    // every copy failed differently: the last shown unchecked, as it arrives
  Not_On_Air,         // no copy in the capture
  Too_Short,          // the capture ends before the decoder has gathered enough to look
  Damaged,            // every copy fails its CRC or is flagged with the transport error indicator
  Disagree,           // anything else: the text says how
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
// The portal whose source section this is (judged as the evidence judges
// it), or -1.
int32_t Explain_Source_Portal(const Reassembled_Section &section);
void Explain_Attach(Section_Reassembler &reassembler, Capture_Evidence &evidence);
// A PID 0x12 payload flagged with the transport error indicator, which the
// reassembler never gets (a receiver drops it): a portal's source section
// starting in it (its header recognisable behind the pointer field) counts
// as a flagged copy.
void Explain_Take_Flagged(const uint8_t *payload, int32_t size, bool unit_start,
                          Capture_Evidence &evidence);

// The verdict on a portal: the capture's evidence against what the plug-in's
// decoder left for it, judged by the decoder's own rule
// (core/portal_section_rule.h).
Portal_Verdict Portal_Explain(const Portal_Evidence &evidence, const Portal_Result &result);

// "shown", "shown_mended", "shown_packed", "shown_from_packets",
// "shown_as_carried", "shown_unchecked", "not_on_air", "too_short", "damaged"
// or "disagree".
const char *Verdict_Word(Verdict_Kind kind);
