// Helpers the unit tests share: put the plug-in into a known state, build
// filter payloads around EIT sections, and feed them in chunks.
#pragma once

#include "core/decoder_setup.h"
#include "core/plugin_decoder.h"
#include "core/plugin_state.h"
#include "core/portal_table.h"
#include "stream/eit_writer.h"

#include <string>
#include <vector>

// The state right after load, a table reset, and a channel change with the
// filter running and `portal` shown: the decoder is armed on an empty buffer,
// and Last_Decoded forgets what it saw.
void Arm_Decoder(int portal);

// The last list the plug-in's decoder handed to its owner since
// Arm_Decoder (Way None if none), as its observer heard it.
const Decoded_List &Last_Decoded();

// `count` entries named "Kanal 0", "Kanal 1", ... on transport stream 4 + i,
// service 1000 + i.
std::vector<Portal_Listing_Entry> Numbered_Entries(int count);

// A filter payload: the pointer field 0 and then the section.
Byte_Vector Payload_Of(const Byte_Vector &section);

// The payload carrying `portal`'s source section with `entries`, followed by
// `padding` bytes of stuffing.
Byte_Vector Portal_Payload(int portal, const std::vector<Portal_Listing_Entry> &entries,
                           std::size_t padding = 1000);

// Another service's section of `size` bytes (at least 37: one event with a
// short event descriptor whose text is `fill` bytes), for packing around the
// portal's.
Byte_Vector Other_Section(std::size_t size, char fill = 'y');

// Hands `bytes` to On_Section_Data in chunks of `chunk` bytes.
void Feed(const Byte_Vector &bytes, std::size_t chunk = Ts_Payload_Size);
void Feed_Once(const Byte_Vector &bytes);

// The buffer's valid bytes.
Byte_Vector Buffered();

std::string Name_Of(const Portal_Entry &entry);

// Whether a row and its count hold `list`: its names and ids, in order.
bool Row_Holds(const Portal_Row &row, int32_t count, const std::vector<Portal_Listing_Entry> &list);

// The payloads of every packet on the EIT PID of `packets`, one after another.
Byte_Vector Filter_Payloads(const Byte_Vector &packets);
