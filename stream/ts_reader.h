// Capture reader: walks a transport stream in constant memory and hands out
// the payloads of one PID's packets, the way a receiver's section filter on
// that PID delivers them: one payload per packet, pointer field included,
// adaptation field skipped.
//
// Sources: bytes in memory; a file or any other descriptor (a pipe, a FIFO,
// a character device, standard input), read through one buffer, taking
// whatever each read returns, so live streams flow as they arrive. A regular
// file opened by path is read the same way: copying it through a buffer
// that stays in the processor's cache costs no more than the reads of `cat`,
// while walking a mapping of it takes a miss in the address translation per
// page (on a virtual machine several times as long as the reads). A file that
// grows while it is read is read up to the end it has when the reader gets
// there; one found shorter than what was read from it sets Source_Shrank.
//
// Packet sizes: 188 bytes, 192 (a 4-byte time stamp in front of each
// packet, as recorders write .m2ts) or 204 (16 bytes of parity behind it).
// Sync is found as a 0x47 byte with 0x47 again at each step of one of those
// sizes after it for the following packets (188 tried first), kept while
// every packet starts with 0x47, and searched for again after garbage; the
// size found first is the stream's from then on. The rule is the same at
// every position: near the end of the data only the steps that lie inside it
// are looked at, so a capture that ends inside a packet syncs like any other
// and is read up to its last whole packet (Tail_Bytes: a packet cut short
// there is one whose sync byte stands where the last whole packet's spacing
// puts it, or lies past the end). A capture of 192-byte packets cut inside
// its first time stamp keeps its first packet. Bytes at the end that hold no
// packet, fewer than a packet or more, are a sync loss and count as skipped
// (Trailing_Junk). Data that never syncs is looked at for 0x47 bytes at
// another even spacing, to name it; a reader may give up on it after
// Sync_Search_Most bytes (Gave_Up). Packets flagged with
// the transport error indicator (unless asked for), packets without payload
// and packets with an impossible adaptation field length are skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr int Ts_Sync_Confirm_Packets = 5;            // packet starts that confirm a sync
constexpr int Ts_Reader_Buffer_Size = 256 * 1024;     // bytes one read of a descriptor may fill
constexpr int32_t Ts_Other_Spacing_Min = 64;          // spacings looked at to name a stream
constexpr int32_t Ts_Other_Spacing_Max = 1024;        // that never syncs
constexpr uint64_t Ts_Other_Spacing_Reach = 1u << 20; // input bytes looked at for them
constexpr uint16_t Ts_No_Pid = 0xFFFF; // matches no packet: Next_Ts_Payload only counts
constexpr uint64_t Ts_Pcr_Step_Most = 10 * 27000000ull; // a PCR step of 10 s or more is a jump

enum class Ts_Read_Result {
  Payload,              // *payload and *size hold the next payload
  End,                  // end of the data
  Not_Transport_Stream, // end of the data and no sync was ever found
  Read_Error,           // the source could not be read; errno tells why
};

struct Ts_Reader;
// Called when Offset reaches Progress_At (checked at every packet), e.g. to
// show progress; it moves Progress_At on.
using Ts_Progress_Callback = void (*)(Ts_Reader &reader, void *context);
// Called before each read of a descriptor; false ends the input there
// (Stopped is then set), e.g. when the user asked to stop while the reader
// waited for a live stream.
using Ts_Before_Read_Callback = bool (*)(int descriptor, void *context);
// Called when a descriptor or a file has no more bytes for now; true to look
// again (after waiting for it to grow), false to end the input there.
using Ts_At_End_Callback = bool (*)(int descriptor, void *context);

struct Ts_Reader {
  // The source.
  int Descriptor = -1;
  bool Owns_Descriptor = false;
  bool Character_Device = false;   // an overrun it reports is no read error
  const uint8_t *Memory = nullptr; // the data when reading from memory
  std::size_t Memory_Size = 0;
  std::size_t Memory_At = 0;
  // Most bytes one read of a descriptor or of memory asks for. Memory is
  // copied through Buffer in pieces of this size, as a pipe would hand it.
  std::size_t Read_Limit = Ts_Reader_Buffer_Size;
  Ts_Progress_Callback Progress = nullptr;
  void *Progress_Context = nullptr;
  uint64_t Progress_At = UINT64_MAX; // no call before Offset reaches it
  Ts_Before_Read_Callback Before_Read = nullptr;
  void *Before_Read_Context = nullptr; // also At_End's
  Ts_At_End_Callback At_End_Wait = nullptr;
  uint64_t Packet_Limit = UINT64_MAX;     // packets read, then the input ends (Stopped set)
  bool Hand_Flagged = false;              // hand out flagged packets on the PID too
  uint16_t Continuity_Pid = 0xFFFF;       // the PID whose continuity is counted; none
  uint64_t Sync_Search_Most = UINT64_MAX; // bytes looked through for a first sync, at most

  // The unread bytes are Data[Start, End); Data is Buffer's. Reads land at
  // Read_At in Buffer, the unread bytes of the last read moved in front of it.
  std::vector<uint8_t> Buffer;
  const uint8_t *Data = nullptr;
  std::size_t Read_At = 0;
  std::size_t Start = 0, End = 0;

  bool At_End = false;  // the source has no more bytes
  bool Failed = false;  // a read failed
  bool Stopped = false; // Before_Read ended the input
  bool Gave_Up = false; // no first sync in Sync_Search_Most bytes: the input ends there
  // A regular file read to its end was cut shorter than what had been taken
  // from it, e.g. truncated to be written anew: the input ends there, and
  // bytes taken but not yet read are dropped (they are gone).
  bool Source_Shrank = false;
  bool Synced = false;
  bool Ever_Synced = false;
  int32_t Packet_Size = 0;   // 188, 192 or 204 once synced; 0 before
  int32_t Packet_Prefix = 0; // bytes in front of the 0x47 (4 in 192-byte packets)
  int32_t Other_Spacing = 0; // never synced: 0x47 bytes found this far apart, if any

  // The last payload Next_Ts_Payload handed out.
  bool Unit_Start = false;    // its payload_unit_start_indicator
  bool Flagged = false;       // its transport_error_indicator (Hand_Flagged only)
  int32_t Continuity = -1;    // its packet's continuity_counter
  uint64_t Packet_Offset = 0; // where its packet (time stamp included) starts in the input

  uint64_t Offset = 0;          // bytes consumed from the source
  uint64_t Packets = 0;         // packets read while in sync, all PIDs
  uint64_t Error_Packets = 0;   // of those, flagged with transport_error_indicator
  uint64_t Sync_Losses = 0;     // times a packet did not start with 0x47
  uint64_t Skipped_Bytes = 0;   // bytes passed over looking for sync
  uint64_t Tail_Bytes = 0;      // at the end, in sync: the bytes of a packet cut short
  uint64_t Trailing_Junk = 0;   // at the end, out of sync: bytes that hold no packet (skipped)
  uint64_t Last_Packet_End = 0; // where the last packet read ends in the input
  bool Short_First = false;     // the first record lacks part of its time stamp (see Find_Sync)
  uint64_t Missing_Prefix = 0;  // how many bytes of it: Offset counts none of them
  // On Continuity_Pid: packets whose continuity_counter does not follow the
  // last one's (a repeat of it is allowed once; a discontinuity_indicator or
  // a flagged packet starts the count afresh).
  uint64_t Continuity_Errors = 0;
  int32_t Last_Counter = -1; // on Continuity_Pid; -1 none yet
  bool Last_Repeated = false;

  // The capture's clocks, for its time span (unflagged packets only). The
  // PCR of the first PID seen carrying one: Pcr_Ticks sums its forward steps
  // (27 MHz), a step of Ts_Pcr_Step_Most or more or a discontinuity_indicator
  // starting afresh; Pcr_Steps counts the steps summed (none: the PCR gives
  // no span). UTC: the first and last time a TDT or TOT gave, in seconds
  // since 1970; a 16-bit modified Julian date that has wrapped (on
  // 2038-04-23) is read as past the wrap when the time before lies more than
  // half the date's range after it.
  int32_t Pcr_Pid = -1;
  uint64_t Pcr_Last = 0;
  uint64_t Pcr_Ticks = 0;
  uint64_t Pcr_Count = 0; // PCRs taken on Pcr_Pid
  uint64_t Pcr_Steps = 0;
  bool Utc_Seen = false;
  int64_t Utc_First = 0, Utc_Last = 0;

  // Which packets the walk over them must look at beyond their sync byte,
  // by their bytes 1 and 2 (see Next_Ts_Payload): flagged ones, those on the
  // PID asked for, on Continuity_Pid, on the TDT's PID and, until a PCR PID
  // is found, every one with an adaptation field, then those of Pcr_Pid with
  // one. Built for Look_For (the PIDs it stands for; none yet: all ones).
  std::vector<uint8_t> Look_Table;
  uint64_t Look_For = UINT64_MAX;
};

// Opens `path` for reading. False (with errno set) if it cannot be opened.
bool Open_Ts_File(Ts_Reader &reader, const char *path);
// Reads the open descriptor `descriptor` (e.g. 0, standard input) from where
// it stands; Close_Ts_Reader leaves it open.
void Open_Ts_Descriptor(Ts_Reader &reader, int descriptor);
// Reads `size` bytes at `data`, which must stay valid while reading.
void Open_Ts_Memory(Ts_Reader &reader, const uint8_t *data, std::size_t size);
void Close_Ts_Reader(Ts_Reader &reader);

// Whether the input has bytes behind those read (a packet cut short at the
// end aside), as far as can be told without waiting: a live input that has
// nothing ready yet may still bring more, and counts as having it.
bool Ts_Input_Left(Ts_Reader &reader);

// The next payload of a packet on `pid`. The bytes stay valid until the next
// call. At the end: End, or Not_Transport_Stream when no sync was found.
Ts_Read_Result Next_Ts_Payload(Ts_Reader &reader, uint16_t pid, const uint8_t **payload,
                               int32_t *size);

// A payload and what its packet says of it.
struct Ts_Payload {
  const uint8_t *Bytes = nullptr;
  int32_t Size = 0;
  bool Unit_Start = false;    // payload_unit_start_indicator
  bool Flagged = false;       // transport_error_indicator (Hand_Flagged only)
  int32_t Continuity = 0;     // continuity_counter
  uint64_t Packet_Offset = 0; // where the packet (time stamp included) starts in the input
};
// Where Next_Ts_Payloads copies the packet of each payload it hands out
// (the 188 bytes from its sync byte), as it finds it: the i-th payload's to
// First + i * Stride. The payload's Bytes then point into the copy. Copied
// there and then, while the packet's bytes are at hand, rather than after the
// walk through the bytes read, the copies took 7 % less of portal-scan's
// time on a busy capture.
struct Ts_Packet_Copies {
  uint8_t *First = nullptr; // none: no copies
  std::size_t Stride = 0;
};
// The next payloads of packets on `pid`, as Next_Ts_Payload hands them out
// one by one, into out[0] up to out[room - 1]: as many as the bytes already
// read hold (at least one, unless at the end), so the reader stands behind
// the last one's packet. Their bytes stay valid until the next call (or as
// long as the copies); the Ts_Reader fields of "the last payload handed out"
// are left alone. 0 at the end, *status then End, Not_Transport_Stream or
// Read_Error.
int Next_Ts_Payloads(Ts_Reader &reader, uint16_t pid, Ts_Payload *out, int room,
                     Ts_Read_Result *status, Ts_Packet_Copies copies = {});
