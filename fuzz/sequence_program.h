// The program language of the sequence fuzzer (fuzz_sequence), shared with
// the seed writer: each step is an operation byte (its value modulo
// Sequence_Op_Total) followed by the argument bytes that operation reads.
// Missing argument bytes at the end of the input read as 0.
#pragma once

#include "core/dvb_layout.h"

#include <cstdint>

enum Sequence_Op : uint8_t {
  Op_Feed_Short = 0,     // 1 byte: a chunk of 0 to 255 bytes
  Op_Feed_Long = 1,      // 2 bytes, big-endian, low 12 bits: a chunk of 0 to 4095 bytes
  Op_Feed_Packet = 2,    // a chunk of one packet: 184 bytes (its payload), 188 of the packet blob
  Op_Feed_Huge = 3,      // 2 bytes: a chunk of Huge_Chunk_Base plus 0 to 65535 bytes
  Op_Select_Blob = 4,    // 2 bytes: blob number, start offset / 16 (/ 188 in the packet blob);
                         // undamaged copy
  Op_Damage = 5,         // 3 bytes: byte offset (big-endian, modulo the blob size), bit
  Op_Channel_Change = 6, // 1 byte: Sequence_Channels entry, modulo its size
  Op_Hot_Key = 7,        // opens or closes the window
  Op_Close_Box = 8,      // the window's close box
  Op_Next_Portal = 9,    // ">>"
  Op_Entry_Button = 10,  // 1 byte: button (modulo 17); bit 7: the host switches as asked,
                         // bit 6: inside the switch request
  Op_Refresh_Tick = 11,  // the refresh timer fires
  Op_Filter_Close = 12,  // the host closes the filter
  Op_Start = 13,         // On_Start: a new session, also during one
  Op_Topmost = 14,       // the TOPMOST check box
  Op_Other = 15,         // 1 byte modulo 4: OK button, On_Exit, menu item, another menu item
  Sequence_Op_Total = 16
};

constexpr uint32_t Huge_Chunk_Base = 20000;
// A plain blob (below) of a short section holds this many bytes, so that
// one fed whole reaches the scan threshold.
constexpr uint32_t Plain_Blob_Size_Min = 1100;

// The channels a channel change can go to: transport stream id and service id.
struct Sequence_Channel {
  uint16_t Transport_Stream_Id;
  uint16_t Service_Id;
};
constexpr Sequence_Channel Sequence_Channels[] = {
    {4, 18},    // 0: the portal transport stream, a portal's source service
    {4, 0x201}, // 1: the portal transport stream, another source service
    {4, 1001},  // 2: the portal transport stream, a listed service
    {3, 0x11},  // 3: portal 2's source service, off the portal stream
    {7, 208},   // 4: off the portal stream, a filter-keeping service
    {7, 27},    // 5: off the portal stream, a filter-keeping service
    {9, 300},   // 6: off the portal stream, an ordinary service
    {1, 18},    // 7: off the portal stream, a filter-keeping service
    {5, 1102},  // 8: off the portal stream, a listed service
};
constexpr int Sequence_Channel_Total = sizeof Sequence_Channels / sizeof Sequence_Channels[0];

// The fixed blobs, in this order. Blob_Plain(portal, list) is the payload
// (pointer field 0, the section, 0xFF stuffing) of a sound source section of
// a portal whose version_number is `list`, with list 0 (3 entries), 1 (20
// entries, 17 kept, in a section grown by filler descriptors of 200 bytes
// to 1000 bytes or more per portal number plus 1000), 2 (1 entry), 3 (2
// good entries among 2 that do not match) or 4 (no entry). Plain_Blob_Size
// bytes long: the section, its pointer field and a payload's stuffing fit.
constexpr int Plain_Lists_Per_Portal = 5;
constexpr int Blob_Plain(int portal, int list) {
  return portal * Plain_Lists_Per_Portal + list;
}
constexpr uint32_t Plain_Blob_Size(int portal, int list) {
  return list == 1 ? 1000u * static_cast<uint32_t>(portal + 1) + 420 : Plain_Blob_Size_Min;
}
constexpr int Blob_Packed_First = 20; // payload streams of several portals' sections
constexpr int Blob_Packed_Total = 3;
constexpr int Blob_Packets = Blob_Packed_First + Blob_Packed_Total; // whole packets, as some
                                                                    // hosts hand them over
constexpr int Blob_Total = Blob_Packets + 1;
