// The section decoder. The host hands us the bytes of its PID 0x12 filter;
// a decoder gathers them in its Section_Buffer and, while armed, looks there
// for the EIT section 0 of its portal and turns that section's portal
// linkage descriptors into the portal's table entries.
//
// The plug-in has one decoder (core/plugin_decoder.h), which scans for the
// portal the window shows. Tools make decoders of their own, any number
// side by side, each bound to one portal and writing only that portal's row.
// The decoder knows nothing of the plug-in's session: whoever feeds it says
// whether it takes data now (see core/section_feed.h).
#pragma once

#include "core/plugin_state.h"
#include "core/portal_section_rule.h"

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
// The most bytes a section the decoder accepts takes, table_id to CRC: its
// length field may say up to 4095, beyond EIT's limit (Section_Size_Max).
constexpr int32_t Section_Copy_Size = Section_Head_Bytes + Section_Length_Mask;

// The portal a decoder scans for: the plug-in's follows the window.
constexpr int32_t Follow_Shown_Portal = -1;

// How a decoder's last decode came about.
enum class Decode_Way : int32_t {
  None = 0,                // no decode since the decoder was set up
  Sound = 1,               // the section's CRC held
  Stray_Pointer_Taken_Out, // it held once the next section's pointer field was taken out
  As_Carried,              // it failed the same way twice running: decoded as it arrives
  Repaired,                // two failing copies, each damaged in one packet, made it whole
  Unchecked,               // the portal had no list and a second copy failed too: decoded
                           // as it arrives, until a sound copy replaces it
};

// All zero bytes at load (see Starts_At), so that the plug-in's decoder
// takes no room in the DLL's file.
struct Section_Decoder {
  int32_t Fill = 0;                    // valid bytes at the front of Section_Buffer
  Starts_At<1> Scan_Idle;              // disarmed: incoming bytes are thrown away
  Plugin_Flag First_Chunk_Seen{0};     // cleared by channel changes and by an overflow
  std::atomic<int32_t> Scan_Portal{0}; // the portal the current scan decodes into
  // Follow_Shown_Portal: the plug-in's decoder, which scans Current_Portal
  // (copied under Portal_Lock). 0 to 3: a decoder of that portal alone.
  Starts_At<Follow_Shown_Portal> Portal;
  // 1 while a call is at work on the decoder; a call that finds it so drops
  // its chunk (the host may deliver from several threads at once) and sets
  // Chunk_Dropped, which the next call to get to work reads: it starts from
  // an empty buffer.
  std::atomic<int32_t> Feeding{0};
  std::atomic<int32_t> Chunk_Dropped{0};
  // Where Section_Buffer[0] stands in the bytes this decoder has gathered,
  // counted modulo 2^32: it tells whether two candidates overlap.
  uint32_t Buffer_Start = 0;
  // The last candidate behind a zero byte that failed its CRC since the
  // last decode: its section length (0: none), the CRC value computed over
  // it, the portal it was scanned for and where its section ends.
  int32_t Failed_Length = 0;
  uint32_t Failed_Crc = 0;
  int32_t Failed_Portal = 0;
  uint32_t Failed_End = 0;
  // How the last decode came about, whether its section stood behind
  // another section or elsewhere inside a packet (no zero byte in front),
  // and whether the chunks it came in were whole transport stream packets.
  Decode_Way Last_Decode = Decode_Way::None;
  bool Last_Inside_Packet = false;
  bool Last_From_Packets = false;
  bool Chunk_Was_Packet = false; // the last chunk taken was a whole packet
  // The bytes, on a cache line of their own behind the words above.
  alignas(64) std::array<uint8_t, Section_Buffer_Size> Section_Buffer{};
  // The remembered failure's bytes, table_id to CRC, and room to mend a
  // copy from two (section_decoder.cpp).
  std::array<uint8_t, Section_Copy_Size> Failed_Copy{};
  std::array<uint8_t, Section_Copy_Size> Repair_Work{};
};

// Hands one chunk of filter bytes to `decoder`: gathers, scans and decodes
// as described in section_decoder.cpp. A tool's decoder takes every chunk.
void Feed_Section_Decoder(Section_Decoder &decoder, int32_t n, const uint8_t *bytes);

// Empties the buffer, disarms the decoder and forgets its last failure and
// decode, as at load; its portal binding stays.
void Reset_Section_Decoder(Section_Decoder &decoder);

// Arms the decoder: it gathers chunks again and scans once enough are there.
void Arm_Section_Decoder(Section_Decoder &decoder);
// Disarms it: incoming bytes are thrown away until it is armed again.
void Disarm_Section_Decoder(Section_Decoder &decoder);
// The next chunk starts from an empty buffer (a channel change: the bytes
// gathered so far belong to another stream).
void Restart_Section_Buffer(Section_Decoder &decoder);
// The portal the decoder's last scan decoded into, or would; 0 again after
// Clear_Scan_Portal (the table's reset returns to portal 0).
int32_t Section_Scan_Portal(const Section_Decoder &decoder);
void Clear_Scan_Portal(Section_Decoder &decoder);

// One pass over the gathered bytes: decodes the first complete candidate,
// or keeps what may still become one, or empties the buffer
// (section_decoder.cpp).
void Scan_Section_Buffer(Section_Decoder &decoder);

// Empties the buffer; Buffer_Start moves on past the bytes thrown away, so
// that bytes gathered later never seem to overlap them.
inline void Empty_Section_Buffer(Section_Decoder &decoder) {
  decoder.Buffer_Start += static_cast<uint32_t>(decoder.Fill);
  decoder.Fill = 0;
}
