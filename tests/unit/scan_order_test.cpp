// The scan finds its candidate by jumping between 0x85 bytes and looks for a
// stray pointer field by carrying one CRC along; this checks it, up to the
// second failing copy (judged together with the first, which the damage
// tests check), against the plain byte-by-byte walk, which tries every byte the plain way, over
// many buffers dense with zero bytes, 0x85 bytes, whole, broken and cut-off section headers (behind
// a zero byte or not), and whole sections with a sound or a damaged CRC, some with a stray pointer
// field in them, some twice in a row.
#include "tests/unit/test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>

namespace {

// Judged_Together: the walk met a second failing copy, which the decoder
// judges together with the first (the damage tests check how); it decodes
// from there, a failing copy or a sound one behind it.
enum class Outcome { Decode, Keep_Tail, Judged_Together };
struct Walk_Result {
  Outcome What;
  int32_t At; // Decode: the table_id; Keep_Tail: the first byte kept
  Judgement Way;
};

// Whether the section of length `length` whose table_id is at t, which has
// one byte too many, is sound without byte i.
bool Sound_Without(const Byte_Vector &b, int32_t t, int32_t length, int32_t i) {
  Byte_Vector section(b.begin() + t, b.begin() + t + length + 4);
  section.erase(section.begin() + (i - t));
  return Mpeg_Crc32(section.data(), section.size()) == 0;
}

// The section length of the source header whose table_id is at t, read
// with byte t + k left out (k 0: none), or 0. Left out, that byte must count
// the section's bytes behind it, as a pointer field does.
int32_t Header_Length(const Byte_Vector &b, int32_t t, int32_t k, const Portal_Constants &c) {
  const int32_t fill = static_cast<int32_t>(b.size());
  if (t + 13 + (k > 0) > fill)
    return 0;
  Byte_Vector h(b.begin() + t, b.begin() + t + 13 + (k > 0));
  if (k > 0)
    h.erase(h.begin() + k);
  if (h[Eit_Section_Number_Offset] != 0 || h[Eit_Last_Section_Number_Offset] != 1 ||
      Big_Endian_16(&h[Eit_Original_Network_Id_Offset]) != Portal_Original_Network_Id ||
      h[Eit_Segment_Last_Section_Number_Offset] != 1 ||
      Big_Endian_16(&h[Eit_Service_Id_Offset]) != c.Source_Service_Id ||
      Big_Endian_16(&h[Eit_Transport_Stream_Id_Offset]) != c.Source_Transport_Stream_Id)
    return 0;
  const int32_t word = Big_Endian_16(&h[Section_Length_Offset]);
  const int32_t length = word & Section_Length_Mask;
  if ((word & Section_Flag_Bits) != Section_Flag_Bits || length <= 15)
    return 0;
  const int32_t behind = Section_Head_Bytes + length - k; // bytes a pointer field at k counts
  return k == 0 || (b[t + k] == behind && behind < Ts_Payload_Size) ? length : 0;
}

// The walk, one byte at a time, as the decoder's comment describes it: t is
// where a table_id may stand, whole or with a stray pointer field in front
// of its byte k. A copy that fails is kept; a later one that fails too is
// judged together with it, unless it is the same bytes standing right
// behind it (one copy standing twice: it adds nothing).
Walk_Result Plain_Walk(const Byte_Vector &b, const Portal_Constants &c) {
  const int32_t fill = static_cast<int32_t>(b.size());
  struct Failure {
    int32_t At, Length;
  };
  std::vector<Failure> failures;
  const auto failed = [&](int32_t t, int32_t length) {
    for (const Failure &f : failures)
      if (f.Length == length && t - (f.At + length + 3) < Ts_Payload_Size &&
          std::equal(b.begin() + t, b.begin() + t + length + 3, b.begin() + f.At))
        return false; // the same bytes again, right behind
    failures.push_back({t, length});
    return failures.size() > 1;
  };
  for (int32_t t = 0; t + 13 <= fill; ++t) {
    for (const int32_t k : {0, 12, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}) {
      const int32_t length = Header_Length(b, t, k, c);
      if (length == 0)
        continue;
      if (fill - t <= length + 4)
        return {Outcome::Keep_Tail, std::max(t - 1, 0), Judgement::None};
      if (k > 0) {
        if (Sound_Without(b, t, length, t + k))
          return {Outcome::Decode, t, Judgement::Stray_Pointer_Taken_Out};
        if (failed(t, length))
          return {Outcome::Judged_Together, t, Judgement::None};
        continue;
      }
      const uint32_t crc = Mpeg_Crc32(b.data() + t, static_cast<std::size_t>(length + 3));
      if (crc == 0)
        return {Outcome::Decode, t, Judgement::Sound};
      // A byte from t + 13 on, within the last 184 of the L + 4 bytes from t,
      // that counts the section's bytes behind it and without which it sounds.
      for (int32_t i = std::max(t + 13, t + length + 4 - Ts_Payload_Size); i <= t + length + 2; ++i)
        if (b[i] == t + length + 3 - i && Sound_Without(b, t, length, i))
          return {Outcome::Decode, t, Judgement::Stray_Pointer_Taken_Out};
      if (failed(t, length))
        return {Outcome::Judged_Together, t, Judgement::None};
    }
  }
  return {Outcome::Keep_Tail, std::max(fill - 13, 0), Judgement::None};
}

// A header for `portal` with one field possibly broken and a random length.
Byte_Vector Random_Header(std::mt19937 &random, int portal, bool always_broken = false) {
  const int length = std::uniform_int_distribution<int>(10, 1500)(random);
  Byte_Vector h = Portal_Header_Bytes(portal, length);
  // Bytes 4, 5 and 7 to 13 must match exactly: changing one always breaks
  // the header. Otherwise any byte may change (byte 0, the zero in front,
  // too), or none (index past the end).
  static const int must_match[] = {4, 5, 7, 8, 9, 10, 11, 12, 13};
  const int broken =
      always_broken ? must_match[random() % 9] : std::uniform_int_distribution<int>(0, 20)(random);
  if (broken < static_cast<int>(h.size()))
    h[broken] ^= static_cast<uint8_t>(1 + random() % 255);
  return h;
}

// Completes the section whose header stands at `at` (its zero byte) with
// random bytes and a CRC, which holds two times in three. One time in three
// a stray pointer field goes into its last 184 bytes (into the header too,
// if the section is that short), and one time in four
// the whole section follows once more.
void Complete_Section(std::mt19937 &random, Byte_Vector &buffer, std::size_t at) {
  const std::size_t table_id = at + Pointer_Field_Size;
  const std::size_t length = static_cast<std::size_t>(
      Big_Endian_16(&buffer[table_id + Section_Length_Offset]) & Section_Length_Mask);
  const std::size_t end = table_id + Section_Head_Bytes + length; // behind its last byte
  const std::size_t crc_at = end - Section_Crc_Size;
  if (length < 16)
    return;
  while (buffer.size() < crc_at)
    buffer.push_back(static_cast<uint8_t>(random()));
  const uint32_t crc = Mpeg_Crc32(buffer.data() + table_id, crc_at - table_id) ^
                       (random() % 3 == 0 ? 1u << (random() % 32) : 0u);
  for (int shift = 24; shift >= 0; shift -= 8)
    buffer.push_back(static_cast<uint8_t>(crc >> shift));
  if (random() % 3 == 0) {
    const std::size_t first =
        std::max(at + 2, end + 1 > Ts_Payload_Size ? end + 1 - Ts_Payload_Size : 0);
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
  int decodes = 0, tails = 0, lasts = 0, mended = 0, together = 0, inside = 0;
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
    if (round % 7 == 0) { // a header cut off near the end
      const Byte_Vector h = Random_Header(random, portal);
      const auto at = buffer.end() - 10 - round % 5;
      std::copy_n(h.begin(), buffer.end() - at, at);
    }

    const Walk_Result expected = Plain_Walk(buffer, Portal_Constants_Table[portal]);
    Arm_Decoder(portal);
    Feed_Once(buffer);
    if (expected.What == Outcome::Judged_Together) {
      ++together;
      continue;
    }
    if (expected.What == Outcome::Decode) {
      ++decodes;
      mended += expected.Way == Judgement::Stray_Pointer_Taken_Out;
      inside += expected.At == 0 || buffer[static_cast<std::size_t>(expected.At - 1)] != 0;
      EXPECT_EQ(Plugin_Decoder.Scan_Idle, 1) << "round " << round;
      EXPECT_EQ(Plugin_Decoder.Fill, 0) << "round " << round;
      EXPECT_EQ(Last_Decoded().Way, expected.Way) << "round " << round;
    } else {
      ++(expected.At == std::max(size - 13, 0) ? lasts : tails);
      EXPECT_EQ(Plugin_Decoder.Scan_Idle, 0) << "round " << round;
      EXPECT_EQ(Buffered(), Byte_Vector(buffer.begin() + expected.At, buffer.end()))
          << "round " << round;
    }
    if (HasFailure())
      break;
  }
  // Every outcome must have come up often, or the buffers tested too little.
  EXPECT_GT(decodes, 200);
  EXPECT_GT(tails, 200);
  EXPECT_GT(lasts, 100);
  EXPECT_GT(mended, 100);
  EXPECT_GT(together, 100);
  EXPECT_GT(inside, 50);
  std::printf("%d decodes (%d mended, %d inside a packet), %d incomplete kept, %d last bytes "
              "kept, %d judged together\n",
              decodes, mended, inside, tails, lasts, together);
}

} // namespace
