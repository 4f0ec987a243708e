// The scan finds its candidate by jumping between 0x85 bytes and looks for a
// stray pointer field by carrying one CRC along; this checks it against the
// plain byte-by-byte walk, which tries every byte the plain way, over many
// buffers dense with zero bytes, 0x85 bytes, whole, broken and cut-off
// section headers, and whole sections with a sound or a damaged CRC, some
// with a stray pointer field in them, some twice in a row.
#include "tests/unit/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

namespace {

enum class Outcome { Decode, Keep_Tail, Empty };
struct Walk_Result {
  Outcome What;
  int32_t At;
  Decode_Way Way;
};

// Whether the section of length `length` at p, which has one byte too many,
// is sound without byte i.
bool Sound_Without(const Byte_Vector &b, int32_t p, int32_t length, int32_t i) {
  Byte_Vector section(b.begin() + p + 1, b.begin() + p + length + 5);
  section.erase(section.begin() + (i - p - 1));
  return Mpeg_Crc32(section.data(), section.size()) == 0;
}

// The walk, one byte at a time, as the decoder's comment describes it.
Walk_Result Plain_Walk(const Byte_Vector &b, const Portal_Constants &c) {
  const int32_t fill = static_cast<int32_t>(b.size());
  int32_t failed_length = 0; // the last failure: its length and CRC value
  uint32_t failed_crc = 0;
  for (int32_t p = 0; p < fill; ++p) {
    if (b[p] != 0)
      continue;
    const int32_t rest = fill - p;
    if (rest <= 13)
      return {Outcome::Keep_Tail, p, Decode_Way::None};
    if (b[p + 7] != 0 || b[p + 8] != 1 || b[p + 11] != 0 || b[p + 12] != 0x85 || b[p + 13] != 1 ||
        ((b[p + 4] << 8) | b[p + 5]) != c.Source_Service_Id ||
        ((b[p + 9] << 8) | b[p + 10]) != c.Source_Transport_Stream_Id)
      continue;
    const int32_t word = (b[p + 2] << 8) | b[p + 3], length = word & 0x0FFF;
    if ((word & 0xF000) != 0xF000 || length <= 15)
      continue;
    if (rest <= length + 5)
      return {Outcome::Keep_Tail, p, Decode_Way::None};
    const uint32_t crc = Mpeg_Crc32(b.data() + p + 1, static_cast<std::size_t>(length + 3));
    if (crc == 0)
      return {Outcome::Decode, p, Decode_Way::Sound};
    // A byte from p + 14 on, within the last 184 of the L + 5 bytes from p,
    // that counts the section's bytes behind it and without which it sounds.
    for (int32_t i = std::max(p + 14, p + length + 5 - 184); i <= p + length + 3; ++i)
      if (b[i] == p + length + 4 - i && Sound_Without(b, p, length, i))
        return {Outcome::Decode, p, Decode_Way::Stray_Pointer_Taken_Out};
    if (length == failed_length && crc == failed_crc)
      return {Outcome::Decode, p, Decode_Way::As_Carried};
    failed_length = length; // a damaged section is no candidate
    failed_crc = crc;
  }
  return {Outcome::Empty, 0, Decode_Way::None};
}

// A header for `portal` with one field possibly broken and a random length.
Byte_Vector Random_Header(std::mt19937 &random, int portal, bool always_broken = false) {
  const int length = std::uniform_int_distribution<int>(10, 1500)(random);
  Byte_Vector h = Portal_Header_Bytes(portal, length);
  // Bytes 0, 4, 5 and 7 to 13 must match exactly: changing one always breaks
  // the header. Otherwise any byte may change, or none (index past the end).
  static const int must_match[] = {0, 4, 5, 7, 8, 9, 10, 11, 12, 13};
  const int broken =
      always_broken ? must_match[random() % 10] : std::uniform_int_distribution<int>(0, 20)(random);
  if (broken < static_cast<int>(h.size()))
    h[broken] ^= static_cast<uint8_t>(1 + random() % 255);
  return h;
}

// Completes the section whose header stands at `at` (its zero byte) with
// random bytes and a CRC, which holds two times in three. One time in three
// a stray pointer field goes into its last 184 bytes, and one time in four
// the whole section follows once more.
void Complete_Section(std::mt19937 &random, Byte_Vector &buffer, std::size_t at) {
  const std::size_t length = ((buffer[at + 2] & 0x0F) << 8) | buffer[at + 3];
  const std::size_t end = at + 1 + 3 + length; // behind the section's last byte
  if (length < 16)
    return;
  while (buffer.size() < end - 4)
    buffer.push_back(static_cast<uint8_t>(random()));
  const uint32_t crc = Mpeg_Crc32(buffer.data() + at + 1, end - 4 - (at + 1)) ^
                       (random() % 3 == 0 ? 1u << (random() % 32) : 0u);
  for (int shift = 24; shift >= 0; shift -= 8)
    buffer.push_back(static_cast<uint8_t>(crc >> shift));
  if (random() % 3 == 0) {
    const std::size_t first = std::max(at + 14, end + 1 > 184 ? end + 1 - 184 : 0);
    const std::size_t stray = first + random() % (end - first);
    buffer.insert(buffer.begin() + static_cast<long>(stray), static_cast<uint8_t>(end - stray));
  }
  if (random() % 4 == 0) {
    const Byte_Vector again(buffer.begin() + static_cast<long>(at), buffer.end());
    buffer.insert(buffer.end(), again.begin(), again.end());
  }
}

TEST(ScanOrder, FindsTheSameCandidateAsThePlainWalk) {
  std::mt19937 random(20261208);
  const uint8_t common[] = {0x00, 0x00, 0x85, 0x01, 0xFF, 0xF0};
  int decodes = 0, tails = 0, empties = 0, mended = 0, as_carried = 0;
  for (int round = 0; round < 4000; ++round) {
    const int portal = round % Portal_Total;
    const int size = std::uniform_int_distribution<int>(920, 2500)(random);
    Byte_Vector buffer;
    while (static_cast<int>(buffer.size()) < size) {
      const int pick = static_cast<int>(random() % 100);
      if (pick < 3) {
        const Byte_Vector h = Random_Header(random, portal, round % 3 == 0);
        buffer.insert(buffer.end(), h.begin(), h.end());
        if (pick == 0) // now and then the whole section, its CRC sound or one bit off
          Complete_Section(random, buffer, buffer.size() - h.size());
      } else if (pick < 50) {
        buffer.push_back(common[random() % sizeof common]);
      } else {
        buffer.push_back(static_cast<uint8_t>(random()));
      }
    }
    buffer.resize(static_cast<std::size_t>(size));
    if (round % 7 == 0) // a header cut off near the end
    {
      const Byte_Vector h = Random_Header(random, portal);
      const auto at = buffer.end() - 10 - round % 5;
      std::copy_n(h.begin(), buffer.end() - at, at);
    } else if (round % 3 == 0) // no zero byte near the end
      std::replace(buffer.end() - 13, buffer.end(), uint8_t{0}, uint8_t{0x11});

    const Walk_Result expected = Plain_Walk(buffer, Portal_Constants_Table[portal]);
    Arm_Decoder(portal);
    Feed_Once(buffer);
    switch (expected.What) {
    case Outcome::Decode:
      ++decodes;
      mended += expected.Way == Decode_Way::Stray_Pointer_Taken_Out;
      as_carried += expected.Way == Decode_Way::As_Carried;
      EXPECT_EQ(Plugin_Decoder.Scan_Idle, 1) << "round " << round;
      EXPECT_EQ(Plugin_Decoder.Fill, 0) << "round " << round;
      EXPECT_EQ(Plugin_Decoder.Last_Decode, expected.Way) << "round " << round;
      break;
    case Outcome::Keep_Tail:
      ++tails;
      EXPECT_EQ(Plugin_Decoder.Scan_Idle, 0) << "round " << round;
      EXPECT_EQ(Buffered(), Byte_Vector(buffer.begin() + expected.At, buffer.end()))
          << "round " << round;
      break;
    case Outcome::Empty:
      ++empties;
      EXPECT_EQ(Plugin_Decoder.Scan_Idle, 0) << "round " << round;
      EXPECT_EQ(Plugin_Decoder.Fill, 0) << "round " << round;
      break;
    }
    if (HasFailure())
      break;
  }
  // Every outcome must have come up often, or the buffers tested too little.
  EXPECT_GT(decodes, 200);
  EXPECT_GT(tails, 200);
  EXPECT_GT(empties, 100);
  EXPECT_GT(mended, 100);
  EXPECT_GT(as_carried, 25);
  std::printf("%d decodes (%d mended, %d as carried), %d tails, %d empties\n", decodes, mended,
              as_carried, tails, empties);
}

} // namespace
