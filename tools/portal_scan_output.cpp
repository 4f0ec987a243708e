// portal-scan's text and JSON.
#include "tools/portal_scan_output.h"

#include "stream/latin1_text.h"
#include "tools/portal_explain.h"

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

// The entry name's bytes up to the NUL, as ISO-8859-1.
std::string Name_Bytes(const Portal_Entry &entry) {
  return std::string(entry.Name, strnlen(entry.Name, sizeof entry.Name));
}

std::string Entry_Json(const Portal_Entry &entry) {
  char numbers[96];
  std::snprintf(numbers, sizeof numbers,
                ", \"descriptor_length\": %d, \"transport_stream_id\": %d, \"service_id\": %d}",
                entry.Descriptor_Length, entry.Transport_Stream_Id, entry.Service_Id);
  return "{\"name\": " + Json_String(Name_Bytes(entry), Json_Text::Latin1) + numbers;
}

const char *Portal_Name(int portal) {
  return Portal_Constants_Table[static_cast<std::size_t>(portal)].Default_Name;
}

bool Entry_Is_Empty(const Portal_Entry &entry) {
  return entry.Name[0] == 0 && entry.Transport_Stream_Id == 0 && entry.Service_Id == 0;
}

// Pads UTF-8 text to `width` characters.
std::string Padded(const std::string &text, std::size_t width) {
  std::size_t characters = 0;
  for (unsigned char byte : text)
    characters += (byte & 0xC0) != 0x80;
  return text + std::string(characters < width ? width - characters : 0, ' ');
}

// The column heads and a line per entry that is not empty.
void Print_Entry_Table(const Portal_Row &entries) {
  std::printf("   #  %s  TS id  Service id\n", Padded("Name", Name_Column).c_str());
  for (int i = 0; i < Portal_Entry_Total; ++i) {
    const Portal_Entry &entry = entries[static_cast<std::size_t>(i)];
    if (!Entry_Is_Empty(entry))
      std::fputs(
          Entry_Row(i, Name_Bytes(entry), entry.Transport_Stream_Id, entry.Service_Id).c_str(),
          stdout);
  }
}

// The verdict on a portal, from the capture's evidence and the decoder's
// result.
Portal_Verdict Verdict_On(const Portal_Evidence &evidence, const Portal_Result &result) {
  Decoder_Outcome outcome;
  outcome.Decoded = result.Decoded;
  outcome.Way = result.Way;
  outcome.Count = result.Listing.Count;
  outcome.Entries = result.Listing.Entries;
  return Portal_Explain(evidence, outcome);
}

const Portal_Evidence &Evidence_Of(const Capture_Evidence &evidence, int portal) {
  return evidence.Portals[static_cast<std::size_t>(portal)];
}

} // namespace

std::string Printable_Latin1(const std::string &bytes) {
  std::string out;
  for (unsigned char byte : bytes)
    Append_Latin1_As_Utf8(out, byte < 0x20 || byte == 0x7F ? '?' : byte);
  return out;
}

std::string Entry_Row(int32_t index, const std::string &name, int32_t transport_stream_id,
                      int32_t service_id) {
  char number[16], ids[32];
  std::snprintf(number, sizeof number, "  %2d  ", index);
  std::snprintf(ids, sizeof ids, "  %5d  %10d\n", transport_stream_id, service_id);
  return number + Padded(Printable_Latin1(name), Name_Column) + ids;
}

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

void Print_Json(const char *name, uint64_t packets, const Scan_Outcome &outcome,
                const Capture_Evidence *evidence) {
  std::printf("{\"file\": %s, \"packets\": %llu, \"portals\": [",
              Json_String(name, Json_Text::Utf8).c_str(), static_cast<unsigned long long>(packets));
  for (int portal = 0; portal < Portal_Total; ++portal) {
    const Portal_Result &result = outcome.Portals[static_cast<std::size_t>(portal)];
    std::printf(
        "%s\n  {\"portal\": %d, \"name\": %s, \"decoded\": %s, \"count\": %d, \"entries\": [",
        portal ? "," : "", portal, Json_String(Portal_Name(portal), Json_Text::Latin1).c_str(),
        result.Decoded ? "true" : "false", result.Listing.Count);
    for (int i = 0; i < Portal_Entry_Total; ++i)
      std::printf("%s\n    %s", i ? "," : "",
                  Entry_Json(result.Listing.Entries[static_cast<std::size_t>(i)]).c_str());
    std::printf("]");
    if (evidence != nullptr) {
      const Portal_Evidence &portal_evidence = Evidence_Of(*evidence, portal);
      std::printf(",\n   \"explain\": %s",
                  Explain_Json(portal_evidence, Verdict_On(portal_evidence, result)).c_str());
    }
    std::printf("}");
  }
  std::printf("]}\n");
}

void Print_Text(const char *name, uint64_t packets, const Scan_Outcome &outcome,
                const Capture_Evidence *evidence) {
  std::printf("%s: %llu packets\n", name, static_cast<unsigned long long>(packets));
  for (int portal = 0; portal < Portal_Total; ++portal) {
    const Portal_Result &result = outcome.Portals[static_cast<std::size_t>(portal)];
    std::printf("\nPortal %d  %s: ", portal, Portal_Name(portal));
    if (result.Decoded)
      std::printf("source section decoded, count %d\n", result.Listing.Count);
    else
      std::printf("no source section found, default entry kept\n");
    Print_Entry_Table(result.Listing.Entries);
    if (evidence != nullptr) {
      const Portal_Evidence &portal_evidence = Evidence_Of(*evidence, portal);
      std::fputs(Explain_Text(portal_evidence, Verdict_On(portal_evidence, result)).c_str(),
                 stdout);
    }
  }
}

void Print_Change_Json(int portal, uint64_t offset, const Portal_Listing &listing) {
  std::printf("{\"offset\": %llu, \"portal\": %d, \"name\": %s, \"count\": %d, \"entries\": [",
              static_cast<unsigned long long>(offset), portal,
              Json_String(Portal_Name(portal), Json_Text::Latin1).c_str(), listing.Count);
  for (int i = 0; i < Portal_Entry_Total; ++i)
    std::printf("%s%s", i ? ", " : "",
                Entry_Json(listing.Entries[static_cast<std::size_t>(i)]).c_str());
  std::printf("]}\n");
}

void Print_Change_Text(int portal, uint64_t offset, const Portal_Listing &listing, bool first) {
  std::printf("%sPortal %d  %s: source section decoded at offset %llu, count %d\n",
              first ? "" : "\n", portal, Portal_Name(portal),
              static_cast<unsigned long long>(offset), listing.Count);
  Print_Entry_Table(listing.Entries);
}
