// ISO-8859-1 to UTF-8: bytes below 0x80 stand for themselves, the others
// become two bytes.
#include "stream/latin1_text.h"

void Append_Latin1_As_Utf8(std::string &out, unsigned char byte) {
  if (byte < 0x80) {
    out += static_cast<char>(byte);
  } else {
    out += static_cast<char>(0xC0 | (byte >> 6));
    out += static_cast<char>(0x80 | (byte & 0x3F));
  }
}

std::string Utf8_From_Latin1(const std::string &bytes) {
  std::string out;
  for (const unsigned char byte : bytes)
    Append_Latin1_As_Utf8(out, byte);
  return out;
}
