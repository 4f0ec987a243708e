// Speed of the data callback on the EIT of a busy transponder, delivered in
// 184-byte chunks as a host's filter hands them over, against a plain memcpy
// of the same bytes:
//  - Disarmed: the decoder throws the bytes away.
//  - Armed_No_Portal: armed, but the shown portal's section never comes, so
//    every byte is scanned.
//  - Armed_Decode: armed, and the portal's section is in the stream; each
//    decode is re-armed at once, as the refresh timer would.
//  - Armed_Failing_Copies: armed, and the portal's section comes six times,
//    each copy damaged in the same byte another way, so that every copy
//    fails and is judged with all the failing copies kept before it, and no
//    combination holds: the most work a judgement does on such copies.
// Each reports bytes per second; the "ratio_to_memcpy" counter is the time
// per byte relative to Memcpy_Chunks measured in the same run.
#include "core/decoder_setup.h"
#include "core/plugin_decoder.h"
#include "core/plugin_state.h"
#include "core/portal_table.h"
#include "stream/eit_writer.h"
#include "stream/ts_reader.h"
#include "stream/ts_writer.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <string>

namespace {

constexpr int Busy_Services = 60;

// An event with a short event descriptor and an extended-looking text.
Eit_Event Event_For(int service, int number) {
  Eit_Event event;
  event.Event_Id = static_cast<uint16_t>(service * 16 + number);
  const std::string title = "Sendung " + std::to_string(service) + "/" + std::to_string(number);
  event.Descriptors =
      Short_Event_Descriptor_Bytes("deu", title, std::string(120, 'a' + number % 26));
  return event;
}

// Present/following and schedule sections of many services, packed into
// PID 0x12 packets, and the filter payloads of those packets.
enum class Portal_Copies { None, One_Sound, Failing };
constexpr int Failing_Copies = 6;

std::vector<Byte_Vector> Busy_Payloads(Portal_Copies portal_copies) {
  std::vector<Byte_Vector> sections;
  for (int service = 0; service < Busy_Services; ++service) {
    Eit_Section present;
    present.Service_Id = static_cast<uint16_t>(0x2000 + service);
    present.Transport_Stream_Id = 4;
    present.Events = {Event_For(service, 0), Event_For(service, 1)};
    sections.push_back(Build_Eit_Section(present));
    for (uint8_t number = 0; number < 4; ++number) {
      Eit_Section schedule = present;
      schedule.Table_Id = Eit_Actual_Schedule_First;
      schedule.Last_Table_Id = Eit_Actual_Schedule_First;
      schedule.Section_Number = number;
      schedule.Last_Section_Number = 3;
      schedule.Events.clear();
      for (int event = 0; event < 12; ++event)
        schedule.Events.push_back(Event_For(service, 2 + event));
      sections.push_back(Build_Eit_Section(schedule));
    }
  }
  Ts_Writer writer;
  Ts_Packet_Options packed;
  packed.Pack_Sections = true;
  Write_Sections(writer, Eit_Pid, sections, packed);
  // The portal's section starts a packet of its own.
  std::vector<Portal_Listing_Entry> entries;
  for (int i = 0; i < 12; ++i)
    entries.push_back({4, static_cast<uint16_t>(300 + i), "Kanal " + std::to_string(i)});
  const Byte_Vector portal = Build_Eit_Section(Portal_Source_Section(0, entries));
  if (portal_copies == Portal_Copies::One_Sound)
    Write_Section(writer, Eit_Pid, portal);
  for (int copy = 0; portal_copies == Portal_Copies::Failing && copy < Failing_Copies; ++copy) {
    Byte_Vector failing = portal;
    failing[portal.size() / 2] ^= static_cast<uint8_t>(1u << copy);
    Write_Section(writer, Eit_Pid, failing);
    Write_Sections(writer, Eit_Pid, {sections[static_cast<std::size_t>(copy)]}, packed);
  }

  std::vector<Byte_Vector> payloads;
  Ts_Reader reader;
  Open_Ts_Memory(reader, writer.Bytes.data(), writer.Bytes.size());
  const uint8_t *payload = nullptr;
  int32_t size = 0;
  while (Next_Ts_Payload(reader, Eit_Pid, &payload, &size) == Ts_Read_Result::Payload)
    payloads.emplace_back(payload, payload + size);
  Close_Ts_Reader(reader);
  return payloads;
}

int64_t Total_Bytes(const std::vector<Byte_Vector> &payloads) {
  int64_t total = 0;
  for (const Byte_Vector &payload : payloads)
    total += static_cast<int64_t>(payload.size());
  return total;
}

double Memcpy_Nanoseconds_Per_Byte = 0; // set by Memcpy_Chunks, read by the others

void Report(benchmark::State &state, int64_t bytes_per_pass, double seconds) {
  state.SetBytesProcessed(state.iterations() * bytes_per_pass);
  const double per_byte = seconds * 1e9 / static_cast<double>(state.iterations() * bytes_per_pass);
  state.counters["ns_per_byte"] = per_byte;
  if (Memcpy_Nanoseconds_Per_Byte > 0)
    state.counters["ratio_to_memcpy"] = per_byte / Memcpy_Nanoseconds_Per_Byte;
}

// Copies each payload into a buffer of the same size as Section_Buffer, the
// way the callback's append does, and nothing else.
void Memcpy_Chunks(benchmark::State &state) {
  const auto payloads = Busy_Payloads(Portal_Copies::None);
  static uint8_t target[Section_Buffer_Size];
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    int32_t fill = 0;
    for (const Byte_Vector &payload : payloads) {
      if (fill + static_cast<int32_t>(payload.size()) > Section_Buffer_Size)
        fill = 0;
      std::memcpy(target + fill, payload.data(), payload.size());
      fill += static_cast<int32_t>(payload.size());
    }
    benchmark::DoNotOptimize(target);
    benchmark::ClobberMemory();
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const int64_t bytes = Total_Bytes(payloads);
  Memcpy_Nanoseconds_Per_Byte = seconds * 1e9 / static_cast<double>(state.iterations() * bytes);
  Report(state, bytes, seconds);
}

void Run_Callback(benchmark::State &state, Portal_Copies portal_copies, bool armed) {
  const auto payloads = Busy_Payloads(portal_copies);
  Arm_Decoder_For_Portal(0);
  if (!armed)
    Disarm_Section_Decoder(Plugin_Decoder);
  int64_t decodes = 0;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    for (const Byte_Vector &payload : payloads) {
      On_Section_Data(0, static_cast<int32_t>(payload.size()), payload.data());
      if (armed && Plugin_Decoder.Scan_Idle) {
        ++decodes;
        Arm_Section_Decoder(Plugin_Decoder);
      }
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  Report(state, Total_Bytes(payloads), seconds);
  state.counters["decodes_per_pass"] =
      static_cast<double>(decodes) / static_cast<double>(state.iterations());
}

void Disarmed(benchmark::State &state) {
  Run_Callback(state, Portal_Copies::One_Sound, false);
}
void Armed_No_Portal(benchmark::State &state) {
  Run_Callback(state, Portal_Copies::None, true);
}
void Armed_Decode(benchmark::State &state) {
  Run_Callback(state, Portal_Copies::One_Sound, true);
}
void Armed_Failing_Copies(benchmark::State &state) {
  Run_Callback(state, Portal_Copies::Failing, true);
}

BENCHMARK(Memcpy_Chunks);
BENCHMARK(Disarmed);
BENCHMARK(Armed_No_Portal);
BENCHMARK(Armed_Decode);
BENCHMARK(Armed_Failing_Copies);

} // namespace

BENCHMARK_MAIN();
