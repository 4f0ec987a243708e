// The CRC-32 that closes every MPEG-2 / DVB section (ISO/IEC 13818-1,
// annex A): polynomial 0x04C11DB7, initial value 0xFFFFFFFF, no reflection,
// no final xor. Run over a whole section including its own CRC it gives 0.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint32_t Mpeg_Crc32_Initial = 0xFFFFFFFFu;
constexpr uint32_t Mpeg_Crc32_Polynomial = 0x04C11DB7u;

// The register after one more bit of zero: the polynomial it holds times
// x, modulo the CRC's polynomial.
constexpr uint32_t Mpeg_Crc32_Times_X(uint32_t crc) {
  return (crc & 0x80000000u) != 0 ? (crc << 1) ^ Mpeg_Crc32_Polynomial : crc << 1;
}

// The CRC register after `size` more bytes, from the register `crc`: a CRC
// can be carried over bytes in pieces, leaving out a byte between them.
uint32_t Mpeg_Crc32_Update(uint32_t crc, const uint8_t *bytes, std::size_t size);

inline uint32_t Mpeg_Crc32(const uint8_t *bytes, std::size_t size) {
  return Mpeg_Crc32_Update(Mpeg_Crc32_Initial, bytes, size);
}

// Whether the section at `bytes` (table_id to the last CRC byte, `size`
// bytes) carries a CRC that holds.
inline bool Section_Crc_Holds(const uint8_t *bytes, std::size_t size) {
  return Mpeg_Crc32(bytes, size) == 0;
}
