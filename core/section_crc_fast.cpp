// The native builds' MPEG-2 CRC-32: folding by carry-less multiplication,
// or eight bytes a step through eight tables, whichever the processor runs.
//
// Folding: a message is a polynomial over GF(2), its first byte's top bit
// the highest power, and the CRC register after it is (register * x^(8n) +
// message * x^32) mod P. So the register goes into the message's first four
// bytes, and the message may be replaced by anything congruent to it modulo
// P. Loaded byte-reversed, 16 bytes are a polynomial of degree below 128 in
// an SSE register (bit i the coefficient of x^i); such a block A = H x^64 +
// L moves D bits on as H (x^(D+64) mod P) + L (x^D mod P), two carry-less
// products of degree below 96. Four blocks are carried side by side, folded
// on by 512 bits a step, then folded into one, which takes in the last whole
// blocks and the tail; the register is that block times x^32 mod P, reduced
// by two more folds and Barrett's reduction. Fewer than 64 bytes go through
// the tables.
#include "core/section_crc_fast.h"
#include "core/section_crc.h"

#include <array>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define PICTO_CRC_FOLDING 1
#endif

namespace {

constexpr int Slices = 8;
constexpr int Byte_Values = 256;

using Crc_Table = std::array<std::array<uint32_t, Byte_Values>, Slices>;

// Table[0][b]: the register after byte b from 0; Table[k][b]: the same
// followed by k zero bytes.
constexpr Crc_Table Make_Slices() {
  Crc_Table table{};
  for (uint32_t byte = 0; byte < Byte_Values; ++byte) {
    uint32_t crc = byte << 24;
    for (int bit = 0; bit < 8; ++bit)
      crc = Mpeg_Crc32_Times_X(crc);
    table[0][byte] = crc;
  }
  for (int slice = 1; slice < Slices; ++slice)
    for (int byte = 0; byte < Byte_Values; ++byte) {
      const uint32_t previous = table[slice - 1][byte];
      table[slice][byte] = (previous << 8) ^ table[0][previous >> 24];
    }
  return table;
}

constexpr Crc_Table Table = Make_Slices();

uint32_t Sliced_Update(uint32_t crc, const uint8_t *bytes, std::size_t size) {
  const auto &t = Table;
  std::size_t at = 0;
  for (; at + Slices <= size; at += Slices) {
    const uint8_t *b = bytes + at;
    const uint32_t high =
        crc ^ (static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
               static_cast<uint32_t>(b[2]) << 8 | b[3]);
    crc = t[7][high >> 24] ^ t[6][(high >> 16) & 0xFF] ^ t[5][(high >> 8) & 0xFF] ^
          t[4][high & 0xFF] ^ t[3][b[4]] ^ t[2][b[5]] ^ t[1][b[6]] ^ t[0][b[7]];
  }
  for (; at < size; ++at)
    crc = (crc << 8) ^ t[0][(crc >> 24) ^ bytes[at]];
  return crc;
}

#if defined(PICTO_CRC_FOLDING)

constexpr std::size_t Block = 16;          // bytes in an SSE register
constexpr std::size_t Lanes = 4;           // blocks carried side by side
constexpr std::size_t Fold_Least = 64;     // fewer bytes go through the tables
constexpr uint64_t Block_Bits = Block * 8; // 128

// x^n mod P.
constexpr uint64_t X_Power_Mod(uint64_t n) {
  uint32_t r = 1;
  for (uint64_t i = 0; i < n; ++i)
    r = Mpeg_Crc32_Times_X(r);
  return r;
}

// The multipliers that move a block on by some bits: x^(bits+64) mod P for
// its high half, x^bits mod P for its low half.
struct Fold_Multipliers {
  uint64_t High, Low;
};
constexpr Fold_Multipliers Multipliers_For(uint64_t bits) {
  return {X_Power_Mod(bits + 64), X_Power_Mod(bits)};
}
// Moving on by 1, 2, 3 and 4 blocks.
constexpr std::array<Fold_Multipliers, Lanes + 1> By_Blocks = {
    Fold_Multipliers{0, 0}, Multipliers_For(Block_Bits), Multipliers_For(2 * Block_Bits),
    Multipliers_For(3 * Block_Bits), Multipliers_For(4 * Block_Bits)};

// The reduction of the last block to the register (Barrett's, for
// polynomials): P with its x^32, and the quotient x^64 / P (33 bits).
constexpr uint64_t Polynomial_Whole = uint64_t{1} << 32 | Mpeg_Crc32_Polynomial;
constexpr uint64_t X64_Quotient() {
  uint64_t remainder = 0, quotient = 0;
  for (int bit = 64; bit >= 0; --bit) {
    remainder = remainder << 1 | (bit == 64 ? 1 : 0);
    if ((remainder >> 32 & 1) != 0) {
      remainder ^= Polynomial_Whole;
      quotient |= uint64_t{1} << bit;
    }
  }
  return quotient;
}
constexpr Fold_Multipliers To_64_Bits = {X_Power_Mod(64), X_Power_Mod(96)};
constexpr Fold_Multipliers Barrett = {Polynomial_Whole, X64_Quotient()};

// A tail of r bytes is taken in by shifting the folded block r bytes up
// (the bytes that leave it are folded back on) and putting the tail in the
// room. Shuffles and masks for r from 1 to 15 are 16-byte windows into these.
constexpr uint8_t Zero_Lane = 0x80; // a shuffle index that gives a zero byte
constexpr std::array<uint8_t, 3 *Block> Shift_Windows = [] {
  std::array<uint8_t, 3 * Block> windows{};
  for (std::size_t i = 0; i < windows.size(); ++i)
    windows[i] = i >= Block && i < 2 * Block ? static_cast<uint8_t>(i - Block) : Zero_Lane;
  return windows;
}();
constexpr std::array<uint8_t, 2 *Block> Low_Byte_Masks = [] {
  std::array<uint8_t, 2 * Block> masks{};
  for (std::size_t i = 0; i < Block; ++i)
    masks[i] = 0xFF;
  return masks;
}();

#define PICTO_FOLDING_TARGET [[gnu::target("pclmul,ssse3")]]

PICTO_FOLDING_TARGET inline __m128i Pair(const Fold_Multipliers &m) {
  return _mm_set_epi64x(static_cast<long long>(m.High), static_cast<long long>(m.Low));
}

PICTO_FOLDING_TARGET inline __m128i Multipliers(std::size_t blocks) {
  return Pair(By_Blocks[blocks]);
}

PICTO_FOLDING_TARGET inline __m128i Window(const uint8_t *at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
}

// A block moved on by the bits its multipliers are for: congruent to A x^bits.
PICTO_FOLDING_TARGET inline __m128i Fold(__m128i a, __m128i multipliers) {
  return _mm_xor_si128(_mm_clmulepi64_si128(a, multipliers, 0x11),
                       _mm_clmulepi64_si128(a, multipliers, 0x00));
}

// 16 bytes as a polynomial: the first byte's top bit in bit 127.
PICTO_FOLDING_TARGET inline __m128i Load_Block(const uint8_t *bytes, __m128i reverse) {
  return _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes)), reverse);
}

PICTO_FOLDING_TARGET uint32_t Folded_Update(uint32_t crc, const uint8_t *bytes, std::size_t size) {
  if (size < Fold_Least)
    return Sliced_Update(crc, bytes, size);
  const __m128i reverse = _mm_set_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const __m128i by_lanes = Multipliers(Lanes);
  __m128i lane[Lanes];
  for (std::size_t k = 0; k < Lanes; ++k)
    lane[k] = Load_Block(bytes + k * Block, reverse);
  lane[0] = _mm_xor_si128(lane[0], _mm_set_epi32(static_cast<int>(crc), 0, 0, 0));
  std::size_t at = Lanes * Block;
  for (; at + Lanes * Block <= size; at += Lanes * Block)
    for (std::size_t k = 0; k < Lanes; ++k)
      lane[k] = _mm_xor_si128(Fold(lane[k], by_lanes), Load_Block(bytes + at + k * Block, reverse));
  __m128i folded = lane[Lanes - 1];
  for (std::size_t k = 0; k + 1 < Lanes; ++k)
    folded = _mm_xor_si128(folded, Fold(lane[k], Multipliers(Lanes - 1 - k)));
  const __m128i by_block = Multipliers(1);
  for (; at + Block <= size; at += Block)
    folded = _mm_xor_si128(Fold(folded, by_block), Load_Block(bytes + at, reverse));
  const std::size_t tail = size - at;
  if (tail > 0) {
    const __m128i up = _mm_shuffle_epi8(folded, Window(Shift_Windows.data() + Block - tail));
    const __m128i out = _mm_shuffle_epi8(folded, Window(Shift_Windows.data() + 2 * Block - tail));
    const __m128i last = Load_Block(bytes + size - Block, reverse); // the tail in its low bytes
    folded = _mm_xor_si128(_mm_xor_si128(up, Fold(out, by_block)),
                           _mm_and_si128(last, Window(Low_Byte_Masks.data() + Block - tail)));
  }
  // The register is the block times x^32 mod P: the high half folded onto
  // the low one (64 + 32 bits), the top 32 of those folded down (64 bits),
  // then the remainder by Barrett's reduction.
  const __m128i to_64 = Pair(To_64_Bits);
  const __m128i wide = _mm_xor_si128(_mm_clmulepi64_si128(folded, to_64, 0x01),
                                     _mm_slli_si128(_mm_move_epi64(folded), 4));
  const __m128i narrow =
      _mm_xor_si128(_mm_clmulepi64_si128(wide, to_64, 0x11), _mm_move_epi64(wide));
  const __m128i barrett = Pair(Barrett);
  const __m128i quotient =
      _mm_srli_epi64(_mm_clmulepi64_si128(_mm_srli_epi64(narrow, 32), barrett, 0x00), 32);
  return static_cast<uint32_t>(
      _mm_cvtsi128_si32(_mm_xor_si128(narrow, _mm_clmulepi64_si128(quotient, barrett, 0x10))));
}

#endif

} // namespace

bool Crc_Method_Available(Crc_Method method) {
  if (method == Crc_Method::Sliced)
    return true;
#if defined(PICTO_CRC_FOLDING)
  __builtin_cpu_init();
  return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("ssse3");
#else
  return false;
#endif
}

uint32_t Mpeg_Crc32_Update_By(Crc_Method method, uint32_t crc, const uint8_t *bytes,
                              std::size_t size) {
#if defined(PICTO_CRC_FOLDING)
  if (method == Crc_Method::Folded)
    return Folded_Update(crc, bytes, size);
#else
  (void)method;
#endif
  return Sliced_Update(crc, bytes, size);
}

uint32_t Mpeg_Crc32_Update(uint32_t crc, const uint8_t *bytes, std::size_t size) {
  static const Crc_Method best =
      Crc_Method_Available(Crc_Method::Folded) ? Crc_Method::Folded : Crc_Method::Sliced;
  return Mpeg_Crc32_Update_By(best, crc, bytes, size);
}
