// portal-scan's text and JSON, built as strings for the caller to write.
#include "tools/portal_scan_output.h"

#include "core/section_decoder.h"
#include "tools/text_json.h"

#include <cstdio>
#include <ctime>

namespace {

std::string Number(uint64_t value) {
  return std::to_string(value);
}

std::string Entry_Json(const Portal_Entry &entry) {
  char numbers[96];
  std::snprintf(numbers, sizeof numbers,
                ", \"descriptor_length\": %d, \"transport_stream_id\": %d, \"service_id\": %d}",
                entry.Descriptor_Length, entry.Transport_Stream_Id, entry.Service_Id);
  return "{\"name\": " + Json_String(Entry_Name_Bytes(entry), Json_Text::Latin1) + numbers;
}

// A JSON array of the first `total` entries of the row, each behind
// `separator` (a line break and indent), or on one line if that is " ".
std::string Entries_Json(const Portal_Row &row, int32_t total, const char *separator) {
  const bool on_one_line = separator[0] == ' ';
  std::string out = "[";
  for (int32_t i = 0; i < total; ++i)
    out += (i ? "," : "") + std::string(i || !on_one_line ? separator : "") +
           Entry_Json(row[static_cast<std::size_t>(i)]);
  return out + "]";
}

// "entries", the entries the portal has, and "table", its 17 slots as the
// window's buttons hold them.
std::string Listing_Json(const Portal_Listing &listing, const char *separator,
                         const char *table_separator) {
  return "\"entries\": " + Entries_Json(listing.Entries, Held_Entry_Count(listing), separator) +
         "," + table_separator +
         "\"table\": " + Entries_Json(listing.Entries, Portal_Entry_Total, separator);
}

const char *Portal_Name(int portal) {
  return Portal_Constants_Table[static_cast<std::size_t>(portal)].Default_Name;
}

bool Entry_Is_Empty(const Portal_Entry &entry) {
  return entry.Name[0] == 0 && entry.Transport_Stream_Id == 0 && entry.Service_Id == 0;
}

// The column heads and a line per entry that is not empty; with `defaults`
// (a portal without a list) each marked as the portal's default.
std::string Entry_Table(const Portal_Row &entries, bool defaults = false) {
  std::string out = Entry_Table_Head();
  for (int i = 0; i < Portal_Entry_Total; ++i) {
    const Portal_Entry &entry = entries[static_cast<std::size_t>(i)];
    if (Entry_Is_Empty(entry))
      continue;
    std::string row =
        Entry_Row(i, Entry_Name_Bytes(entry), entry.Transport_Stream_Id, entry.Service_Id);
    if (defaults)
      row.insert(row.size() - 1, "  (default)");
    out += row;
  }
  return out;
}

// What the packet size means, for the text header.
const char *Packet_Layout_Words(int32_t packet_size) {
  if (packet_size == 192)
    return " (a 4-byte time stamp in front of each 188-byte packet)";
  if (packet_size == 204)
    return " (16 bytes of parity behind each 188-byte packet)";
  return "";
}

constexpr std::size_t Text_Id_List_Most = 8; // transport stream ids listed in text

int Decoded_Portals(const Scan_Report &report) {
  int decoded = 0;
  for (const Portal_Result &result : report.Portals)
    decoded += result.Decoded;
  return decoded;
}

std::string Eit_Summary(const Scan_Report &report) {
  return Survey_Summary(*report.Survey, Decoded_Portals(report), report.Flagged_Eit_Packets);
}

// The EIT PID's lines of the text report.
std::string Survey_Text(const Scan_Report &report) {
  const Eit_Survey &survey = *report.Survey;
  std::string out = "  EIT on PID 0x12: " + Counted(survey.Packets, "packet", "packets") + " (" +
                    Counted(survey.Bytes, "byte", "bytes") + "), " +
                    Counted(survey.Sections, "section", "sections") + " (" +
                    Number(survey.Sections - survey.Crc_Failures) + " sound, " +
                    Number(survey.Crc_Failures) + " failing the CRC)";
  if (survey.Table_Ids.any())
    out += ", table ids " + Table_Id_Ranges(survey);
  out += "\n";
  for (const auto &network : survey.Networks) {
    out += "    network " + Hex(network.first, 4) + ": transport stream" +
           (network.second.Transport_Stream_Ids.size() == 1 ? " " : "s ");
    std::size_t listed = 0;
    for (uint16_t id : network.second.Transport_Stream_Ids) {
      if (listed == Text_Id_List_Most) {
        out += " and " + Number(network.second.Transport_Stream_Ids.size() - listed) + " more";
        break;
      }
      out += (listed++ ? ", " : "") + std::to_string(id);
    }
    out += "; " + Counted(network.second.Services.size(), "service", "services") + "\n";
  }
  if (survey.Packets > 0 && survey.Bytes < static_cast<uint64_t>(Scan_Threshold))
    out += "  PID 0x12 carried fewer bytes than the " + std::to_string(Scan_Threshold) +
           " the plug-in gathers before it looks\n";
  return out + "  summary: " + Eit_Summary(report) + "\n";
}

std::string Survey_Json(const Scan_Report &report) {
  const Eit_Survey &survey = *report.Survey;
  std::string ids;
  for (int id = 0; id < 256; ++id)
    if (survey.Table_Ids.test(static_cast<std::size_t>(id)))
      ids += (ids.empty() ? "" : ", ") + std::to_string(id);
  std::string networks;
  for (const auto &network : survey.Networks) {
    std::string streams;
    for (uint16_t id : network.second.Transport_Stream_Ids)
      streams += (streams.empty() ? "" : ", ") + std::to_string(id);
    networks += std::string(networks.empty() ? "" : ", ") +
                "{\"original_network_id\": " + std::to_string(network.first) +
                ", \"transport_stream_ids\": [" + streams +
                "], \"services\": " + Number(network.second.Services.size()) + "}";
  }
  return "{\"packets\": " + Number(survey.Packets) + ", \"bytes\": " + Number(survey.Bytes) +
         ", \"sections\": " + Number(survey.Sections) +
         ", \"crc_failures\": " + Number(survey.Crc_Failures) + ", \"table_ids\": [" + ids +
         "], \"networks\": [" + networks +
         "], \"summary\": " + Json_String(Eit_Summary(report), Json_Text::Utf8) + "}";
}

// "2026-12-08 18:00:00" for seconds since 1970, UTC; `iso` puts a T between
// and a Z behind.
std::string Utc_Text(int64_t seconds, bool iso) {
  const std::time_t at = static_cast<std::time_t>(seconds);
  std::tm parts{};
  gmtime_r(&at, &parts);
  char text[32];
  std::strftime(text, sizeof text, iso ? "%Y-%m-%dT%H:%M:%SZ" : "%Y-%m-%d %H:%M:%S", &parts);
  return text;
}

std::string Seconds_Text(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", seconds);
  return text;
}

// Whether the PCR gives a span (a step between two PCRs summed), and the
// TDT/TOT (a time seen, and the last no earlier than the first).
bool Pcr_Span(const Capture_Time &time) {
  return time.Pcr_Pid >= 0 && time.Pcr_Steps > 0;
}
bool Utc_Span(const Capture_Time &time) {
  return time.Utc_Seen && time.Utc_Last >= time.Utc_First;
}

std::string Time_Text(const Capture_Time &time) {
  const std::string pcr_pid = Hex(static_cast<uint32_t>(time.Pcr_Pid), 4);
  if (!Pcr_Span(time) && !time.Utc_Seen)
    return "  time span: not known (" +
           (time.Pcr_Pid < 0 ? std::string("no PCR, TDT or TOT in the capture")
            : time.Pcr_Count == 1
                ? "a single PCR, on PID " + pcr_pid + "; no TDT or TOT in the capture"
                : Number(time.Pcr_Count) + " PCRs on PID " + pcr_pid +
                      ", each a jump or a discontinuity after the last; no TDT or TOT in the "
                      "capture") +
           ")\n";
  std::string out = "  time span:";
  if (Pcr_Span(time))
    out += " " + Seconds_Text(time.Pcr_Seconds) + " s by the PCR on PID " + pcr_pid +
           (time.Utc_Seen ? ";" : "");
  if (time.Utc_Seen)
    out += " " + Utc_Text(time.Utc_First, false) + " to " + Utc_Text(time.Utc_Last, false) +
           " UTC (" +
           (Utc_Span(time) ? std::to_string(time.Utc_Last - time.Utc_First) + " s"
                           : std::string("no span: the time goes back")) +
           ") by the TDT/TOT";
  return out + "\n";
}

std::string Time_Json(const Capture_Time &time) {
  const auto utc = [&time](int64_t seconds) {
    return time.Utc_Seen ? "\"" + Utc_Text(seconds, true) + "\"" : std::string("null");
  };
  return "{\"pcr_pid\": " + (time.Pcr_Pid >= 0 ? std::to_string(time.Pcr_Pid) : "null") +
         ", \"pcr_seconds\": " + (Pcr_Span(time) ? Seconds_Text(time.Pcr_Seconds) : "null") +
         ", \"utc_first\": " + utc(time.Utc_First) + ", \"utc_last\": " + utc(time.Utc_Last) +
         ", \"utc_seconds\": " +
         (Utc_Span(time) ? std::to_string(time.Utc_Last - time.Utc_First) : "null") + "}";
}

// ", \"capture\": N" from a followed file's second capture on.
std::string Capture_Json(int capture) {
  return capture > 1 ? ", \"capture\": " + std::to_string(capture) : "";
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
         std::to_string(evidence.Packed) + " packed" +
         (evidence.Flagged > 0
              ? ", and " + Plural(evidence.Flagged, "copy", "copies") + " in flagged packets"
              : "") +
         (evidence.Repeat_Seconds >= 0
              ? "; repeated every " + Seconds_Text(evidence.Repeat_Seconds) + " s on average"
              : "") +
         "\n";
  if (evidence.Others.Count > 0)
    out += indent + "also on air: " + Other_Sections_Words(evidence.Others) + "\n";
  out += indent + "decoder: " + Account_Words(evidence.Account) + "\n";
  const bool agrees = verdict.Kind == Verdict_Kind::Shown ||
                      verdict.Kind == Verdict_Kind::Shown_Mended ||
                      verdict.Kind == Verdict_Kind::Shown_Packed ||
                      verdict.Kind == Verdict_Kind::Shown_From_Packets;
  const Source_Copy &last = evidence.Last_Sound;
  if (evidence.Sound_Seen && !agrees) {
    out += indent + "last sound copy lists " + Plural(last.Entry_Count, "entry", "entries") + "\n";
    for (int32_t k = 0; k < last.Entry_Count; ++k) {
      const Explain_Entry &entry = last.Entries[static_cast<std::size_t>(k)];
      out += indent + Entry_Row(k, entry.Name, entry.Transport_Stream_Id, entry.Service_Id);
    }
  }
  return out + indent + "verdict: " + verdict.Says + "\n";
}

std::string Explain_Json(const Portal_Evidence &evidence, const Portal_Verdict &verdict) {
  const Source_Copy &last = evidence.Last_Sound;
  const Decoder_Account &account = evidence.Account;
  std::string out =
      "{\"repetitions\": " + std::to_string(evidence.Repetitions) + ", \"versions\": [";
  for (int32_t i = 0; i < evidence.Version_Count; ++i)
    out += (i ? ", " : "") + std::to_string(evidence.Versions[static_cast<std::size_t>(i)]);
  out += "], \"crc_failures\": " + std::to_string(evidence.Crc_Failures) +
         ", \"at_payload_start\": " + std::to_string(evidence.At_Payload_Start) +
         ", \"packed\": " + std::to_string(evidence.Packed) + ", \"entries\": [";
  for (int32_t k = 0; k < last.Entry_Count; ++k) {
    const Explain_Entry &entry = last.Entries[static_cast<std::size_t>(k)];
    out += std::string(k ? ", " : "") + "{\"name\": " + Json_String(entry.Name, Json_Text::Latin1) +
           ", \"transport_stream_id\": " + std::to_string(entry.Transport_Stream_Id) +
           ", \"service_id\": " + std::to_string(entry.Service_Id) + "}";
  }
  const bool decoded = account.Decoded;
  const bool placed = decoded && account.Decoded_Where.Known;
  return out + "], \"refused\": " + std::to_string(last.Refused) +
         ", \"flagged\": " + std::to_string(evidence.Flagged) + ", \"repeat_seconds\": " +
         (evidence.Repeat_Seconds >= 0 ? Seconds_Text(evidence.Repeat_Seconds) : "null") +
         ", \"other_sections\": " + std::to_string(evidence.Others.Count) + ", \"decoded_at\": " +
         (placed ? Number(account.Decoded_Where.Packet_Offset) : std::string("null")) +
         ", \"rule\": " +
         (decoded ? std::to_string(static_cast<int32_t>(account.List.Way)) : std::string("null")) +
         ", \"rule_name\": " +
         (decoded ? Json_String(Judgement_Name(account.List.Way), Json_Text::Utf8)
                  : std::string("null")) +
         ", \"decoder\": " + Json_String(Account_Words(account), Json_Text::Utf8) +
         ", \"verdict\": \"" + Verdict_Word(verdict.Kind) +
         "\", \"says\": " + Json_String(verdict.Says, Json_Text::Utf8) + "}";
}

std::string Json_Report(const Scan_Report &report, bool one_line) {
  const char *portal_break = one_line ? " " : "\n  ";
  const char *entry_break = one_line ? " " : "\n    ";
  const char *member_break = one_line ? " " : "\n   ";
  const Input_Health &health = report.Health;
  std::string out = "{\"format_version\": " + std::to_string(Json_Format_Version) +
                    ", \"file\": " + Json_String(report.Name, Json_Text::Utf8) +
                    Capture_Json(report.Capture) + ", \"packets\": " + Number(report.Packets) +
                    ", \"packet_size\": " + std::to_string(health.Packet_Size) +
                    ", \"stopped\": " + (report.Stopped ? "true" : "false") +
                    ", \"health\": {\"sync_losses\": " + Number(health.Sync_Losses) +
                    ", \"skipped_bytes\": " + Number(health.Skipped_Bytes) +
                    ", \"transport_error_packets\": " + Number(health.Flagged_Packets) +
                    ", \"continuity_errors\": " + Number(health.Continuity_Errors) +
                    ", \"cut_packet_bytes\": " + Number(health.Cut_Packet_Bytes) + "}" +
                    ", \"time\": " + Time_Json(report.Time) +
                    (report.Survey != nullptr ? ", \"eit\": " + Survey_Json(report) : "") +
                    ", \"portals\": [";
  for (int portal = 0; portal < Portal_Total; ++portal) {
    const std::size_t p = static_cast<std::size_t>(portal);
    const Portal_Result &result = report.Portals[p];
    out += std::string(portal ? "," : "") + portal_break +
           "{\"portal\": " + std::to_string(portal) +
           ", \"name\": " + Json_String(Portal_Name(portal), Json_Text::Latin1) +
           ", \"decoded\": " + (result.Decoded ? "true" : "false") +
           ", \"count\": " + std::to_string(result.Listing.Count) + ", " +
           Listing_Json(result.Listing, entry_break, member_break);
    if (report.Evidence != nullptr)
      out += std::string(",") + member_break +
             "\"explain\": " + Explain_Json(report.Evidence->Portals[p], (*report.Verdicts)[p]);
    out += "}";
  }
  return out + "]}\n";
}

std::string Text_Report(const Scan_Report &report) {
  const Input_Health &health = report.Health;
  std::string out =
      std::string(report.Name) +
      (report.Capture > 1 ? " (capture " + std::to_string(report.Capture) + ")" : "") + ": " +
      Counted(report.Packets, "packet", "packets") + "\n" +
      "  packet size: " + std::to_string(health.Packet_Size) + " bytes" +
      Packet_Layout_Words(health.Packet_Size) + "\n" +
      "  health: " + Counted(health.Sync_Losses, "sync loss", "sync losses") + ", " +
      Counted(health.Skipped_Bytes, "byte", "bytes") + " skipped, " +
      Counted(health.Flagged_Packets, "packet", "packets") +
      " dropped for the transport error indicator, " +
      Counted(health.Continuity_Errors, "continuity error", "continuity errors") + " on PID 0x12" +
      (health.Cut_Packet_Bytes > 0
           ? "; the last packet cut short, its first " +
                 Counted(health.Cut_Packet_Bytes, "byte", "bytes") + " left out"
           : "") +
      "\n";
  out += Time_Text(report.Time);
  if (report.Survey != nullptr)
    out += Survey_Text(report);
  if (report.Stopped)
    out += "  stopped before the end of the input\n";
  for (int portal = 0; portal < Portal_Total; ++portal) {
    const std::size_t p = static_cast<std::size_t>(portal);
    const Portal_Result &result = report.Portals[p];
    out += "\nPortal " + std::to_string(portal) + "  " + Portal_Name(portal) + ": " +
           (result.Decoded
                ? "source section decoded, count " + std::to_string(result.Listing.Count) + "\n"
                : std::string("no source section found, default entry kept\n")) +
           Entry_Table(result.Listing.Entries, !result.Decoded && result.Listing.Count == 0);
    if (report.Evidence != nullptr)
      out += Explain_Text(report.Evidence->Portals[p], (*report.Verdicts)[p]);
  }
  return out;
}

std::string Json_Change(int portal, uint64_t offset, int capture, const Portal_Listing &listing) {
  return "{\"offset\": " + Number(offset) + Capture_Json(capture) +
         ", \"portal\": " + std::to_string(portal) +
         ", \"name\": " + Json_String(Portal_Name(portal), Json_Text::Latin1) +
         ", \"count\": " + std::to_string(listing.Count) + ", " + Listing_Json(listing, " ", " ") +
         "}\n";
}

std::string Text_Change(int portal, uint64_t offset, int capture, const Portal_Listing &listing,
                        bool first) {
  return std::string(first ? "" : "\n") + "Portal " + std::to_string(portal) + "  " +
         Portal_Name(portal) + ": source section decoded at offset " + Number(offset) +
         (capture > 1 ? " of capture " + std::to_string(capture) : "") + ", count " +
         std::to_string(listing.Count) + "\n" + Entry_Table(listing.Entries);
}
