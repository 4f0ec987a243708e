// The plain decoder's scan, step by step, with no shortcut of the real one.
#include "tests/unit/plain_decoder.h"

#include "core/portal_section_rule.h"
#include "core/section_decoder.h"

#include <algorithm>

namespace {

constexpr std::size_t Tail_Kept = 13;

// Decodes the section of length L whose zero byte stands at p: the L + 2
// bytes from p are moved to the front and 12 zero bytes written from offset
// L on, so the descriptor walk (offsets 14 to L - 1 from the zero byte)
// reads the section's first L bytes and zeros behind them.
void Decode_At(Plain_Decoder &decoder, std::size_t p, int32_t length) {
  Byte_Vector moved(decoder.Buffer.begin() + static_cast<long>(p),
                    decoder.Buffer.begin() + static_cast<long>(p) + length);
  moved.resize(static_cast<std::size_t>(length) + 12 + Portal_Name_Size, 0x00);
  Decoded_List list;
  list.Portal = decoder.Portal;
  for (int32_t j = 1 + Descriptor_Scan_Start; j < length; ++j)
    if (Matches_Portal_Descriptor(&moved[static_cast<std::size_t>(j)]) &&
        list.Count < Portal_Entry_Total)
      list.Entries[list.Count++] = Entry_From_Descriptor(&moved[static_cast<std::size_t>(j)]);
  decoder.Count = Apply_Decoded_List(decoder.Entries, decoder.Count, list);
  decoder.Decoded = true;
  decoder.Buffer.clear();
}

} // namespace

Plain_Decoder Plain_Decoder_For(int portal) {
  Plain_Decoder decoder;
  decoder.Portal = portal;
  decoder.Entries = Default_Portal_Row(portal);
  return decoder;
}

bool Plain_Feed(Plain_Decoder &decoder, const uint8_t *bytes, std::size_t n) {
  if (decoder.Decoded)
    return false;
  if (decoder.Buffer.size() + n > static_cast<std::size_t>(Section_Buffer_Size)) {
    decoder.Buffer.clear();
    return false;
  }
  decoder.Buffer.insert(decoder.Buffer.end(), bytes, bytes + n);
  Byte_Vector &buffer = decoder.Buffer;
  if (buffer.size() < static_cast<std::size_t>(Scan_Threshold))
    return false;
  const Portal_Constants &constants = Portal_Constants_Table[decoder.Portal];
  for (std::size_t p = 0; p < buffer.size(); ++p) {
    if (buffer[p] != 0x00)
      continue;
    const std::size_t rest = buffer.size() - p;
    if (rest <= Tail_Kept) {
      buffer.erase(buffer.begin(), buffer.begin() + static_cast<long>(p));
      return false;
    }
    const int32_t length = Source_Section_Length(&buffer[p + 1], constants);
    if (length == 0)
      continue;
    if (rest <= static_cast<std::size_t>(length) + 5) {
      buffer.erase(buffer.begin(), buffer.begin() + static_cast<long>(p));
      return false;
    }
    Decode_At(decoder, p, length);
    return true;
  }
  buffer.clear();
  return false;
}
