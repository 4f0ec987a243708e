// Packetizer and capture reader together: sections written into packets come
// back out of the reader intact, whatever the layout, the noise around them
// or the damage in between.
#include "core/host_contract.h"
#include "core/section_crc.h"
#include "core/section_crc_fast.h"
#include "stream/eit_writer.h"
#include "stream/ts_reader.h"
#include "stream/ts_writer.h"
#include "tests/stream/temp_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <thread>

namespace {

// Sections of assorted sizes: one packet, exactly one payload, three packets.
std::vector<Byte_Vector> Test_Sections() {
  std::vector<Byte_Vector> sections;
  for (int events : {1, 0, 9, 2}) {
    Eit_Section section;
    section.Service_Id = static_cast<uint16_t>(0x30 + events);
    for (int i = 0; i < events; ++i) {
      Eit_Event event;
      event.Event_Id = static_cast<uint16_t>(i);
      event.Descriptors =
          Short_Event_Descriptor_Bytes("deu", "Titel " + std::to_string(i), std::string(20, 'x'));
      section.Events.push_back(event);
    }
    sections.push_back(Build_Eit_Section(section));
  }
  return sections;
}

struct Read_Back {
  std::vector<Byte_Vector> Payloads;
  std::vector<bool> Unit_Starts;
  std::vector<int32_t> Continuities;
  std::vector<uint64_t> Packet_Offsets;
  Ts_Read_Result Last = Ts_Read_Result::End;
  Ts_Reader Reader; // counters after the end
};

// Reads on from where the reader stands, adding to `back`.
void Read_On(Ts_Reader &reader, Read_Back &back) {
  const uint8_t *payload = nullptr;
  int32_t size = 0;
  while ((back.Last = Next_Ts_Payload(reader, Eit_Pid, &payload, &size)) ==
         Ts_Read_Result::Payload) {
    back.Payloads.emplace_back(payload, payload + size);
    back.Unit_Starts.push_back(reader.Unit_Start);
    back.Continuities.push_back(reader.Continuity);
    back.Packet_Offsets.push_back(reader.Packet_Offset);
  }
  back.Reader = reader;
}

// The same through Next_Ts_Payloads, `room` payloads at most a call, their
// packets copied (the payloads looked at only after each call).
void Read_On_In_Batches(Ts_Reader &reader, Read_Back &back, int room) {
  std::vector<Ts_Payload> payloads(static_cast<std::size_t>(room));
  std::vector<uint8_t> copies(static_cast<std::size_t>(room) * Ts_Packet_Size);
  int count = 0;
  while ((count = Next_Ts_Payloads(reader, Eit_Pid, payloads.data(), room, &back.Last,
                                   {copies.data(), Ts_Packet_Size})) > 0) {
    for (int i = 0; i < count; ++i) {
      const Ts_Payload &payload = payloads[static_cast<std::size_t>(i)];
      EXPECT_EQ(payload.Bytes + payload.Size, copies.data() + (i + 1) * Ts_Packet_Size);
      back.Payloads.emplace_back(payload.Bytes, payload.Bytes + payload.Size);
      back.Unit_Starts.push_back(payload.Unit_Start);
      back.Continuities.push_back(payload.Continuity);
      back.Packet_Offsets.push_back(payload.Packet_Offset);
    }
  }
  back.Reader = reader;
}

Read_Back Read_All(Ts_Reader &reader) {
  Read_Back back;
  Read_On(reader, back);
  Close_Ts_Reader(reader);
  return back;
}

// Read one payload at a time, or with `room`, in batches.
Read_Back Read_Memory(const Byte_Vector &bytes, std::size_t read_limit = Ts_Reader_Buffer_Size,
                      int room = 0) {
  Ts_Reader reader;
  Open_Ts_Memory(reader, bytes.data(), bytes.size());
  reader.Read_Limit = read_limit;
  if (room == 0)
    return Read_All(reader);
  Read_Back back;
  Read_On_In_Batches(reader, back, room);
  Close_Ts_Reader(reader);
  return back;
}

// Reassembles sections from payloads the way a demultiplexer does: the
// pointer field of a unit-start payload ends the previous section, 0xFF
// where a table id would be is stuffing up to the end of the payload.
std::vector<Byte_Vector> Reassemble(const Read_Back &back) {
  std::vector<Byte_Vector> sections;
  Byte_Vector current;
  std::size_t wanted = 0;
  for (std::size_t i = 0; i < back.Payloads.size(); ++i) {
    const Byte_Vector &payload = back.Payloads[i];
    std::size_t at = 0;
    if (back.Unit_Starts[i]) {
      const std::size_t pointer = payload[0];
      at = 1;
      if (wanted > current.size())
        current.insert(current.end(), payload.begin() + 1, payload.begin() + 1 + pointer);
      if (wanted > 0 && current.size() == wanted)
        sections.push_back(current);
      at += pointer;
      current.clear();
      wanted = 0;
    }
    while (at < payload.size()) {
      if (wanted == 0) {
        if (payload[at] == Stuffing_Byte || payload.size() - at < Section_Head_Bytes)
          break;
        wanted = static_cast<std::size_t>(Section_Size_At(&payload[at]));
      }
      const std::size_t n = std::min(wanted - current.size(), payload.size() - at);
      current.insert(current.end(), payload.begin() + static_cast<long>(at),
                     payload.begin() + static_cast<long>(at + n));
      at += n;
      if (current.size() == wanted) {
        sections.push_back(current);
        current.clear();
        wanted = 0;
      }
    }
  }
  return sections;
}

TEST(Ts_Writer, PacketsCarrySyncPidAndRunningContinuityCounters) {
  Ts_Writer writer;
  for (int round = 0; round < 6; ++round) {
    Write_Sections(writer, Eit_Pid, Test_Sections());
    Write_Noise_Packet(writer, 0x0100);
  }
  ASSERT_EQ(writer.Bytes.size() % Ts_Packet_Size, 0u);
  int next[Ts_Pid_Count];
  std::fill(std::begin(next), std::end(next), -1);
  for (std::size_t at = 0; at < writer.Bytes.size(); at += Ts_Packet_Size) {
    const uint8_t *packet = writer.Bytes.data() + at;
    ASSERT_EQ(packet[0], Ts_Sync_Byte);
    const int pid = Ts_Packet_Pid(packet);
    ASSERT_TRUE(pid == Eit_Pid || pid == 0x0100);
    const int counter = Ts_Packet_Continuity(packet);
    if (next[pid] >= 0) {
      EXPECT_EQ(counter, next[pid]) << "packet at " << at;
    }
    next[pid] = (counter + 1) & Ts_Continuity_Mask;
  }
}

// The CRC register after one more byte, a bit at a time, as the CRC's
// definition reads.
uint32_t Bitwise_Crc_Update(uint32_t crc, uint8_t byte) {
  for (int bit = 7; bit >= 0; --bit) {
    const bool feedback = ((crc >> 31) ^ ((byte >> bit) & 1u)) != 0;
    crc = feedback ? (crc << 1) ^ Mpeg_Crc32_Polynomial : crc << 1;
  }
  return crc;
}

// Sections come back whole with a CRC that holds; and every way of computing
// the CRC that this processor runs gives the bitwise definition's register
// over every piece of the packets they travel in: every length, starting at
// every alignment, from assorted registers.
TEST(Ts_Round_Trip, SectionsComeBackWithValidCrcInEveryLayout) {
  const std::vector<Byte_Vector> sections = Test_Sections();
  Ts_Writer packets;
  Write_Sections(packets, Eit_Pid, sections);
  const std::size_t span = 1100; // 17 of the folding's 64-byte steps, and more
  ASSERT_GE(packets.Bytes.size(), span);
  struct Crc_Case {
    const char *Name;
    bool Available;
    uint32_t (*Update)(uint32_t crc, const uint8_t *bytes, std::size_t size);
  };
  const Crc_Case crc_cases[] = {
      {"Mpeg_Crc32_Update", true, Mpeg_Crc32_Update},
      {"sliced", Crc_Method_Available(Crc_Method::Sliced),
       [](uint32_t crc, const uint8_t *bytes, std::size_t size) {
         return Mpeg_Crc32_Update_By(Crc_Method::Sliced, crc, bytes, size);
       }},
      {"folded", Crc_Method_Available(Crc_Method::Folded),
       [](uint32_t crc, const uint8_t *bytes, std::size_t size) {
         return Mpeg_Crc32_Update_By(Crc_Method::Folded, crc, bytes, size);
       }},
  };
  for (const Crc_Case &c : crc_cases) {
    if (!c.Available) {
      std::printf("note: this processor has no %s CRC method to check\n", c.Name);
      continue;
    }
    for (uint32_t start : {0u, Mpeg_Crc32_Initial, 0x8001A5C3u})
      for (std::size_t alignment = 0; alignment < 16; ++alignment) {
        const uint8_t *bytes = packets.Bytes.data() + alignment;
        uint32_t expected = start;
        for (std::size_t size = 0; alignment + size <= span; ++size) {
          ASSERT_EQ(c.Update(start, bytes, size), expected)
              << c.Name << ": " << size << " bytes at alignment " << alignment << " from 0x"
              << std::hex << start;
          if (alignment + size < span)
            expected = Bitwise_Crc_Update(expected, bytes[size]);
        }
      }
  }

  for (int adaptation : {-1, 0, 1, 40}) {
    for (bool pack : {false, true}) {
      SCOPED_TRACE("adaptation " + std::to_string(adaptation) + (pack ? " packed" : ""));
      Ts_Packet_Options options;
      options.Adaptation_Length = adaptation;
      options.Pack_Sections = pack;
      Ts_Writer writer;
      Write_Sections(writer, Eit_Pid, sections, options);
      const Read_Back back = Read_Memory(writer.Bytes);
      for (const Byte_Vector &payload : back.Payloads)
        EXPECT_EQ(static_cast<int>(payload.size()), Ts_Payload_Room(options));
      ASSERT_EQ(Reassemble(back), sections);
      for (const Byte_Vector &section : Reassemble(back))
        EXPECT_EQ(Mpeg_Crc32(section.data(), section.size()), 0u);
    }
  }
}

TEST(Ts_Round_Trip, EachSectionStartsAPacketWithPointerZeroUnlessPacked) {
  const std::vector<Byte_Vector> sections = Test_Sections();
  Ts_Writer plain;
  Write_Sections(plain, Eit_Pid, sections);
  const Read_Back back = Read_Memory(plain.Bytes);
  int starts = 0;
  for (std::size_t i = 0; i < back.Payloads.size(); ++i) {
    if (!back.Unit_Starts[i])
      continue;
    ++starts;
    EXPECT_EQ(back.Payloads[i][0], 0x00);           // pointer field
    EXPECT_EQ(back.Payloads[i][1], sections[0][0]); // table id right behind it
  }
  EXPECT_EQ(starts, 4);
  // The 184-byte section (3 + 181) fills its first packet's 183 bytes and
  // leaves one byte for the next packet, which is stuffed behind it.
  Ts_Writer packed;
  Ts_Packet_Options pack;
  pack.Pack_Sections = true;
  Write_Sections(packed, Eit_Pid, sections, pack);
  EXPECT_LT(packed.Bytes.size(), plain.Bytes.size());
  const Read_Back packed_back = Read_Memory(packed.Bytes);
  bool nonzero_pointer = false;
  for (std::size_t i = 0; i < packed_back.Payloads.size(); ++i)
    nonzero_pointer |= packed_back.Unit_Starts[i] && packed_back.Payloads[i][0] != 0;
  EXPECT_TRUE(nonzero_pointer);
}

TEST(Ts_Reader, RefindsSyncAfterGarbageAndSkipsDamagedAndForeignPackets) {
  const std::vector<Byte_Vector> sections = Test_Sections();
  Ts_Writer clean;
  Write_Sections(clean, Eit_Pid, sections);

  Ts_Writer noisy;
  Write_Garbage(noisy, 1001); // junk before the first packet
  Ts_Packet_Options damaged;
  damaged.Transport_Error = true;
  Write_Section(noisy, Eit_Pid, sections[2], damaged);
  for (std::size_t i = 0; i < sections.size(); ++i) {
    Write_Noise_Packet(noisy, 0x0100);
    Write_Section(noisy, Eit_Pid, sections[i]);
    if (i == 1)
      Write_Garbage(noisy, 77); // lost sync in the middle
    Write_Noise_Packet(noisy, 0x0101);
  }
  noisy.Bytes.resize(noisy.Bytes.size() + 100, Ts_Sync_Byte); // a cut-off last packet

  const Read_Back expected = Read_Memory(clean.Bytes);
  for (std::size_t limit : {std::size_t{Ts_Reader_Buffer_Size}, std::size_t{7}, std::size_t{1}})
    for (int room : {0, 1, 3, 1000}) {
      SCOPED_TRACE("read limit " + std::to_string(limit) + ", batches of " + std::to_string(room));
      const Read_Back back = Read_Memory(noisy.Bytes, limit, room);
      EXPECT_EQ(back.Last, Ts_Read_Result::End);
      EXPECT_EQ(back.Payloads, expected.Payloads);
      EXPECT_EQ(back.Reader.Sync_Losses, 1u);
      EXPECT_EQ(back.Reader.Skipped_Bytes, 1001u + 77u);
      EXPECT_EQ(back.Reader.Error_Packets, 3u);
      EXPECT_EQ(back.Reader.Packets, (noisy.Bytes.size() - 1001 - 77 - 100) / Ts_Packet_Size);
      EXPECT_EQ(back.Reader.Tail_Bytes, 100u);
      // Each payload's packet where the reader says it starts, garbage counted.
      ASSERT_EQ(back.Packet_Offsets.size(), back.Payloads.size());
      for (std::size_t i = 0; i < back.Payloads.size(); ++i) {
        SCOPED_TRACE("payload " + std::to_string(i));
        const uint8_t *packet = noisy.Bytes.data() + back.Packet_Offsets[i];
        ASSERT_LE(back.Packet_Offsets[i] + Ts_Packet_Size, noisy.Bytes.size());
        EXPECT_EQ(packet[0], Ts_Sync_Byte);
        EXPECT_EQ(Ts_Packet_Pid(packet), Eit_Pid);
        EXPECT_EQ(back.Continuities[i], Ts_Packet_Continuity(packet));
        EXPECT_EQ(
            Byte_Vector(packet + Ts_Packet_Size - back.Payloads[i].size(), packet + Ts_Packet_Size),
            back.Payloads[i]);
      }
    }
}

// The sync rule does not depend on how much data is left: a capture of any
// number of whole packets followed by the start of one more is read up to its last
// whole packet, whatever pieces the source hands over; followed instead by
// fewer bytes than a packet that start none, those are a sync loss, skipped.
TEST(Ts_Reader, CapturesCutInsideAPacketSyncAtEverySize) {
  Ts_Writer writer;
  for (int round = 0; round < 2; ++round)
    Write_Sections(writer, Eit_Pid, Test_Sections());
  ASSERT_GE(writer.Bytes.size(), 8u * Ts_Packet_Size);
  for (std::size_t whole = 1; whole <= 7; ++whole) {
    const Byte_Vector packets(writer.Bytes.begin(),
                              writer.Bytes.begin() + static_cast<long>(whole * Ts_Packet_Size));
    const Read_Back expected = Read_Memory(packets);
    for (std::size_t tail : {0, 1, 100, 187}) {
      for (bool junk : {false, true}) {
        if (junk && whole < Ts_Sync_Confirm_Packets)
          continue; // junk where a confirming packet's sync byte would stand: no sync at all
        Byte_Vector cut = packets;
        if (junk)
          cut.insert(cut.end(), tail, 0x00);
        else
          cut.insert(cut.end(), writer.Bytes.begin() + static_cast<long>(whole * Ts_Packet_Size),
                     writer.Bytes.begin() + static_cast<long>(whole * Ts_Packet_Size + tail));
        for (std::size_t limit : {std::size_t{Ts_Reader_Buffer_Size}, std::size_t{7}}) {
          SCOPED_TRACE(std::to_string(whole) + " packets, " + std::to_string(tail) + " bytes " +
                       (junk ? "of junk" : "of a packet") + " more, read limit " +
                       std::to_string(limit));
          const Read_Back back = Read_Memory(cut, limit);
          EXPECT_EQ(back.Last, Ts_Read_Result::End);
          EXPECT_EQ(back.Reader.Packets, whole);
          EXPECT_EQ(back.Reader.Tail_Bytes, junk ? 0u : tail);
          EXPECT_EQ(back.Reader.Skipped_Bytes, junk ? tail : 0u);
          EXPECT_EQ(back.Reader.Trailing_Junk, junk ? tail : 0u);
          EXPECT_EQ(back.Reader.Sync_Losses, junk && tail > 0 ? 1u : 0u);
          EXPECT_EQ(back.Payloads, expected.Payloads);
        }
      }
    }
  }
}

TEST(Ts_Reader, PacketsWithoutPayloadOrWithBadAdaptationLengthAreSkipped) {
  Ts_Writer writer;
  Write_Ts_Packet(writer, Eit_Pid, true, Byte_Vector{0x00, 0x4E});
  Write_Ts_Packet(writer, Eit_Pid, false, {0x01}, Ts_Packet_Options{182, false, false});
  // Raw headers: adaptation field only; both but the field fills the packet;
  // both with a field length past the end of the packet.
  constexpr uint8_t Fills = Ts_Payload_Size - 1;
  const uint8_t raw[][2] = {{Ts_Adaptation_Only, Fills},
                            {Ts_Adaptation_And_Payload, Fills},
                            {Ts_Adaptation_And_Payload, 200}};
  for (const auto &header : raw) {
    const std::size_t at = writer.Bytes.size();
    writer.Bytes.resize(at + Ts_Packet_Size, Stuffing_Byte);
    writer.Bytes[at] = Ts_Sync_Byte;
    writer.Bytes[at + 1] = 0x00; // and the PID's high bits, 0 for Eit_Pid
    writer.Bytes[at + 2] = Eit_Pid;
    writer.Bytes[at + 3] = static_cast<uint8_t>(header[0] << Ts_Adaptation_Shift);
    writer.Bytes[at + Ts_Adaptation_Length_Offset] = header[1];
  }
  const Read_Back back = Read_Memory(writer.Bytes);
  ASSERT_EQ(back.Payloads.size(), 2u);
  EXPECT_EQ(back.Payloads[0].size(), 184u);
  EXPECT_EQ(back.Payloads[1], Byte_Vector{0x01});
  EXPECT_EQ(back.Reader.Packets, 5u);
}

// A file (many buffers' worth, with packets across refills), a file read
// from where its descriptor stands, a file that grows while it is read and a
// pipe all give what memory gives.
TEST(Ts_Reader, FilesDescriptorsAndPipesReadLikeMemoryAndNonStreamsAreRecognised) {
  Ts_Writer writer;
  while (writer.Bytes.size() < 20u * Ts_Reader_Buffer_Size) {
    Write_Sections(writer, Eit_Pid, Test_Sections());
    for (int i = 0; i < 30; ++i)
      Write_Noise_Packet(writer, 0x0100);
  }
  const Read_Back expected = Read_Memory(writer.Bytes);
  const std::string path = Temp_File("round_trip.ts", writer.Bytes);
  Ts_Reader reader;
  ASSERT_TRUE(Open_Ts_File(reader, path.c_str()));
  const Read_Back from_file = Read_All(reader);
  EXPECT_EQ(from_file.Payloads, expected.Payloads);
  EXPECT_EQ(from_file.Packet_Offsets, expected.Packet_Offsets);
  EXPECT_EQ(from_file.Reader.Packets, writer.Bytes.size() / Ts_Packet_Size);

  // Standing at packet 1000: the rest, offsets counted from there.
  const int descriptor = open(path.c_str(), O_RDONLY);
  ASSERT_GE(descriptor, 0);
  const std::size_t skip = 1000 * Ts_Packet_Size;
  ASSERT_EQ(lseek(descriptor, static_cast<off_t>(skip), SEEK_SET), static_cast<off_t>(skip));
  Open_Ts_Descriptor(reader, descriptor);
  const Read_Back rest = Read_All(reader);
  close(descriptor);
  EXPECT_EQ(rest.Payloads,
            Read_Memory(Byte_Vector(writer.Bytes.begin() + skip, writer.Bytes.end())).Payloads);
  EXPECT_EQ(rest.Reader.Offset, writer.Bytes.size() - skip);

  // Growing: the second half is written while the reader is in the first.
  const std::size_t half = writer.Bytes.size() / Ts_Packet_Size / 2 * Ts_Packet_Size;
  const std::string growing =
      Temp_File("growing.ts", Byte_Vector(writer.Bytes.begin(), writer.Bytes.begin() + half));
  ASSERT_TRUE(Open_Ts_File(reader, growing.c_str()));
  Read_Back grown;
  const uint8_t *payload = nullptr;
  int32_t size = 0;
  while (reader.Offset < half / 2 &&
         Next_Ts_Payload(reader, Eit_Pid, &payload, &size) == Ts_Read_Result::Payload)
    grown.Payloads.emplace_back(payload, payload + size);
  std::FILE *append = std::fopen(growing.c_str(), "ab");
  std::fwrite(writer.Bytes.data() + half, 1, writer.Bytes.size() - half, append);
  std::fclose(append);
  Read_On(reader, grown);
  Close_Ts_Reader(reader);
  EXPECT_EQ(grown.Payloads, expected.Payloads);

  // A pipe, written by another thread in pieces of assorted sizes.
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  std::thread feeder([&] {
    for (std::size_t at = 0, piece = 1; at < writer.Bytes.size();
         at += piece, piece = piece * 7 % 5003)
      if (write(ends[1], writer.Bytes.data() + at, std::min(piece, writer.Bytes.size() - at)) < 0)
        break;
    close(ends[1]);
  });
  Open_Ts_Descriptor(reader, ends[0]);
  const Read_Back from_pipe = Read_All(reader);
  feeder.join();
  close(ends[0]);
  EXPECT_EQ(from_pipe.Payloads, expected.Payloads);
  EXPECT_EQ(from_pipe.Packet_Offsets, expected.Packet_Offsets);

  Byte_Vector prose;
  for (int i = 0; i < 300; ++i)
    for (char c : std::string("Gestern lief der Kreisligabericht. "))
      prose.push_back(static_cast<uint8_t>(c));
  EXPECT_EQ(Read_Memory(prose).Last, Ts_Read_Result::Not_Transport_Stream);
  EXPECT_EQ(Read_Memory({}).Last, Ts_Read_Result::Not_Transport_Stream);
  Byte_Vector short_packet(100, Ts_Sync_Byte);
  EXPECT_EQ(Read_Memory(short_packet).Last, Ts_Read_Result::Not_Transport_Stream);

  EXPECT_FALSE(Open_Ts_File(reader, (testing::TempDir() + "no-such-file.ts").c_str()));
  ASSERT_TRUE(Open_Ts_File(reader, testing::TempDir().c_str())); // a folder opens, reads fail
  EXPECT_EQ(Read_All(reader).Last, Ts_Read_Result::Read_Error);
}

} // namespace
