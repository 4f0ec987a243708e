// A decoder's work on each chunk, up to the scan: take the chunk apart if it
// is a whole packet, keep out a second thread, gather, and scan once 920
// bytes are there, or as soon as a candidate kept at the front is whole. Written inline here
// because both feeders inline it: the plug-in's callback runs once per filter packet, and a call
// more would cost it a fifth of its time.
#pragma once

#include "core/dvb_layout.h"
#include "core/host_contract.h"
#include "core/section_decoder.h"

#include <cstring>

// What a chunk holds for the buffer.
enum class Chunk_Kind { Bytes, Packet, Nothing };

// Most hosts hand over each packet's payload (pointer field included); some
// hand over the whole 188-byte packet. A chunk of 188 bytes that starts with
// the sync byte and carries PID 0x12 is such a packet (no section is taken
// for one: the reserved bits of a section's length word, set in every
// section, stand where PID bit 0x1000 is). Its payload is what it holds for the buffer: behind the
// header and the adaptation field, if any. A packet flagged with the transport error indicator is
// dropped, as receivers drop it, and so is one without payload or whose adaptation field overruns
// it.
inline Chunk_Kind Unwrap_Packet(const uint8_t *&bytes, int32_t &n) {
  if (n != Ts_Packet_Size || bytes[0] != Ts_Sync_Byte || Ts_Packet_Pid(bytes) != Eit_Pid)
    return Chunk_Kind::Bytes;
  const int32_t start = Ts_Packet_Flagged(bytes) ? Ts_No_Payload : Ts_Payload_Start(bytes);
  if (start == Ts_No_Payload)
    return Chunk_Kind::Nothing;
  bytes += start;
  n = Ts_Packet_Size - start;
  return Chunk_Kind::Packet;
}

// The work of a call that has the decoder to itself; `takes_data` says
// whether the decoder takes data now (asked only while it is armed), and
// `owner` takes what a scan decodes.
template <typename Gate>
[[gnu::always_inline]] inline void Feed_Alone(Section_Decoder &decoder, int32_t n,
                                              const uint8_t *bytes, Chunk_Kind kind,
                                              Gate takes_data, const Decoder_Owner &owner) {
  if (decoder.Scan_Idle) {
    Empty_Section_Buffer(decoder);
    return;
  }
  if (!takes_data())
    return;
  if (!decoder.First_Chunk_Seen) {
    Empty_Section_Buffer(decoder);
    decoder.First_Chunk_Seen = 1;
  }
  if (n > Section_Buffer_Size - decoder.Fill) {
    Empty_Section_Buffer(decoder);
    decoder.First_Chunk_Seen = 0;
    return;
  }
  if (n == 0)
    return;
  uint8_t *end = decoder.Section_Buffer.data() + decoder.Fill;
  if (n == Ts_Payload_Size) { // the usual call: a copy of known size, done inline
    std::memcpy(end, bytes, Ts_Payload_Size);
  } else { // any other size is logged: it tells where packets began
    std::memcpy(end, bytes, static_cast<std::size_t>(n));
    Log_Odd_Chunk(decoder.Chunks, decoder.Buffer_Start + static_cast<uint32_t>(decoder.Fill), n);
  }
  decoder.Fill += n;
  decoder.Chunk_Was_Packet = kind == Chunk_Kind::Packet;
  if (decoder.Fill + decoder.Scan_Sooner < Scan_Threshold)
    return;
  if (decoder.Scan_Idle)
    return;
  Scan_Section_Buffer(decoder, owner);
}

// The work of every call. A call that finds another at work on the same
// decoder drops its chunk and leaves Chunk_Dropped; the next call to get to
// work sees it and starts from an empty buffer, so no buffer is ever
// scanned with a chunk missing from its middle. (A dropping call held up
// between its test and its mark for as long as two calls take can still
// leave its mark one call late; the CRC rule keeps such a buffer off the
// table.) One locked instruction per call and no waiting: the host's
// threads never block on each other here.
template <typename Gate>
[[gnu::always_inline]] inline void Feed_Chunk(Section_Decoder &decoder, int32_t n,
                                              const uint8_t *bytes, Gate takes_data,
                                              const Decoder_Owner &owner) {
  if (n < 0 || (n > 0 && bytes == nullptr))
    return;
  const Chunk_Kind kind = Unwrap_Packet(bytes, n);
  if (kind == Chunk_Kind::Nothing)
    return;
  if (decoder.Feeding.exchange(1, std::memory_order_acquire) != 0) {
    decoder.Chunk_Dropped.store(1, std::memory_order_relaxed);
    return;
  }
  if (decoder.Chunk_Dropped.load(std::memory_order_relaxed) != 0) {
    decoder.Chunk_Dropped.store(0, std::memory_order_relaxed);
    decoder.First_Chunk_Seen = 0;
  }
  Feed_Alone(decoder, n, bytes, kind, takes_data, owner);
  decoder.Feeding.store(0, std::memory_order_release);
}
