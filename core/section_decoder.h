// The section decoder. The host hands us the bytes of its PID 0x12 filter;
// a decoder gathers them in its Section_Buffer and, while armed, looks there
// for the EIT section 0 of its portal and turns that section's portal
// linkage descriptors into a list of entries, which it hands to its owner.
//
// The plug-in has one decoder (core/plugin_decoder.h), which scans for the
// portal the window shows and whose owner writes Portal_Table. Tools make
// decoders of their own, any number side by side, each bound to one portal,
// with owners that keep rows of their own. The decoder knows nothing of the
// plug-in's session: whoever feeds it says whether it takes data now and
// who takes its results (see core/section_feed.h).
#pragma once

#include "core/failed_copies.h"
#include "core/plugin_state.h"
#include "core/portal_section_rule.h"
#include "core/portal_table.h"

#include <array>
#include <atomic>
#include <cstdint>

constexpr int32_t Section_Buffer_Size = 32000; // most bytes ever held
constexpr int32_t Scan_Threshold = 920;        // bytes gathered before a scan

// Room behind the buffered bytes that a decode may write or read: the 12
// zero bytes behind the section and the name copy of a descriptor near its
// end stay within L + 22 for the largest section length L = 4095, far inside
// the buffer.
static_assert(Section_Length_Mask + 22 < Section_Buffer_Size, "decode stays in the buffer");
// The portal a decoder scans for: the plug-in's follows the window.
constexpr int32_t Follow_Shown_Portal = -1;

// How the decoder judges a complete candidate: the rule that decodes it, or
// why it does not decode. The rules, their order and where they come from
// are the table at the top of section_decoder.cpp; its numbers are these
// values.
enum class Judgement : int32_t {
  None = 0,                    // nothing judged yet
  Sound = 1,                   // rule 1
  Stray_Pointer_Taken_Out = 2, // rule 2
  As_Carried = 3,              // rule 3, the same failure twice
  Repaired = 4,                // rule 4
  Unchecked = 5,               // rule 5
  Failed_Remembered = 6,       // rule 6: no decode
  Failed_Passed_Over = 7,      // rule 7: no decode
};
// Each rule's name, as the README and portal-scan --explain give it.
constexpr const char *Judgement_Name(Judgement judgement) {
  switch (judgement) {
  case Judgement::Sound:
    return "sound";
  case Judgement::Stray_Pointer_Taken_Out:
    return "stray pointer field taken out";
  case Judgement::As_Carried:
    return "the same failure twice";
  case Judgement::Repaired:
    return "repaired";
  case Judgement::Unchecked:
    return "unchecked";
  case Judgement::Failed_Remembered:
    return "failed and remembered";
  case Judgement::Failed_Passed_Over:
    return "failed and passed over";
  case Judgement::None:
    break;
  }
  return "";
}
constexpr bool Judgement_Decodes(Judgement judgement) {
  return judgement >= Judgement::Sound && judgement <= Judgement::Unchecked;
}
// Whether a decode's section checked out: its CRC held over the copy, with
// a stray byte taken out, or over a combination of copies.
constexpr bool Judgement_Checked(Judgement judgement) {
  return judgement == Judgement::Sound || judgement == Judgement::Stray_Pointer_Taken_Out ||
         judgement == Judgement::Repaired;
}

// A decoded list, as the decoder hands it to its owner: the entries its
// section's portal descriptors give, in order, and how it came about.
struct Decoded_List {
  int32_t Portal = 0;
  int32_t Found = 0;    // matching descriptors, all of them
  int32_t Count = 0;    // entries filled: Found, at most Portal_Entry_Total
  Portal_Row Entries{}; // entries Count to 16 stay empty
  Judgement Way = Judgement::None;
  bool Inside_Packet = false; // its section had no zero byte in front
  bool From_Packets = false;  // the chunk that completed it was a whole packet
  uint32_t At = 0;            // its table_id's place in the bytes gathered
  int32_t Length = 0;         // its section length
  int32_t Version = 0;        // its version_number
};

// The steps of a scan, told to an observer: portal-scan's explanation and
// the tests follow the decoder's own account this way. Places are counted
// in the bytes gathered, as Decoded_List::At.
enum class Decoder_Step : int32_t {
  Candidate_Found, // a source header at At; Value: the byte in front, -1 at the buffer's start
  Kept_Incomplete, // the candidate at At waits; Value: how many more bytes it needs
  Tail_Kept,       // no candidate: Value bytes kept from At on, a header may start there
  Crc_Checked,     // Value: 1 if the CRC held over the section as it stands, else 0
  Stray_Taken_Out, // Value: the stray byte's place, counted from table_id
  Paired,          // judged with a kept copy (At: its place); Value: 1 the same bytes, else 0
  Repair_Tried,    // a section made of copies (At: the kept copy's, or the vote's); Value: 1 held
  Judged,          // Value: the Judgement
  Decoded,         // List: what the owner was handed
};
struct Decoder_Event {
  Decoder_Step Step = Decoder_Step::Candidate_Found;
  int32_t Portal = 0;
  uint32_t At = 0;    // the candidate's table_id
  int32_t Length = 0; // its section length
  int32_t Value = 0;
  const Decoded_List *List = nullptr;
};

// Whether a build tells an observer anything. The DLL is built with
// PICTO_DECODER_EVENTS=0: it has no observer, and every call to one is
// compiled out.
#ifndef PICTO_DECODER_EVENTS
#define PICTO_DECODER_EVENTS 1
#endif
constexpr bool Decoder_Events = PICTO_DECODER_EVENTS != 0;

// Whoever feeds a decoder owns its results: the decoder hands each decoded
// list to Take and asks Shows what a portal shows now. Observe, if set,
// hears every step.
struct Decoder_Owner {
  void (*Take)(const Decoded_List &list, void *context);
  Shown_List (*Shows)(int32_t portal, void *context);
  void (*Observe)(const Decoder_Event &event, void *context);
  void *Context;
};

// Writes a decoded list into a portal's row and count by the table's rule:
// two entries or more replace the row, the count and what the row shows; a
// single one overwrites entry 0 alone (one entry is no list, and a list
// already shown is not cut to it); none changes nothing. Gives the new
// count.
int32_t Apply_Decoded_List(Portal_Row &row, int32_t count, Shown_List &shown,
                           const Decoded_List &list);

// What judging a candidate may write (section_decoder.cpp): a failing
// candidate's bytes as they arrived (Raw) and as it would be kept (Copy,
// with where packets began in it), and room to make a sound section of
// copies (Made).
struct Judge_Work {
  Failed_Copy Copy;
  std::array<uint8_t, Section_Copy_Size + Ts_Payload_Size + Section_Complete_Extra> Raw{};
  std::array<uint8_t, Section_Copy_Size> Made{};
};

// All zero bytes at load (see Starts_At), so that the plug-in's decoder
// takes no room in the DLL's file.
struct Section_Decoder {
  int32_t Fill = 0;                    // valid bytes at the front of Section_Buffer
  Starts_At<1> Scan_Idle;              // disarmed: incoming bytes are thrown away
  Plugin_Flag First_Chunk_Seen{0};     // cleared by channel changes and by an overflow
  std::atomic<int32_t> Scan_Portal{0}; // the portal the current scan decodes for
  // Follow_Shown_Portal: the plug-in's decoder, which scans Current_Portal
  // (copied under Portal_Lock). 0 to 3: a decoder of that portal alone.
  Starts_At<Follow_Shown_Portal> Portal;
  // 1 while a call is at work on the decoder; a call that finds it so drops
  // its chunk (the host may deliver from several threads at once) and sets
  // Chunk_Dropped, which the next call to get to work reads: it starts from
  // an empty buffer.
  std::atomic<int32_t> Feeding{0};
  std::atomic<int32_t> Chunk_Dropped{0};
  // How many bytes sooner than at Scan_Threshold the next scan comes: 0, or
  // for a candidate kept at the front, as soon as it has all its bytes
  // (later than Scan_Threshold, negative, for a long one). Touched by the
  // call at work only.
  int32_t Scan_Sooner = 0;
  // Where Section_Buffer[0] stands in the bytes this decoder has gathered,
  // counted modulo 2^32: it tells whether two copies overlap, and where
  // packets began (Chunks).
  uint32_t Buffer_Start = 0;
  bool Chunk_Was_Packet = false; // the last chunk taken was a whole packet
  Chunk_Log Chunks;
  // The failing copies kept to be judged together with the next ones
  // (core/failed_copies.h), and how many were kept since set-up.
  uint32_t Failed_Kept = 0;
  Failed_Store Failed{};
  // The bytes, on a cache line of their own behind the words above.
  alignas(64) std::array<uint8_t, Section_Buffer_Size> Section_Buffer{};
  Judge_Work Work;
};

// Hands one chunk of filter bytes to `decoder`: gathers, scans and decodes
// as described in section_decoder.cpp, and hands what it decodes to
// `owner`. A tool's decoder takes every chunk (section_feed.cpp).
void Feed_Section_Decoder(Section_Decoder &decoder, int32_t n, const uint8_t *bytes,
                          const Decoder_Owner &owner);

// Empties the buffer, disarms the decoder and forgets the failing copies it
// kept, as at load; its portal binding stays.
void Reset_Section_Decoder(Section_Decoder &decoder);

// Arms the decoder: it gathers chunks again and scans once enough are there.
void Arm_Section_Decoder(Section_Decoder &decoder);
// Disarms it: incoming bytes are thrown away until it is armed again.
void Disarm_Section_Decoder(Section_Decoder &decoder);
// The next chunk starts from an empty buffer (a channel change: the bytes
// gathered so far belong to another stream).
void Restart_Section_Buffer(Section_Decoder &decoder);
// The portal the decoder's last scan decoded for, or would; 0 again after
// Clear_Scan_Portal (the table's reset returns to portal 0).
int32_t Section_Scan_Portal(const Section_Decoder &decoder);
void Clear_Scan_Portal(Section_Decoder &decoder);

// One pass over the gathered bytes: decodes the first complete candidate,
// or keeps what may still become one, or empties the buffer
// (section_decoder.cpp).
void Scan_Section_Buffer(Section_Decoder &decoder, const Decoder_Owner &owner);

// Empties the buffer; Buffer_Start moves on past the bytes thrown away, so
// that bytes gathered later never seem to overlap them, and the next scan
// waits for Scan_Threshold bytes again. An empty buffer has nothing to do:
// only a candidate kept in it makes the next scan sooner. (The disarmed
// decoder's every call comes here.)
inline void Empty_Section_Buffer(Section_Decoder &decoder) {
  if (decoder.Fill == 0)
    return;
  decoder.Buffer_Start += static_cast<uint32_t>(decoder.Fill);
  decoder.Fill = 0;
  decoder.Scan_Sooner = 0;
}
