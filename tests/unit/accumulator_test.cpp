// How chunks are gathered: arming, the 920-byte threshold, overflow, the
// first chunk after a channel change, and the tails a scan keeps.
#include "tests/unit/test_support.h"

#include <gtest/gtest.h>

namespace {

// A payload whose section ends up on the fifth 184-byte chunk's boundary.
Byte_Vector Five_Chunk_Payload() {
  Byte_Vector payload = Portal_Payload(0, Numbered_Entries(6), 0);
  payload.resize(5 * Ts_Payload_Size, Stuffing_Byte);
  return payload;
}

TEST(Accumulator, NothingIsScannedBeforeNineHundredTwentyBytes) {
  Arm_Decoder(0);
  const Byte_Vector payload = Five_Chunk_Payload();
  for (int chunk = 0; chunk < 4; ++chunk) {
    On_Section_Data(0, Ts_Payload_Size, payload.data() + chunk * Ts_Payload_Size);
    EXPECT_EQ(Plugin_Decoder.Fill, (chunk + 1) * Ts_Payload_Size);
    EXPECT_EQ(Plugin_Decoder.Scan_Idle, 0);
  }
  On_Section_Data(0, Ts_Payload_Size, payload.data() + 4 * Ts_Payload_Size);
  EXPECT_EQ(Plugin_Decoder.Scan_Idle, 1) << "the fifth chunk reaches 920 bytes and decodes";
  EXPECT_EQ(Portal_Count[0], 6);
  EXPECT_EQ(Plugin_Decoder.Fill, 0);

  Arm_Decoder(0); // the same bytes, one short of the threshold and then one more
  On_Section_Data(0, 919, payload.data());
  EXPECT_EQ(Plugin_Decoder.Scan_Idle, 0);
  On_Section_Data(0, 1, payload.data() + 919);
  EXPECT_EQ(Plugin_Decoder.Scan_Idle, 1);
}

TEST(Accumulator, DisarmedOrStoppedDecoderKeepsNothingNew) {
  Arm_Decoder(0);
  const Byte_Vector noise(300, 0xAB);
  Feed_Once(noise);
  ASSERT_EQ(Plugin_Decoder.Fill, 300);

  Filter_Running = 0; // a stopped filter leaves the buffer as it is
  Feed_Once(noise);
  EXPECT_EQ(Plugin_Decoder.Fill, 300);
  Filter_Running = 1;
  Exiting = 1;
  Feed_Once(noise);
  EXPECT_EQ(Plugin_Decoder.Fill, 300);
  Exiting = 0;

  Disarm_Section_Decoder(Plugin_Decoder); // a disarmed decoder throws everything away
  Feed_Once(Portal_Payload(0, Numbered_Entries(3)));
  EXPECT_EQ(Plugin_Decoder.Fill, 0);
  EXPECT_EQ(Portal_Count[0], 0);
}

TEST(Accumulator, ChunksThatAreNotDataLeaveTheBufferIntact) {
  Arm_Decoder(0);
  const Byte_Vector noise(300, 0xAB);
  Feed_Once(noise);
  On_Section_Data(0, -1, noise.data());
  On_Section_Data(0, INT32_MIN, noise.data());
  On_Section_Data(0, 5, nullptr);
  EXPECT_EQ(Plugin_Decoder.Fill, 300);
  EXPECT_EQ(Plugin_Decoder.First_Chunk_Seen, 1);
  EXPECT_EQ(Buffered(), noise);
  On_Section_Data(0, 0, nullptr); // an empty chunk is harmless
  EXPECT_EQ(Plugin_Decoder.Fill, 300);

  // Whole PID 0x12 packets carrying nothing: flagged with the transport
  // error indicator, without payload, an adaptation field that fills it.
  Byte_Vector packet(Ts_Packet_Size, 0x5A);
  const auto header = [&packet](uint8_t flags, uint8_t control, uint8_t adaptation) {
    packet[0] = Ts_Sync_Byte;
    packet[1] = flags; // and the PID's high bits, 0 for Eit_Pid
    packet[2] = static_cast<uint8_t>(Eit_Pid);
    packet[3] = static_cast<uint8_t>(control << Ts_Adaptation_Shift);
    packet[Ts_Adaptation_Length_Offset] = adaptation;
    Feed_Once(packet);
  };
  header(Ts_Error_Bit | Ts_Unit_Start_Bit, Ts_Payload_Only, 0);
  header(0x00, Ts_Adaptation_Only, Ts_Payload_Size - 1);    // filling the packet
  header(0x00, Ts_Adaptation_And_Payload, Ts_Payload_Size); // overrunning it
  header(0x00, 0x0, 0);                                     // reserved control value
  EXPECT_EQ(Buffered(), noise);
  // A whole packet with an adaptation field gives its payload; one of
  // another PID is bytes like any others.
  constexpr int32_t Adaptation = 9;
  header(Ts_Unit_Start_Bit, Ts_Adaptation_And_Payload, Adaptation);
  const int32_t payload = Ts_Packet_Size - (Ts_Adaptation_Length_Offset + 1 + Adaptation);
  EXPECT_EQ(Plugin_Decoder.Fill, 300 + payload);
  EXPECT_EQ(Buffered().back(), 0x5A);
  packet[2] = 0x13;
  Feed_Once(packet);
  EXPECT_EQ(Plugin_Decoder.Fill, 300 + payload + Ts_Packet_Size);
}

TEST(Accumulator, FirstChunkAfterAChannelChangeStartsAfresh) {
  Arm_Decoder(0);
  Feed_Once(Byte_Vector(500, 0xAB));
  Restart_Section_Buffer(Plugin_Decoder); // as a channel change does
  On_Section_Data(0, 0, nullptr);
  EXPECT_EQ(Plugin_Decoder.Fill, 0) << "even an empty first chunk empties the buffer";
  EXPECT_EQ(Plugin_Decoder.First_Chunk_Seen, 1);

  Feed_Once(Byte_Vector(500, 0xAB));
  Restart_Section_Buffer(Plugin_Decoder);
  Feed_Once(Byte_Vector(200, 0xCD));
  EXPECT_EQ(Buffered(), Byte_Vector(200, 0xCD));

  // A chunk that comes while another call is at work is dropped, and the
  // next call, missing it, starts afresh too.
  Plugin_Decoder.Feeding = 1;
  Feed_Once(Byte_Vector(100, 0xEE));
  Plugin_Decoder.Feeding = 0;
  EXPECT_EQ(Buffered(), Byte_Vector(200, 0xCD)) << "dropped";
  Feed_Once(Byte_Vector(50, 0x11));
  EXPECT_EQ(Buffered(), Byte_Vector(50, 0x11));
  Feed_Once(Byte_Vector(50, 0x11));
  EXPECT_EQ(Plugin_Decoder.Fill, 100) << "once only";
}

// Portal 0's source section with three entries, its descriptor loop padded
// with filler bytes until the section length field reads `length`.
Byte_Vector Payload_Of_Length(int length) {
  Eit_Section section = Portal_Source_Section(0, Numbered_Entries(3));
  const std::size_t plain = Build_Eit_Section(section).size() - Section_Head_Bytes;
  auto &loop = section.Events[0].Descriptors;
  loop.resize(loop.size() + (static_cast<std::size_t>(length) - plain), 0x20);
  const Byte_Vector payload = Payload_Of(Build_Eit_Section(section));
  EXPECT_EQ(Big_Endian_16(&payload[Pointer_Field_Size + Section_Length_Offset]) &
                Section_Length_Mask,
            length);
  return payload;
}

// A header with section length 700 at offset 400 of a 1000-byte buffer: too
// short to decode yet, so the 600 bytes from its zero byte are kept, and it
// is judged as soon as all its bytes are there (more than L + 5 from that
// byte), not when 920 have gathered again.
TEST(Accumulator, IncompleteSectionWaitsAtTheFrontUntilItsBytesArrive) {
  Arm_Decoder(0);
  const Byte_Vector payload = Payload_Of_Length(700);
  Byte_Vector buffer(400, Stuffing_Byte);
  buffer.insert(buffer.end(), payload.begin(), payload.begin() + 600);
  Feed_Once(buffer);
  EXPECT_EQ(Plugin_Decoder.Fill, 600);
  EXPECT_EQ(Buffered(), Byte_Vector(payload.begin(), payload.begin() + 600));
  EXPECT_EQ(Plugin_Decoder.Scan_Idle, 0);

  Byte_Vector rest(payload.begin() + 600, payload.end());
  rest.resize(Ts_Payload_Size, Stuffing_Byte);
  On_Section_Data(0, 105, rest.data());
  EXPECT_EQ(Plugin_Decoder.Fill, 705) << "one byte short";
  On_Section_Data(0, 1, rest.data() + 105);
  EXPECT_EQ(Plugin_Decoder.Scan_Idle, 1) << "706 bytes complete it, below 920";
  EXPECT_EQ(Portal_Count[0], 3);
  EXPECT_EQ(Name_Of(Portal_Table[0][2]), "Kanal 2");
}

// A section counts as complete once more than L + 5 bytes stand from its head.
TEST(Accumulator, SectionCompleteOnlyBeyondLengthPlusFive) {
  Byte_Vector payload = Payload_Of_Length(1000);
  payload.resize(1006, Stuffing_Byte);
  Arm_Decoder(0);
  On_Section_Data(0, 1005, payload.data());
  EXPECT_EQ(Plugin_Decoder.Scan_Idle, 0);
  EXPECT_EQ(Plugin_Decoder.Fill, 1005);
  Restart_Section_Buffer(Plugin_Decoder);
  On_Section_Data(0, 1006, payload.data());
  EXPECT_EQ(Plugin_Decoder.Scan_Idle, 1);
}

TEST(Accumulator, ScanKeepsATailTooShortToJudge) {
  Arm_Decoder(0);
  Byte_Vector buffer(1000, Stuffing_Byte);
  buffer[1000 - 13] = 0x00; // the only zero byte, 13 bytes before the end
  Feed_Once(buffer);
  EXPECT_EQ(Plugin_Decoder.Fill, 13);
  EXPECT_EQ(Buffered()[0], 0x00);

  Arm_Decoder(0);
  Feed_Once(Byte_Vector(1200, 0x47)); // no zero byte at all: a section may start anywhere
  EXPECT_EQ(Plugin_Decoder.Fill, 13);
  EXPECT_EQ(Plugin_Decoder.Scan_Idle, 0) << "nothing decoded, still armed";
}

TEST(Accumulator, BufferTakesExactlyThirtyTwoThousandBytes) {
  // Keep a 600-byte tail, then bring Fill to exactly 32000: the chunk is
  // appended and the waiting section decodes.
  const Byte_Vector payload = Portal_Payload(1, Numbered_Entries(4), 0);
  for (const int extra : {0, 1}) {
    Arm_Decoder(1);
    Byte_Vector head(payload.begin(), payload.begin() + 20); // incomplete
    head.insert(head.begin(), 900, Stuffing_Byte);
    Feed_Once(head);
    ASSERT_EQ(Plugin_Decoder.Fill, 20);
    Byte_Vector chunk(payload.begin() + 20, payload.end());
    chunk.resize(static_cast<std::size_t>(Section_Buffer_Size - 20 + extra), Stuffing_Byte);
    Feed_Once(chunk);
    if (extra == 0) {
      EXPECT_EQ(Plugin_Decoder.Scan_Idle, 1);
      EXPECT_EQ(Portal_Count[1], 4);
    } else {
      EXPECT_EQ(Plugin_Decoder.Fill, 0) << "one byte too many empties the buffer";
      EXPECT_EQ(Plugin_Decoder.First_Chunk_Seen, 0);
      EXPECT_EQ(Plugin_Decoder.Scan_Idle, 0);
      EXPECT_EQ(Portal_Count[1], 0) << "and the chunk is dropped";
    }
  }
}

} // namespace
