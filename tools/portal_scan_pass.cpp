// The one pass: four decoders behind one reader.
//
// Without follow mode the decoders (and the payload consumer, e.g. the
// explanation's reassembler) run on a thread of their own, so that reading
// and decoding overlap: on the reading thread the capture reader copies each
// PID 0x12 packet into a batch as it walks past it, and full batches are
// handed over; the decoding thread hands every payload of a batch, in input
// order, to the consumer and the decoders still scanning and says when
// nothing there wants more, after which the reading thread only counts
// packets. Each decoder sees exactly the calls it would see fed inline. In
// follow mode, where a decode is reported while the input is still live, the
// decoders are fed inline, and so they are when the pass is to stop once
// every portal is decoded.
#include "tools/portal_scan_pass.h"

#include "core/decoder_setup.h"
#include "core/dvb_layout.h"
#include "core/host_contract.h"
#include "core/section_decoder.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include <sys/mman.h>

namespace {

// Payloads handed over at a time. The decoding thread, the quicker of the
// two, waits for each batch, and on a virtual machine waking it costs tens
// of microseconds: on the busy capture batches of 2048 took some 5 % less
// wall clock time and CPU time than batches of 1024, and smaller ones more.
constexpr int Batch_Records = 2048;
constexpr int Batch_Total = 4; // batches in the ring between the threads

Section_Decoder Decoders[Portal_Total]; // 32 KB each: kept off the stack

// The chunks a decoder took last, each by its first byte's place in the
// bytes gathered and its packet, so that the places its steps name can be
// found in the input. Kept only while someone observes the steps: enough to
// cover the most bytes a decoder holds in 184-byte chunks.
constexpr int Chunks_Remembered = 256;
struct Chunk_Place {
  uint32_t Gathered = 0;
  uint64_t Packet_Offset = 0;
};
struct Fed_Chunks {
  std::array<Chunk_Place, Chunks_Remembered> Chunks{};
  int Next = 0, Count = 0;
};
Fed_Chunks Chunks_Fed[Portal_Total];

// Remembers the chunk a decoder is about to take: its bytes, if it gathers
// them, go behind those it holds.
void Remember_Chunk(Fed_Chunks &fed, const Section_Decoder &decoder, uint64_t packet_offset) {
  fed.Chunks[static_cast<std::size_t>(fed.Next)] = {
      decoder.Buffer_Start + static_cast<uint32_t>(decoder.Fill), packet_offset};
  fed.Next = (fed.Next + 1) % Chunks_Remembered;
  fed.Count += fed.Count < Chunks_Remembered;
}

// Where the byte at `at` in the bytes gathered stands in the input: in the
// latest chunk that starts at or before it.
Input_Place Place_Of(const Fed_Chunks &fed, uint32_t at) {
  Input_Place place;
  for (int back = 1; back <= fed.Count; ++back) {
    const Chunk_Place &chunk = fed.Chunks[static_cast<std::size_t>(
        (fed.Next - back + Chunks_Remembered) % Chunks_Remembered)];
    const int32_t into = static_cast<int32_t>(at - chunk.Gathered);
    if (into < 0)
      continue;
    place.Known = true;
    place.Packet_Offset = chunk.Packet_Offset;
    place.Payload_Byte = into;
    break;
  }
  return place;
}

// The decoders' side of a pass: the portals' rows the decoders' owner
// keeps, and how far each decoder has come.
struct Decoding {
  const Scan_Setup *Setup = nullptr;
  Decoder_Owner Owner{};
  std::array<Portal_Result, Portal_Total> Results{};
  int Decoded_Total = 0;       // portals decoded at least once
  int Scanning = Portal_Total; // decoders still fed (all of them in follow mode)
};

// The decoders' owner: each decoded list goes into the pass's own row of
// its portal, by the table's rule.
void Keep_List(const Decoded_List &list, void *context) {
  Portal_Listing &listing = static_cast<Decoding *>(context)->Results[list.Portal].Listing;
  listing.Count = Apply_Decoded_List(listing.Entries, listing.Count, listing.Shown, list);
}

Shown_List Listing_Shows(int32_t portal, void *context) {
  return static_cast<Decoding *>(context)->Results[portal].Listing.Shown;
}

// The decoders' observer: each step to the setup's, with its place in the
// input.
void Tell_Step(const Decoder_Event &event, void *context) {
  const Scan_Setup &setup = *static_cast<Decoding *>(context)->Setup;
  setup.Observe(event, Place_Of(Chunks_Fed[event.Portal], event.At), setup.Observe_Context);
}

// One chunk to every decoder still scanning. In follow mode a decode is
// reported and the decoder re-armed; otherwise the decoder is done.
void Feed_Decoders(Decoding &decoding, const uint8_t *chunk, int32_t size, uint64_t packet_offset) {
  const Scan_Setup &setup = *decoding.Setup;
  for (int portal = 0; portal < Portal_Total; ++portal) {
    Section_Decoder &decoder = Decoders[portal];
    Portal_Result &result = decoding.Results[portal];
    if (result.Decoded && !setup.Follow)
      continue;
    if (setup.Observe != nullptr)
      Remember_Chunk(Chunks_Fed[portal], decoder, packet_offset);
    Feed_Section_Decoder(decoder, size, chunk, decoding.Owner);
    result.Bytes_Fed += static_cast<uint64_t>(size);
    if (!decoder.Scan_Idle)
      continue;
    decoding.Decoded_Total += !result.Decoded;
    result.Decoded = true;
    if (!setup.Follow) {
      --decoding.Scanning;
      continue;
    }
    if (setup.On_Decode != nullptr)
      setup.On_Decode(portal, packet_offset, result.Listing, setup.Decode_Context);
    Arm_Section_Decoder(decoder);
  }
}

// The whole packet of a payload: the payload ends where its 188-byte packet
// ends (in 204-byte packets, in front of the parity).
const uint8_t *Packet_Of(const Ts_Payload &payload) {
  return payload.Bytes + payload.Size - Ts_Packet_Size;
}

// One payload to the consumer, if any, and unless flagged to the decoders
// still scanning, as the payload or its whole packet.
void Take_Payload(Decoding &decoding, const Ts_Payload &payload) {
  const Scan_Setup &setup = *decoding.Setup;
  if (setup.Consumer != nullptr)
    setup.Consumer(payload.Bytes, payload.Size, payload.Unit_Start, payload.Flagged,
                   payload.Continuity, payload.Packet_Offset, setup.Consumer_Context);
  if (payload.Flagged || decoding.Scanning == 0)
    return;
  if (setup.Feed == Feed_Unit::Packets)
    Feed_Decoders(decoding, Packet_Of(payload), Ts_Packet_Size, payload.Packet_Offset);
  else
    Feed_Decoders(decoding, payload.Bytes, payload.Size, payload.Packet_Offset);
}

// Whether the decoding side still wants payloads.
bool Wants_Payloads(const Decoding &decoding) {
  return decoding.Scanning > 0 || decoding.Setup->Consumer != nullptr;
}

// A batch of payloads, each in its copy of its packet.
struct Payload_Batch {
  int Count = 0;
  Ts_Payload Payloads[Batch_Records];
  uint8_t Packets[Batch_Records][Ts_Packet_Size];
};

// The ring of batches between the reading thread (which fills batches in
// turn) and the decoding thread (which empties them in the same order).
struct Batch_Ring {
  Payload_Batch Batches[Batch_Total];
  std::mutex Lock;
  std::condition_variable Changed;
  int Filled = 0;        // batches handed over and not yet emptied
  bool Finished = false; // the reading thread hands over no more
  std::atomic<bool> Decoders_Done{false};
};

void Run_Decoders(Batch_Ring &ring, Decoding &decoding) {
  for (int next = 0;; next = (next + 1) % Batch_Total) {
    {
      std::unique_lock<std::mutex> lock(ring.Lock);
      ring.Changed.wait(lock, [&] { return ring.Filled > 0 || ring.Finished; });
      if (ring.Filled == 0)
        return;
    }
    const Payload_Batch &batch = ring.Batches[next];
    for (int i = 0; i < batch.Count && Wants_Payloads(decoding); ++i)
      Take_Payload(decoding, batch.Payloads[i]);
    if (!Wants_Payloads(decoding))
      ring.Decoders_Done.store(true, std::memory_order_relaxed);
    {
      std::lock_guard<std::mutex> lock(ring.Lock);
      --ring.Filled;
    }
    ring.Changed.notify_all();
  }
}

// The reading thread's end of the ring.
struct Batch_Writer {
  Batch_Ring &Ring;
  int Current = 0; // the batch being filled

  // Hands the full batch over and waits for the next one to be free.
  void Hand_Over() {
    {
      std::lock_guard<std::mutex> lock(Ring.Lock);
      ++Ring.Filled;
    }
    Ring.Changed.notify_all();
    Current = (Current + 1) % Batch_Total;
    std::unique_lock<std::mutex> lock(Ring.Lock);
    Ring.Changed.wait(lock, [&] { return Ring.Filled < Batch_Total; });
    Ring.Batches[Current].Count = 0;
  }

  // The next payloads from the reader into the batch begun, their packets
  // copied there; 0 at the end (*status then telling how it ended).
  int Take_From(Ts_Reader &reader, uint16_t pid, Ts_Read_Result *status) {
    Payload_Batch &batch = Ring.Batches[Current];
    const int count =
        Next_Ts_Payloads(reader, pid, batch.Payloads + batch.Count, Batch_Records - batch.Count,
                         status, {batch.Packets[batch.Count], Ts_Packet_Size});
    batch.Count += count;
    if (batch.Count == Batch_Records)
      Hand_Over();
    return count;
  }

  // Hands over the batch begun, if any, and says no more will come.
  void Finish() {
    {
      std::lock_guard<std::mutex> lock(Ring.Lock);
      if (Ring.Batches[Current].Count > 0)
        ++Ring.Filled;
      Ring.Finished = true;
    }
    Ring.Changed.notify_all();
  }
};

// Reads to the end with the decoders fed on this thread, a payload at a
// time; with Stop_When_Decoded, until every portal is decoded (the reader
// then stands right behind the packet that completed the last).
Ts_Read_Result Read_Inline(Ts_Reader &reader, Decoding &decoding) {
  const Scan_Setup &setup = *decoding.Setup;
  Ts_Payload payload;
  Ts_Read_Result status = Ts_Read_Result::End;
  for (;;) {
    const uint16_t pid = Wants_Payloads(decoding) ? Eit_Pid : Ts_No_Pid;
    if (Next_Ts_Payloads(reader, pid, &payload, 1, &status) == 0)
      return status;
    Take_Payload(decoding, payload);
    if (setup.Stop_When_Decoded && decoding.Decoded_Total == Portal_Total) {
      reader.Stopped = Ts_Input_Left(reader);
      return Ts_Read_Result::End;
    }
  }
}

// The ring, some 1.7 MB, made once and kept off the stack, on a page of
// 2 MiB where the system gives one: first touched page by page, its 4 KiB
// pages cost some 450 page faults, 3 % of the scan's CPU time on a virtual
// machine.
Batch_Ring &The_Ring() {
  static Batch_Ring *const ring = [] {
    constexpr std::size_t huge_page = std::size_t{2} << 20;
    const std::size_t size = (sizeof(Batch_Ring) + huge_page - 1) / huge_page * huge_page;
    void *memory = std::aligned_alloc(huge_page, size);
    if (memory == nullptr)
      return new Batch_Ring;
#if defined(MADV_HUGEPAGE)
    madvise(memory, size, MADV_HUGEPAGE);
#endif
    return new (memory) Batch_Ring;
  }();
  return *ring;
}

// Reads to the end with the decoders fed on a thread of their own.
Ts_Read_Result Read_Beside_Decoders(Ts_Reader &reader, Decoding &decoding) {
  Batch_Ring &ring = The_Ring();
  ring.Filled = 0;
  ring.Finished = false;
  ring.Decoders_Done = false;
  ring.Batches[0].Count = 0;
  std::thread decoding_thread;
  try {
    decoding_thread = std::thread(Run_Decoders, std::ref(ring), std::ref(decoding));
  } catch (const std::system_error &) { // no thread to be had: decode on this one
    return Read_Inline(reader, decoding);
  }
  Batch_Writer writer{ring};
  bool decoders_done = false;
  Ts_Read_Result status = Ts_Read_Result::End;
  while (writer.Take_From(reader, decoders_done ? Ts_No_Pid : Eit_Pid, &status) > 0)
    decoders_done = ring.Decoders_Done.load(std::memory_order_relaxed);
  const int saved_errno = errno;
  writer.Finish();
  decoding_thread.join();
  errno = saved_errno;
  return status;
}

} // namespace

Scan_Outcome Scan_Capture(Ts_Reader &reader, const Scan_Setup &setup) {
  Scan_Outcome outcome;
  Decoding decoding;
  decoding.Setup = &setup;
  decoding.Owner = {Keep_List, Listing_Shows, setup.Observe != nullptr ? Tell_Step : nullptr,
                    &decoding};
  for (int portal = 0; portal < Portal_Total; ++portal) {
    Set_Up_Portal_Decoder(Decoders[portal], portal);
    Chunks_Fed[portal] = Fed_Chunks{};
    decoding.Results[portal].Listing = Default_Listing(portal);
  }
  reader.Continuity_Pid = Eit_Pid;
  reader.Hand_Flagged = setup.Consumer != nullptr;
  // Where a decode must be seen at once (to report it, or to stop behind
  // it), the decoders are fed inline.
  outcome.Status = setup.Follow || setup.Stop_When_Decoded ? Read_Inline(reader, decoding)
                                                           : Read_Beside_Decoders(reader, decoding);
  outcome.Portals = decoding.Results;
  return outcome;
}
