// portal-scan's text and JSON.
#include "tools/portal_scan_output.h"

#include "tools/text_json.h"

#include <cstdio>

namespace {

std::string Entry_Json(const Portal_Entry &entry) {
  char numbers[96];
  std::snprintf(numbers, sizeof numbers,
                ", \"descriptor_length\": %d, \"transport_stream_id\": %d, \"service_id\": %d}",
                entry.Descriptor_Length, entry.Transport_Stream_Id, entry.Service_Id);
  return "{\"name\": " + Json_String(Entry_Name_Bytes(entry), Json_Text::Latin1) + numbers;
}

const char *Portal_Name(int portal) {
  return Portal_Constants_Table[static_cast<std::size_t>(portal)].Default_Name;
}

bool Entry_Is_Empty(const Portal_Entry &entry) {
  return entry.Name[0] == 0 && entry.Transport_Stream_Id == 0 && entry.Service_Id == 0;
}

// The column heads and a line per entry that is not empty.
void Print_Entry_Table(const Portal_Row &entries) {
  std::fputs(Entry_Table_Head().c_str(), stdout);
  for (int i = 0; i < Portal_Entry_Total; ++i) {
    const Portal_Entry &entry = entries[static_cast<std::size_t>(i)];
    if (!Entry_Is_Empty(entry))
      std::fputs(Entry_Row(i, Entry_Name_Bytes(entry), entry.Transport_Stream_Id, entry.Service_Id)
                     .c_str(),
                 stdout);
  }
}

std::string Plural(int32_t count, const char *one, const char *more) {
  return std::to_string(count) + " " + (count == 1 ? one : more);
}

} // namespace

std::string Explain_Text(const Portal_Evidence &evidence, const Portal_Verdict &verdict) {
  const std::string indent = "    ";
  std::string out = indent + "explain: on air " + Plural(evidence.Repetitions, "time", "times") +
                    (evidence.Version_Count == 1 ? ", version" : ", versions");
  for (int32_t i = 0; i < evidence.Version_Count; ++i)
    out += " " + std::to_string(evidence.Versions[static_cast<std::size_t>(i)]);
  out += evidence.Version_Count == 0 ? " none" : "";
  out += ", " + Plural(evidence.Crc_Failures, "CRC failure", "CRC failures") + ", " +
         std::to_string(evidence.At_Payload_Start) + " at a payload start, " +
         std::to_string(evidence.Packed) + " packed\n";
  if (evidence.Sound_Seen && verdict.Kind != Verdict_Kind::Shown) {
    out +=
        indent + "last sound copy lists " + Plural(evidence.Entry_Count, "entry", "entries") + "\n";
    for (int32_t k = 0; k < evidence.Entry_Count; ++k) {
      const Explain_Entry &entry = evidence.Entries[static_cast<std::size_t>(k)];
      out += indent + Entry_Row(k, entry.Name, entry.Transport_Stream_Id, entry.Service_Id);
    }
  }
  return out + indent + "verdict: " + verdict.Says + "\n";
}

std::string Explain_Json(const Portal_Evidence &evidence, const Portal_Verdict &verdict) {
  std::string out =
      "{\"repetitions\": " + std::to_string(evidence.Repetitions) + ", \"versions\": [";
  for (int32_t i = 0; i < evidence.Version_Count; ++i)
    out += (i ? ", " : "") + std::to_string(evidence.Versions[static_cast<std::size_t>(i)]);
  out += "], \"crc_failures\": " + std::to_string(evidence.Crc_Failures) +
         ", \"at_payload_start\": " + std::to_string(evidence.At_Payload_Start) +
         ", \"packed\": " + std::to_string(evidence.Packed) + ", \"entries\": [";
  for (int32_t k = 0; k < evidence.Entry_Count; ++k) {
    const Explain_Entry &entry = evidence.Entries[static_cast<std::size_t>(k)];
    out += std::string(k ? ", " : "") + "{\"name\": " + Json_String(entry.Name, Json_Text::Latin1) +
           ", \"transport_stream_id\": " + std::to_string(entry.Transport_Stream_Id) +
           ", \"service_id\": " + std::to_string(entry.Service_Id) + "}";
  }
  return out + "], \"verdict\": \"" + Verdict_Word(verdict.Kind) +
         "\", \"says\": " + Json_String(verdict.Says, Json_Text::Utf8) + "}";
}

void Print_Json(const Scan_Report &report) {
  std::printf("{\"file\": %s, \"packets\": %llu, \"portals\": [",
              Json_String(report.Name, Json_Text::Utf8).c_str(),
              static_cast<unsigned long long>(report.Packets));
  for (int portal = 0; portal < Portal_Total; ++portal) {
    const std::size_t p = static_cast<std::size_t>(portal);
    const Portal_Result &result = report.Portals[p];
    std::printf(
        "%s\n  {\"portal\": %d, \"name\": %s, \"decoded\": %s, \"count\": %d, \"entries\": [",
        portal ? "," : "", portal, Json_String(Portal_Name(portal), Json_Text::Latin1).c_str(),
        result.Decoded ? "true" : "false", result.Listing.Count);
    for (int i = 0; i < Portal_Entry_Total; ++i)
      std::printf("%s\n    %s", i ? "," : "",
                  Entry_Json(result.Listing.Entries[static_cast<std::size_t>(i)]).c_str());
    std::printf("]");
    if (report.Evidence != nullptr)
      std::printf(",\n   \"explain\": %s",
                  Explain_Json(report.Evidence->Portals[p], (*report.Verdicts)[p]).c_str());
    std::printf("}");
  }
  std::printf("]}\n");
}

void Print_Text(const Scan_Report &report) {
  std::printf("%s: %llu packets\n", report.Name, static_cast<unsigned long long>(report.Packets));
  for (int portal = 0; portal < Portal_Total; ++portal) {
    const std::size_t p = static_cast<std::size_t>(portal);
    const Portal_Result &result = report.Portals[p];
    std::printf("\nPortal %d  %s: ", portal, Portal_Name(portal));
    if (result.Decoded)
      std::printf("source section decoded, count %d\n", result.Listing.Count);
    else
      std::printf("no source section found, default entry kept\n");
    Print_Entry_Table(result.Listing.Entries);
    if (report.Evidence != nullptr)
      std::fputs(Explain_Text(report.Evidence->Portals[p], (*report.Verdicts)[p]).c_str(), stdout);
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
