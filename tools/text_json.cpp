// Text and JSON pieces: escaping, UTF-8 checks and the entry table's columns.
#include "tools/text_json.h"

#include "stream/latin1_text.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr std::size_t Name_Column = 23; // characters of the text table's name column
constexpr const char *Replacement_Character = "\xEF\xBF\xBD"; // U+FFFD in UTF-8

// The length of the well-formed UTF-8 sequence at `at` (`left` bytes from
// there on), or 0 if none starts there: overlong forms, surrogates and code
// points past U+10FFFF are not well-formed.
std::size_t Utf8_Sequence_Length(const unsigned char *at, std::size_t left) {
  const unsigned char lead = at[0];
  if (lead < 0x80)
    return 1;
  std::size_t length = 0;
  uint32_t code = 0, least = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, code = lead & 0x1Fu, least = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, code = lead & 0x0Fu, least = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, code = lead & 0x07u, least = 0x10000;
  } else {
    return 0;
  }
  if (left < length)
    return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((at[i] & 0xC0) != 0x80)
      return 0;
    code = code << 6 | (at[i] & 0x3Fu);
  }
  if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
    return 0;
  return length;
}

} // namespace

std::string Json_String(const std::string &bytes, Json_Text text) {
  std::string out = "\"";
  const auto *at = reinterpret_cast<const unsigned char *>(bytes.data());
  const std::size_t size = bytes.size();
  for (std::size_t i = 0; i < size;) {
    const unsigned char byte = at[i];
    if (byte == '"' || byte == '\\') {
      out += '\\';
      out += static_cast<char>(byte);
    } else if (byte < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      out += escape;
    } else if (byte >= 0x80 && text == Json_Text::Latin1) {
      Append_Latin1_As_Utf8(out, byte);
    } else if (byte >= 0x80) {
      const std::size_t length = Utf8_Sequence_Length(at + i, size - i);
      if (length == 0) {
        out += Replacement_Character;
        ++i;
      } else {
        out.append(bytes, i, length);
        i += length;
      }
      continue;
    } else {
      out += static_cast<char>(byte);
    }
    ++i;
  }
  return out + "\"";
}

std::string Printable_Latin1(const std::string &bytes) {
  std::string out;
  for (unsigned char byte : bytes)
    Append_Latin1_As_Utf8(out, byte < 0x20 || byte == 0x7F ? '?' : byte);
  return out;
}

std::string Entry_Name_Bytes(const Portal_Entry &entry) {
  return std::string(entry.Name, strnlen(entry.Name, sizeof entry.Name));
}

std::string Padded(const std::string &text, std::size_t width) {
  std::size_t characters = 0;
  for (unsigned char byte : text)
    characters += (byte & 0xC0) != 0x80;
  return text + std::string(characters < width ? width - characters : 0, ' ');
}

std::string Counted(uint64_t count, const char *one, const char *more) {
  return std::to_string(count) + " " + (count == 1 ? one : more);
}

std::string Plural(int64_t count, const char *one, const char *more) {
  return std::to_string(count) + " " + (count == 1 ? one : more);
}

std::string Hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

std::string Entry_Table_Head() {
  return "   #  " + Padded("Name", Name_Column) + "  TS id  Service id\n";
}

std::string Entry_Row(int32_t index, const std::string &name, int32_t transport_stream_id,
                      int32_t service_id) {
  char number[16], ids[32];
  std::snprintf(number, sizeof number, "  %2d  ", index);
  std::snprintf(ids, sizeof ids, "  %5d  %10d\n", transport_stream_id, service_id);
  return number + Padded(Printable_Latin1(name), Name_Column) + ids;
}
