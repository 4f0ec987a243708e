// Capture reader: walks a transport stream file (or bytes in memory) in
// constant memory and hands out the payloads of one PID's packets, the way
// a receiver's section filter on that PID delivers them: one payload per
// packet, pointer field included, adaptation field skipped.
//
// Sync is found as a 0x47 byte with 0x47 again at 188-byte spacing on the
// following packets, kept while every packet starts with 0x47, and searched
// for again after garbage. Packets flagged with the transport error
// indicator, packets without payload and packets with an impossible
// adaptation field length are skipped.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

constexpr int Ts_Sync_Confirm_Packets = 5; // packets that confirm a sync
constexpr int Ts_Reader_Buffer_Size = 188 * 256;

enum class Ts_Read_Result {
  Payload,              // *payload and *size hold the next payload
  End,                  // end of the data
  Not_Transport_Stream, // end of the data and no sync was ever found
  Read_Error,           // the file could not be read; errno tells why
};

struct Ts_Reader;
// Called after every refill of the reader's buffer, e.g. to show progress.
using Ts_Progress_Callback = void (*)(const Ts_Reader &reader, void *context);

struct Ts_Reader {
  std::FILE *File = nullptr;
  const uint8_t *Memory = nullptr; // the data when reading from memory
  std::size_t Memory_Size = 0;
  std::size_t Memory_At = 0;
  std::size_t Read_Limit = Ts_Reader_Buffer_Size; // most bytes one read asks for
  Ts_Progress_Callback Progress = nullptr;
  void *Progress_Context = nullptr;
  std::vector<uint8_t> Buffer;
  std::size_t Start = 0, End = 0; // unread bytes are Buffer[Start, End)
  bool At_End = false;            // the source has no more bytes
  bool Failed = false;            // a read failed
  bool Synced = false;
  bool Ever_Synced = false;
  bool Unit_Start = false;    // payload_unit_start_indicator of the last payload
  uint64_t Offset = 0;        // bytes consumed from the source
  uint64_t Packets = 0;       // packets read while in sync, all PIDs
  uint64_t Error_Packets = 0; // of those, flagged with transport_error_indicator
  uint64_t Sync_Losses = 0;   // times a packet did not start with 0x47
  uint64_t Skipped_Bytes = 0; // bytes passed over looking for sync
};

// Opens `path` for reading. False (with errno set) if it cannot be opened.
bool Open_Ts_File(Ts_Reader &reader, const char *path);
// Reads `size` bytes at `data`, which must stay valid while reading.
void Open_Ts_Memory(Ts_Reader &reader, const uint8_t *data, std::size_t size);
void Close_Ts_Reader(Ts_Reader &reader);

// The next payload of a packet on `pid`. The bytes stay valid until the next
// call. At the end: End, or Not_Transport_Stream when no sync was found.
Ts_Read_Result Next_Ts_Payload(Ts_Reader &reader, uint16_t pid, const uint8_t **payload,
                               int32_t *size);
