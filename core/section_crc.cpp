// MPEG-2 CRC-32, a byte at a time through a table built at compile time.
#include "core/section_crc.h"

#include <array>

namespace {

constexpr uint32_t Crc_Polynomial = 0x04C11DB7u;

constexpr std::array<uint32_t, 256> Make_Crc_Table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t byte = 0; byte < 256; ++byte) {
    uint32_t crc = byte << 24;
    for (int bit = 0; bit < 8; ++bit)
      crc = (crc & 0x80000000u) != 0 ? (crc << 1) ^ Crc_Polynomial : crc << 1;
    table[byte] = crc;
  }
  return table;
}

constexpr std::array<uint32_t, 256> Crc_Table = Make_Crc_Table();

} // namespace

uint32_t Mpeg_Crc32_Update(uint32_t crc, const uint8_t *bytes, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i)
    crc = (crc << 8) ^ Crc_Table[((crc >> 24) ^ bytes[i]) & 0xFF];
  return crc;
}
