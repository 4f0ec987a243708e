// Capture reader: the sources (memory, descriptors), sync search and
// tracking, packet header and adaptation field parsing.
#include "stream/ts_reader.h"

#include "core/dvb_layout.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#if defined(_WIN32)
#include <io.h>
#else
#include <poll.h>
#include <unistd.h>
#endif

namespace {

constexpr std::size_t Packet = Ts_Packet_Size; // sync byte to the packet's last byte

// The packet sizes a stream may have, tried in this order: the 188-byte
// packet alone, behind a 4-byte time stamp (.m2ts), or before 16 bytes of
// Reed-Solomon parity.
constexpr std::size_t Time_Stamp_Size = 4;
constexpr std::size_t Parity_Size = 16;
struct Packet_Layout {
  std::size_t Size;
  std::size_t Prefix; // bytes in front of the sync byte
};
constexpr Packet_Layout Layouts[] = {
    {Packet, 0}, {Time_Stamp_Size + Packet, Time_Stamp_Size}, {Packet + Parity_Size, 0}};
constexpr std::size_t Prefix_Max = Time_Stamp_Size;
constexpr std::size_t Size_Max = Packet + Parity_Size;
// The bytes a sync check needs: from the packet's first byte up to the 0x47
// of the last confirming packet. (Other spacings, to name a stream that never
// syncs, are looked at in whatever bytes are there.)
constexpr std::size_t Confirm_Span = Size_Max * (Ts_Sync_Confirm_Packets - 1) + Prefix_Max + 1;
// Buffer keeps the unread bytes of the last read (fewer than Confirm_Span)
// in front of where the next read lands, and reads land on an address the
// kernel copies to fastest.
constexpr std::size_t Keep_Room = 1024;
constexpr std::size_t Read_Alignment = 64;
constexpr std::size_t Prefetch_Packets = 16; // how far ahead the packet walk asks for memory
static_assert(Confirm_Span + Prefix_Max < Keep_Room, "kept bytes fit in front of a read");

void Reset_Reader(Ts_Reader &reader) {
  reader = Ts_Reader{};
  reader.Buffer.assign(Keep_Room + Read_Alignment + Ts_Reader_Buffer_Size, 0);
  const auto address = reinterpret_cast<std::uintptr_t>(reader.Buffer.data() + Keep_Room);
  reader.Read_At = Keep_Room + (Read_Alignment - address % Read_Alignment) % Read_Alignment;
  reader.Start = reader.End = reader.Read_At;
  reader.Data = reader.Buffer.data();
}

// Up to `max` bytes from a descriptor; 0 at its end, when Before_Read
// stops, or on failure (Failed set, errno telling why).
std::size_t Read_Descriptor(Ts_Reader &reader, uint8_t *into, std::size_t max) {
  for (;;) {
    if (reader.Before_Read != nullptr &&
        !reader.Before_Read(reader.Descriptor, reader.Before_Read_Context)) {
      reader.Stopped = true;
      return 0;
    }
#if defined(_WIN32)
    const int n = _read(reader.Descriptor, into, static_cast<unsigned>(max));
#else
    const ssize_t n = read(reader.Descriptor, into, max);
#endif
    if (n >= 0)
      return static_cast<std::size_t>(n);
    if (errno == EINTR)
      continue;
#if !defined(_WIN32)
    if (errno == EAGAIN || errno == EWOULDBLOCK) { // a non-blocking descriptor: wait for data
      pollfd wait{reader.Descriptor, POLLIN, 0};
      poll(&wait, 1, -1);
      continue;
    }
    // A DVB recording device reports an overrun of its ring buffer this way;
    // the next read goes on behind the lost bytes.
    if (errno == EOVERFLOW && reader.Character_Device)
      continue;
#endif
    reader.Failed = true;
    return 0;
  }
}

std::size_t Read_Source(Ts_Reader &reader, uint8_t *into, std::size_t max) {
  if (reader.Descriptor >= 0)
    return Read_Descriptor(reader, into, max);
  const std::size_t n = std::min(max, reader.Memory_Size - reader.Memory_At);
  if (n > 0)
    std::memcpy(into, reader.Memory + reader.Memory_At, n);
  reader.Memory_At += n;
  return n;
}

// Whether a regular file read through its descriptor is now shorter than
// where the descriptor stands in it.
bool Descriptor_Shrank(const Ts_Reader &reader) {
#if defined(_WIN32)
  (void)reader;
  return false;
#else
  struct stat status {};
  if (reader.Descriptor < 0 || fstat(reader.Descriptor, &status) != 0 || !S_ISREG(status.st_mode))
    return false;
  const off_t at = lseek(reader.Descriptor, 0, SEEK_CUR);
  return at >= 0 && status.st_size < at;
#endif
}

// Makes at least `want` unread bytes available unless the source ends first:
// the unread bytes move in front of Read_At, then reads follow until `want`
// bytes are there or the source ends.
void Fill_Buffer(Ts_Reader &reader, std::size_t want) {
  if (reader.End - reader.Start >= want || reader.At_End)
    return;
  const std::size_t kept = reader.End - reader.Start;
  uint8_t *buffer = reader.Buffer.data();
  std::memmove(buffer + reader.Read_At - kept, buffer + reader.Start, kept);
  reader.Start = reader.Read_At - kept;
  reader.End = reader.Read_At;
  const std::size_t limit = std::max<std::size_t>(reader.Read_Limit, 1);
  while (reader.End - reader.Start < want) {
    const std::size_t room = reader.Read_At + Ts_Reader_Buffer_Size - reader.End;
    const std::size_t n = Read_Source(reader, buffer + reader.End, std::min(limit, room));
    if (n == 0 && !reader.Failed && !reader.Stopped) {
      if (Descriptor_Shrank(reader)) {
        reader.Source_Shrank = reader.At_End = true;
        return;
      }
      if (reader.At_End_Wait != nullptr &&
          reader.At_End_Wait(reader.Descriptor, reader.Before_Read_Context))
        continue;
    }
    if (n == 0) {
      reader.At_End = true;
      return;
    }
    reader.End += n;
  }
}

void Consume(Ts_Reader &reader, std::size_t n) {
  reader.Start += n;
  reader.Offset += n;
}

// Whether a packet of `layout` starts at `at`: a whole packet in the data,
// 0x47 where its sync byte belongs, and 0x47 at every step after it that the
// data reaches, up to the last confirming packet's; with `every_step`, all
// of those steps must lie in the data.
bool Sync_Confirmed(const uint8_t *at, std::size_t available, const Packet_Layout &layout,
                    bool every_step) {
  if (available < layout.Size || at[layout.Prefix] != Ts_Sync_Byte)
    return false;
  for (std::size_t k = 1; k < Ts_Sync_Confirm_Packets; ++k) {
    const std::size_t next = k * layout.Size + layout.Prefix;
    if (next >= available)
      return !every_step;
    if (at[next] != Ts_Sync_Byte)
      return false;
  }
  return true;
}

// For a stream that has not synced: notes a spacing at which 0x47 repeats
// from the 0x47 at `at` for as many steps as a sync needs, all of them in the
// data, so the refusal can say what the data is.
void Note_Other_Spacing(Ts_Reader &reader, const uint8_t *at, std::size_t available) {
  for (std::size_t spacing = Ts_Other_Spacing_Min;
       spacing <= static_cast<std::size_t>(Ts_Other_Spacing_Max); ++spacing) {
    if (spacing * (Ts_Sync_Confirm_Packets - 1) >= available)
      return;
    std::size_t k = 1;
    while (k < Ts_Sync_Confirm_Packets && at[k * spacing] == Ts_Sync_Byte)
      ++k;
    if (k == Ts_Sync_Confirm_Packets) {
      reader.Other_Spacing = static_cast<int32_t>(spacing);
      return;
    }
  }
}

// Passes over bytes until a confirmed sync, leaving Start on the first byte
// of the packet (its time stamp in 192-byte packets); false at the end of
// the data. Once a stream has synced, only its own packet size is tried.
bool Find_Sync(Ts_Reader &reader) {
  for (;;) {
    if (!reader.Ever_Synced && reader.Offset >= reader.Sync_Search_Most) {
      reader.Gave_Up = true;
      return false;
    }
    // A stream's first sync must have every confirming packet in the data,
    // unless the data begins with it (a capture of fewer than five packets):
    // so the last bytes of garbage never pass for a packet. The bytes filled
    // then leave room to move on by more than a prefix.
    const bool first = !reader.Ever_Synced;
    Fill_Buffer(reader, first ? Confirm_Span + Prefix_Max + Read_Alignment : Confirm_Span);
    const std::size_t available = reader.End - reader.Start;
    if (available < Packet)
      return false;
    const uint8_t *at = reader.Data + reader.Start;
    // Each 0x47 with a whole packet behind it is a candidate for every
    // layout whose prefix fits in front of it.
    const std::size_t last = available - Packet + 1;
    for (std::size_t sync = 0; sync < last; ++sync) {
      const void *next = std::memchr(at + sync, Ts_Sync_Byte, last - sync);
      if (next == nullptr)
        break;
      sync = static_cast<std::size_t>(static_cast<const uint8_t *>(next) - at);
      for (const Packet_Layout &layout : Layouts) {
        if (reader.Packet_Size != 0 && layout.Size != static_cast<std::size_t>(reader.Packet_Size))
          continue;
        if (sync < layout.Prefix) {
          // A capture cut inside its first time stamp: the packet behind the
          // cut is whole, and the next ones follow at the layout's spacing.
          const Packet_Layout whole{layout.Size, 0};
          if (!first || reader.Offset != 0 ||
              !Sync_Confirmed(at + sync, available - sync, whole, false))
            continue;
          Consume(reader, sync);
          reader.Short_First = true;
          reader.Missing_Prefix = layout.Prefix - sync;
          reader.Packet_Size = static_cast<int32_t>(layout.Size);
          reader.Packet_Prefix = static_cast<int32_t>(layout.Prefix);
          reader.Synced = true;
          reader.Ever_Synced = true;
          return true;
        }
        const std::size_t start = sync - layout.Prefix;
        const bool every_step = first && !(reader.Offset == 0 && start == 0);
        if (!Sync_Confirmed(at + start, available - start, layout, every_step))
          continue;
        Consume(reader, start);
        reader.Skipped_Bytes += start;
        reader.Packet_Size = static_cast<int32_t>(layout.Size);
        reader.Packet_Prefix = static_cast<int32_t>(layout.Prefix);
        reader.Synced = true;
        reader.Ever_Synced = true;
        return true;
      }
      if (first && reader.Other_Spacing == 0 && reader.Offset + sync < Ts_Other_Spacing_Reach)
        Note_Other_Spacing(reader, at + sync, available - sync);
    }
    // None: on past the candidates tried for good (before the end of the
    // data, a first sync's are those with every step in view), keeping the
    // bytes a later candidate's prefix may need.
    const std::size_t tried =
        first && !reader.At_End ? available - Confirm_Span + 1 : last; // (Fill_Buffer's minimum)
    if (tried <= Prefix_Max)
      return false;
    Consume(reader, tried - Prefix_Max);
    reader.Skipped_Bytes += tried - Prefix_Max;
  }
}

// Continuity on Continuity_Pid: a packet with payload carries the counter
// after the last one's, or repeats it once; a packet without payload keeps
// it.
void Check_Continuity(Ts_Reader &reader, const uint8_t *packet) {
  if (Ts_Packet_Flagged(packet)) { // its counter is no evidence either way
    reader.Last_Counter = -1;
    return;
  }
  if (!Ts_Packet_Has_Payload(packet))
    return;
  const int32_t counter = Ts_Packet_Continuity(packet);
  const int32_t last = reader.Last_Counter;
  if (last >= 0 && !Ts_Packet_Discontinuity(packet)) {
    if (counter == last && !reader.Last_Repeated) {
      reader.Last_Repeated = true;
      return;
    }
    if (counter != ((last + 1) & Ts_Continuity_Mask))
      ++reader.Continuity_Errors;
  }
  reader.Last_Counter = counter;
  reader.Last_Repeated = false;
}

// The payload of a packet whose byte 1 and 2 match the PID wanted (see
// Next_Ts_Payload), or nullptr if it has none (adaptation field only, or a
// length past the packet).
[[gnu::always_inline]] inline const uint8_t *Payload_Of(const uint8_t *packet, int32_t *size) {
  const int32_t start = Ts_Payload_Start(packet);
  if (start == Ts_No_Payload)
    return nullptr;
  *size = Ts_Packet_Size - start;
  return packet + start;
}

constexpr int32_t Mjd_Of_1970 = 40587; // the modified Julian date of 1970-01-01
constexpr int32_t Seconds_Per_Day = 86400;
// The 16-bit date's range: 65535 is 2038-04-22, and the day after reads 0.
constexpr int64_t Mjd_Wrap_Seconds = (int64_t{1} << 16) * Seconds_Per_Day;

// A PCR in the adaptation field of an unflagged packet (see Ts_Reader);
// true when it is the first, naming Pcr_Pid.
[[gnu::noinline]] bool Note_Pcr(Ts_Reader &reader, const uint8_t *packet) {
  if (Ts_Packet_Flagged(packet) || packet[Ts_Adaptation_Length_Offset] < 1 + Ts_Pcr_Size)
    return false;
  const int32_t pid = Ts_Packet_Pid(packet);
  const bool first = reader.Pcr_Pid < 0;
  if (first)
    reader.Pcr_Pid = pid;
  else if (pid != reader.Pcr_Pid)
    return false;
  ++reader.Pcr_Count;
  const uint8_t *at = packet + Ts_Pcr_Offset;
  const uint64_t base = uint64_t{at[0]} << 25 | uint64_t{at[1]} << 17 | uint64_t{at[2]} << 9 |
                        uint64_t{at[3]} << 1 | at[4] >> 7;
  const uint64_t ticks = base * Pcr_Base_To_Ticks + ((at[4] & 1u) << 8 | at[5]);
  const uint64_t modulo = Pcr_Base_Modulo * Pcr_Base_To_Ticks;
  const uint64_t step = (ticks + modulo - reader.Pcr_Last) % modulo;
  if (!first && !Ts_Packet_Discontinuity(packet) && step < Ts_Pcr_Step_Most) {
    reader.Pcr_Ticks += step;
    ++reader.Pcr_Steps;
  }
  reader.Pcr_Last = ticks;
  return first;
}

int32_t Bcd(uint8_t byte) {
  return (byte >> 4) <= 9 && (byte & 0x0F) <= 9 ? (byte >> 4) * 10 + (byte & 0x0F) : -1;
}

// The UTC time of a TDT or TOT starting in an unflagged packet on PID 0x0014.
[[gnu::noinline]] void Note_Utc(Ts_Reader &reader, const uint8_t *packet) {
  if (Ts_Packet_Flagged(packet) || !Ts_Packet_Unit_Start(packet))
    return;
  int32_t payload_size = 0;
  const uint8_t *payload = Payload_Of(packet, &payload_size);
  if (payload == nullptr ||
      Pointer_Field_Size + payload[0] + Tdt_Utc_Time_Offset + Tdt_Utc_Time_Size > payload_size)
    return;
  const uint8_t *section = payload + Pointer_Field_Size + payload[0];
  if (section[Section_Table_Id_Offset] != Tdt_Table_Id &&
      section[Section_Table_Id_Offset] != Tot_Table_Id)
    return;
  const uint8_t *time = section + Tdt_Utc_Time_Offset;
  const int32_t hours = Bcd(time[2]), minutes = Bcd(time[3]), seconds = Bcd(time[4]);
  if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59 || seconds < 0 || seconds > 59)
    return;
  int64_t utc = (int64_t{Big_Endian_16(time)} - Mjd_Of_1970) * Seconds_Per_Day + hours * 3600 +
                minutes * 60 + seconds;
  // Past the date's wrap when the time before says so.
  while (reader.Utc_Seen && utc < reader.Utc_Last - Mjd_Wrap_Seconds / 2)
    utc += Mjd_Wrap_Seconds;
  if (!reader.Utc_Seen)
    reader.Utc_First = utc;
  reader.Utc_Seen = true;
  reader.Utc_Last = utc;
}

// The walk's look table (Ts_Reader::Look_Table), indexed by a packet's
// bytes 1 and 2 (Look_Key). An entry's bits say what to do with the packet:
// count it as flagged, check its continuity, note its TDT or TOT, hand out
// its payload; and Look_If_Adapted, to look at its PCR if byte 3 says it has
// an adaptation field. The walk ANDs the entry with byte 3 and Look_Any, so
// one test tells whether anything is to be done.
constexpr uint8_t Look_Flagged = 0x01;
constexpr uint8_t Look_Counted = 0x02;
constexpr uint8_t Look_Clock = 0x04;
constexpr uint8_t Look_Wanted = 0x08;
constexpr uint8_t Look_Any = Look_Flagged | Look_Counted | Look_Clock | Look_Wanted;
constexpr uint8_t Look_If_Adapted = Ts_Adaptation_Field_Bit;
static_assert((Look_Any & Look_If_Adapted) == 0, "the bits stay apart");
constexpr int Byte_Values = 256;
constexpr std::size_t Look_Keys = Byte_Values * Byte_Values;

inline std::size_t Look_Key(const uint8_t *packet) {
  return static_cast<std::size_t>(packet[1] | packet[2] << 8);
}

// What a look table stands for: the PID asked for, Continuity_Pid, Pcr_Pid
// and Hand_Flagged.
uint64_t Look_For_Key(const Ts_Reader &reader, uint16_t pid) {
  return uint64_t{pid} | uint64_t{reader.Continuity_Pid} << 16 |
         static_cast<uint64_t>(reader.Pcr_Pid + 1) << 32 | uint64_t{reader.Hand_Flagged} << 48;
}

void Build_Look_Table(Ts_Reader &reader, uint16_t pid) {
  reader.Look_Table.resize(Look_Keys);
  uint8_t *table = reader.Look_Table.data();
  // Until a PCR PID is found, any packet with an adaptation field may name it.
  const uint8_t unwatched = reader.Pcr_Pid < 0 ? Look_If_Adapted : 0;
  uint8_t row[Byte_Values]; // by byte 1
  for (int high = 0; high < Byte_Values; ++high)
    row[high] = (high & Ts_Error_Bit) != 0 ? unwatched | Look_Flagged : unwatched;
  for (int low = 0; low < Byte_Values; ++low)
    std::memcpy(table + low * Byte_Values, row, Byte_Values);
  // Adds `look` to the keys of `watched`'s packets, flagged ones too or not.
  const auto mark = [table](int32_t watched, uint8_t look, bool flagged_too) {
    if (watched < 0 || watched > Ts_Pid_Max)
      return;
    for (int high = 0; high < Byte_Values; ++high)
      if ((high & Ts_Pid_High_Mask) == watched >> 8 && (flagged_too || (high & Ts_Error_Bit) == 0))
        table[high | (watched & 0xFF) * Byte_Values] |= look;
  };
  mark(reader.Pcr_Pid, Look_If_Adapted, true);
  mark(reader.Continuity_Pid, Look_Counted, true); // (a flagged packet starts the count afresh)
  mark(Tdt_Pid, Look_Clock, false);
  mark(pid, Look_Wanted, reader.Hand_Flagged);
  reader.Look_For = Look_For_Key(reader, pid);
}

// The look table for `pid`, built anew if what it stands for has changed.
const uint8_t *Look_Table_For(Ts_Reader &reader, uint16_t pid) {
  if (Look_For_Key(reader, pid) != reader.Look_For)
    Build_Look_Table(reader, pid);
  return reader.Look_Table.data();
}

// Copies a payload's packet to `copy` (see Ts_Packet_Copies) and points the
// payload there.
void Copy_Packet(Ts_Payload &payload, const uint8_t *packet, uint8_t *copy) {
  std::memcpy(copy, packet, Packet);
  payload.Bytes = copy + (payload.Bytes - packet);
}

// The first packet of a capture cut inside its time stamp (Short_First),
// counted and, if on the PID wanted, its payload put in *out; false if it is
// not, or not whole.
bool Take_Short_First(Ts_Reader &reader, uint16_t pid, Ts_Payload *out,
                      const Ts_Packet_Copies &copies) {
  reader.Short_First = false;
  Fill_Buffer(reader, Packet);
  if (reader.End - reader.Start < Packet)
    return false;
  const uint8_t *packet = reader.Data + reader.Start;
  Consume(reader, Packet);
  reader.Last_Packet_End = reader.Offset;
  ++reader.Packets;
  const uint8_t look = Look_Table_For(reader, pid)[Look_Key(packet)];
  reader.Error_Packets += look & Look_Flagged;
  if ((look & Look_Counted) != 0)
    Check_Continuity(reader, packet);
  if ((look & Look_Wanted) == 0)
    return false;
  out->Bytes = Payload_Of(packet, &out->Size);
  if (out->Bytes == nullptr)
    return false;
  out->Unit_Start = Ts_Packet_Unit_Start(packet);
  out->Flagged = Ts_Packet_Flagged(packet);
  out->Continuity = Ts_Packet_Continuity(packet);
  out->Packet_Offset = 0;
  if (copies.First != nullptr)
    Copy_Packet(*out, packet, copies.First);
  return true;
}

} // namespace

bool Ts_Input_Left(Ts_Reader &reader) {
  if (reader.End > reader.Start && reader.Tail_Bytes == 0) // (a cut packet is all there is)
    return true;
  if (reader.At_End && !reader.Stopped) // the source said it has no more
    return false;
  if (reader.Descriptor < 0)
    return reader.Memory_At < reader.Memory_Size;
#if defined(_WIN32)
  return true;
#else
  pollfd ready{reader.Descriptor, POLLIN, 0};
  if (poll(&ready, 1, 0) <= 0)
    return true; // nothing yet: more may come
  uint8_t byte = 0;
  return read(reader.Descriptor, &byte, 1) != 0; // the scan ends here: the byte is not needed
#endif
}

bool Open_Ts_File(Ts_Reader &reader, const char *path) {
  Reset_Reader(reader);
#if defined(_WIN32)
  const int descriptor = _open(path, _O_RDONLY | _O_BINARY);
#else
  const int descriptor = open(path, O_RDONLY | O_CLOEXEC);
#endif
  if (descriptor < 0)
    return false;
  Open_Ts_Descriptor(reader, descriptor);
  reader.Owns_Descriptor = true;
  return true;
}

void Open_Ts_Descriptor(Ts_Reader &reader, int descriptor) {
  Reset_Reader(reader);
  reader.Descriptor = descriptor;
#if !defined(_WIN32)
  struct stat status {};
  reader.Character_Device = fstat(descriptor, &status) == 0 && S_ISCHR(status.st_mode);
#endif
}

void Open_Ts_Memory(Ts_Reader &reader, const uint8_t *data, std::size_t size) {
  Reset_Reader(reader);
  reader.Memory = data;
  reader.Memory_Size = data == nullptr ? 0 : size;
}

void Close_Ts_Reader(Ts_Reader &reader) {
  if (reader.Descriptor >= 0 && reader.Owns_Descriptor)
#if defined(_WIN32)
    _close(reader.Descriptor);
#else
    close(reader.Descriptor);
#endif
  reader.Descriptor = -1;
  reader.Memory = nullptr;
  reader.Start = reader.End = reader.Read_At;
}

int Next_Ts_Payloads(Ts_Reader &reader, uint16_t pid, Ts_Payload *out, int room,
                     Ts_Read_Result *status, Ts_Packet_Copies copies) {
  for (;;) {
    if (reader.Packets >= reader.Packet_Limit) {
      reader.Stopped = Ts_Input_Left(reader);
      break;
    }
    if (!reader.Synced && !Find_Sync(reader)) {
      if (reader.Ever_Synced) { // the bytes left hold no packet
        const std::size_t rest = reader.End - reader.Start;
        reader.Skipped_Bytes += rest;
        Consume(reader, rest);
        reader.Trailing_Junk = reader.Offset - reader.Last_Packet_End;
      }
      break;
    }
    if (reader.Short_First) {
      if (Take_Short_First(reader, pid, out, copies))
        return 1;
      continue;
    }
    const std::size_t unit = static_cast<std::size_t>(reader.Packet_Size);
    const std::size_t prefix = static_cast<std::size_t>(reader.Packet_Prefix);
    Fill_Buffer(reader, unit);
    const std::size_t rest = reader.End - reader.Start;
    if (rest < unit) { // the end: the start of one more packet, or bytes that hold none
      if (rest > prefix && reader.Data[reader.Start + prefix] != Ts_Sync_Byte) {
        reader.Synced = false;
        ++reader.Sync_Losses;
        reader.Skipped_Bytes += rest;
        Consume(reader, rest);
        reader.Trailing_Junk = reader.Offset - reader.Last_Packet_End;
      } else {
        reader.Tail_Bytes = rest;
      }
      break;
    }
    // Every whole packet in view, up to the packet limit and up to the next
    // progress call. (The divisions only under a limit and with progress
    // shown: this runs once per payload handed out.)
    std::size_t at = reader.Start;
    std::size_t last = reader.End - unit;
    if (reader.Packet_Limit != UINT64_MAX &&
        reader.Packet_Limit - reader.Packets <= (reader.End - at) / unit)
      last = at + static_cast<std::size_t>(reader.Packet_Limit - reader.Packets - 1) * unit;
    if (reader.Progress != nullptr) {
      if (reader.Offset >= reader.Progress_At && reader.Data[at + prefix] == Ts_Sync_Byte)
        reader.Progress(reader, reader.Progress_Context);
      // Up to the last packet before the next call's.
      const uint64_t before =
          reader.Progress_At > reader.Offset ? (reader.Progress_At - reader.Offset - 1) / unit : 0;
      if (before < (last - at) / unit)
        last = at + static_cast<std::size_t>(before) * unit;
    }
    const uint8_t *const table = Look_Table_For(reader, pid);
    const uint8_t *const first = reader.Data + prefix + at;
    const uint8_t *const final = first + (last - at); // (may stand short of a packet's start)
    const uint8_t *packet = first;
    uint64_t errors = reader.Error_Packets;
    int count = 0;
    for (; packet <= final; packet += unit) {
      // (Asking for the packets ahead saves a little: the reads' bytes are
      // not all in the nearest cache any more.)
      __builtin_prefetch(packet + Prefetch_Packets * unit);
      if (packet[0] != Ts_Sync_Byte) {
        reader.Synced = false;
        ++reader.Sync_Losses;
        break;
      }
      const uint8_t look = table[Look_Key(packet)] & (packet[3] | Look_Any);
      if (look == 0)
        continue;
      errors += look & Look_Flagged;
      if ((look & Look_Counted) != 0)
        Check_Continuity(reader, packet);
      if ((look & Look_If_Adapted) != 0 && (packet[Ts_Adaptation_Flags_Offset] & Ts_Pcr_Bit) != 0 &&
          Note_Pcr(reader, packet))
        Look_Table_For(reader, pid); // (the same size: `table` stays where it is)
      if ((look & Look_Clock) != 0)
        Note_Utc(reader, packet);
      if ((look & Look_Wanted) == 0)
        continue;
      Ts_Payload &taken = out[count];
      taken.Bytes = Payload_Of(packet, &taken.Size);
      if (taken.Bytes == nullptr)
        continue;
      taken.Unit_Start = Ts_Packet_Unit_Start(packet);
      taken.Flagged = Ts_Packet_Flagged(packet);
      taken.Continuity = Ts_Packet_Continuity(packet);
      taken.Packet_Offset = reader.Offset + static_cast<uint64_t>(packet - first);
      if (copies.First != nullptr)
        Copy_Packet(taken, packet, copies.First + static_cast<std::size_t>(count) * copies.Stride);
      if (++count == room) {
        packet += unit;
        break;
      }
    }
    const std::size_t walked = static_cast<std::size_t>(packet - first);
    reader.Start = at + walked;
    reader.Offset += walked;
    reader.Last_Packet_End = reader.Offset;
    reader.Packets += static_cast<uint32_t>(walked) / static_cast<uint32_t>(unit);
    reader.Error_Packets = errors;
    if (count > 0) // (before the buffer is filled again: the payloads lie in it)
      return count;
  }
  if (reader.Failed)
    *status = Ts_Read_Result::Read_Error;
  else
    *status = reader.Ever_Synced ? Ts_Read_Result::End : Ts_Read_Result::Not_Transport_Stream;
  return 0;
}

Ts_Read_Result Next_Ts_Payload(Ts_Reader &reader, uint16_t pid, const uint8_t **payload,
                               int32_t *size) {
  Ts_Payload taken;
  Ts_Read_Result status = Ts_Read_Result::Payload;
  if (Next_Ts_Payloads(reader, pid, &taken, 1, &status) == 0)
    return status;
  *payload = taken.Bytes;
  *size = taken.Size;
  reader.Unit_Start = taken.Unit_Start;
  reader.Flagged = taken.Flagged;
  reader.Continuity = taken.Continuity;
  reader.Packet_Offset = taken.Packet_Offset;
  return Ts_Read_Result::Payload;
}
