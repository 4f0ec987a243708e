// MPEG-2 CRC-32, four bits a step through a 16-entry table built at compile
// time: the module carries 64 bytes of table rather than a byte table's
// 1 KB (it has 16 KB in all). The plug-in runs it over the few candidate
// sections it finds; the tools' bulk checks use section_crc_fast.
#include "core/section_crc.h"

#include <array>

namespace {

constexpr int Nibble_Bits = 4;
constexpr uint32_t Nibble_Mask = (1u << Nibble_Bits) - 1;

constexpr std::array<uint32_t, 1 << Nibble_Bits> Make_Crc_Table() {
  std::array<uint32_t, 1 << Nibble_Bits> table{};
  for (uint32_t nibble = 0; nibble <= Nibble_Mask; ++nibble) {
    uint32_t crc = nibble << (32 - Nibble_Bits);
    for (int bit = 0; bit < Nibble_Bits; ++bit)
      crc = Mpeg_Crc32_Times_X(crc);
    table[nibble] = crc;
  }
  return table;
}

constexpr std::array<uint32_t, 1 << Nibble_Bits> Crc_Table = Make_Crc_Table();

inline uint32_t Step(uint32_t crc, uint32_t nibble) {
  return (crc << Nibble_Bits) ^ Crc_Table[((crc >> (32 - Nibble_Bits)) ^ nibble) & Nibble_Mask];
}

} // namespace

uint32_t Mpeg_Crc32_Update(uint32_t crc, const uint8_t *bytes, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i)
    crc = Step(Step(crc, static_cast<uint32_t>(bytes[i]) >> Nibble_Bits), bytes[i]);
  return crc;
}
