// portal-scan's pass over a capture: one read of the input feeds four
// decoders side by side, one per portal, each set up as the plug-in's is when
// its window shows that portal and the host's filter runs. Each takes the
// payload of every PID 0x12 packet (pointer field included, one call per
// packet, as the host's filter hands them), or each whole 188-byte packet
// (as some hosts hand them over), until its first decode; the pass
// reads on to the end of the input to count its packets (unless told to stop
// once every portal is decoded).
#pragma once

#include "core/section_decoder.h"
#include "stream/ts_reader.h"
#include "tools/portal_listing.h"

#include <array>
#include <cstdint>

// Takes every PID 0x12 payload the pass reads (e.g. the explanation's
// gatherer): the payload, its packet's payload_unit_start_indicator,
// transport_error_indicator and continuity_counter, and where the packet
// starts in the input. Flagged packets come here only; the decoders never
// see them, as a receiver's filter drops them. Called on the decoding thread
// (see portal_scan_pass.cpp): the context is the consumer's alone until
// Scan_Capture returns.
using Payload_Consumer = void (*)(const uint8_t *payload, int32_t size, bool unit_start,
                                  bool flagged, int32_t continuity, uint64_t packet_offset,
                                  void *context);
// Follow mode: after each decode, the portal, where the packet whose payload
// completed the section starts in the input, and the portal's listing then.
using Decode_Callback = void (*)(int portal, uint64_t packet_offset, const Portal_Listing &listing,
                                 void *context);

// Where a byte a decoder names stands in the input: the packet whose payload
// brought it and its place in that payload. Not known for a byte older than
// the chunks the pass remembers of the decoder's feed.
struct Input_Place {
  bool Known = false;
  uint64_t Packet_Offset = 0; // where the packet starts in the input
  int32_t Payload_Byte = 0;   // counted from the payload's first byte
};
// Hears every step of the portals' decoders (Decoder_Event in
// core/section_decoder.h) and where the event's At stands in the input.
// Called on the decoding thread, as the Payload_Consumer is, while a decoder
// takes the payload that brought it to the step (the consumer has had that
// payload already).
using Step_Observer = void (*)(const Decoder_Event &event, const Input_Place &at, void *context);

// What each call hands a decoder.
enum class Feed_Unit {
  Payloads, // the packet's payload behind its header and adaptation field
  Packets,  // the whole 188-byte packet (in 192- and 204-byte captures the one inside)
};

struct Scan_Setup {
  Feed_Unit Feed = Feed_Unit::Payloads;
  // Re-arm a decoder after each decode, as the window's refresh tick does
  // (Scan_Idle back to 0; the decoder has emptied its buffer), so every
  // later copy of the portal's section is decoded too.
  bool Follow = false;
  // End the input once every portal has been decoded (Stopped is then set
  // if input is left),
  // right behind the packet that completed the last one.
  bool Stop_When_Decoded = false;
  Decode_Callback On_Decode = nullptr;
  void *Decode_Context = nullptr;
  Payload_Consumer Consumer = nullptr;
  void *Consumer_Context = nullptr;
  Step_Observer Observe = nullptr;
  void *Observe_Context = nullptr;
};

struct Scan_Outcome {
  Ts_Read_Result Status = Ts_Read_Result::End; // End, Not_Transport_Stream or Read_Error
  std::array<Portal_Result, Portal_Total> Portals{};
};

// Reads `reader` to its end with decoders of its own and reports per portal.
// The reader's counters (Packets, Tail_Bytes, Stopped, the health counters
// with continuity counted on PID 0x12) tell the rest. On Read_Error errno
// tells why.
Scan_Outcome Scan_Capture(Ts_Reader &reader, const Scan_Setup &setup);
