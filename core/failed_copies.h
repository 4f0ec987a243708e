// Failing copies of a portal's source section, and the ways the decoder
// makes a sound section of them: the copies the decoder has seen fail are
// kept, and a new failing copy is judged together with them. Any
// combination is kept only where the section's CRC-32 holds over it.
//
// Damage comes in three shapes: a packet's bytes changed (bit errors the
// receiver did not flag), a packet lost (the bytes behind it move up), or a
// packet sent twice (ISO/IEC 13818-1 §2.4.3.3 lets a multiplexer repeat a
// packet once: its bytes stand in the copy twice). Where the copies are
// damaged in different places, together they hold every byte.
#pragma once

#include "core/dvb_layout.h"

#include <array>
#include <cstdint>

// The most bytes a section the decoder accepts takes, table_id to CRC: its
// length field may say up to 4095, beyond EIT's limit (Section_Size_Max).
constexpr int32_t Section_Copy_Size = Section_Head_Bytes + Section_Length_Mask;

// Where the chunks the decoder gathered began, as far as it can tell where
// packets began: a chunk of a whole payload (184 bytes) is the usual one and
// leaves no trace; each other chunk (a payload behind an adaptation field,
// or a host's piece of another size) is logged with its place in the bytes
// gathered, and the 184-byte chunks behind it follow at 184-byte steps.
constexpr int32_t Odd_Chunk_Log_Size = 32; // a power of two
struct Chunk_Log {
  std::array<uint32_t, Odd_Chunk_Log_Size> Start{}; // places in the bytes gathered
  std::array<int32_t, Odd_Chunk_Log_Size> Size{};
  uint32_t Total = 0; // odd chunks logged since the decoder was set up
};

[[gnu::cold, gnu::noinline]] inline void Log_Odd_Chunk(Chunk_Log &log, uint32_t start,
                                                       int32_t size) {
  const uint32_t slot = log.Total++ & (Odd_Chunk_Log_Size - 1);
  log.Start[slot] = start;
  log.Size[slot] = size;
}

// A kept failing copy: its bytes, table_id to CRC, with a stray pointer
// field or a repeated packet already taken out where the packet starts
// said where they stood.
constexpr int32_t Copy_Packet_Start_Max = 48; // more than a 4096-byte section's packets
struct Failed_Copy {
  int32_t Length = 0; // section length; 0: the slot is free
  int32_t Portal = 0;
  uint32_t Start = 0, End = 0; // where it stood in the bytes gathered
  uint32_t Order = 0;          // copies kept before it, since the decoder was set up
  bool Behind_Zero = false;    // a decoder without a CRC check would take it
  int32_t Packet_Start_Count = 0;
  std::array<uint16_t, Copy_Packet_Start_Max> Packet_Starts{}; // from table_id, rising
  std::array<uint8_t, Section_Copy_Size> Bytes{};
};
constexpr int32_t Failed_Copy_Total = 6; // kept at once; the oldest gives way
using Failed_Store = std::array<Failed_Copy, Failed_Copy_Total>;

// Where packets began inside [from, to) of the bytes gathered (as offsets
// from `from`, rising, at most Copy_Packet_Start_Max), as far as `log` and
// the 184-byte steps tell; where they tell nothing, a copy behind a pointer
// field has packets start 183 bytes into the section and every 184 bytes
// on. Gives the count.
int32_t Find_Packet_Starts(const Chunk_Log &log, uint32_t from, uint32_t to, bool behind_pointer,
                           uint16_t *starts);

// The packet starting at `start` in a copy whose packets start at `starts`:
// how many bytes it carried (184 where the next start is not known).
int32_t Packet_Size_At(const uint16_t *starts, int32_t count, int32_t start);

// The ways a sound section is made of failing copies of `size` bytes. Each
// builds into `out` and says whether the CRC holds over what it built.
//
// The splice of two copies: one copy up to a place, the other from there
// on, at any place where they differ; one pass over the copies tries every
// splice (the CRC is linear: the splice's CRC differs from either copy's by
// the CRC of their differences behind the place).
bool Splice_Copies(const uint8_t *a, const uint8_t *b, int32_t size, uint8_t *out);
// A lost packet put back: `short_one` lost the packet that starts at one of
// its packet starts up to where the copies part, and `whole` carries it.
bool Put_Back_Lost_Packet(const Failed_Copy &short_one, const Failed_Copy &whole, int32_t size,
                          uint8_t *out);
// The byte-wise vote of three copies or more: each byte as most copies carry
// it.
bool Vote_Copies(const uint8_t *const *copies, int32_t count, int32_t size, uint8_t *out);
