// The EIT PID's survey: counts, table ids, networks and the summary line.
#include "tools/eit_survey.h"

#include "core/dvb_layout.h"
#include "core/portal_table.h"
#include "tools/text_json.h"

#include <cstdio>

void Survey_Payload(Eit_Survey &survey, int32_t size) {
  ++survey.Packets;
  survey.Bytes += static_cast<uint64_t>(size);
}

void Survey_Section(Eit_Survey &survey, const Reassembled_Section &section) {
  const uint8_t *s = section.Bytes;
  ++survey.Sections;
  survey.Table_Ids.set(s[Section_Table_Id_Offset]);
  if (!section.Crc_Ok) {
    ++survey.Crc_Failures;
    return;
  }
  if (section.Size < Eit_Header_Size || !Is_Eit_Table_Id(s[Section_Table_Id_Offset]))
    return;
  const uint16_t network_id =
      static_cast<uint16_t>(Big_Endian_16(s + Eit_Original_Network_Id_Offset));
  const uint16_t transport_stream_id =
      static_cast<uint16_t>(Big_Endian_16(s + Eit_Transport_Stream_Id_Offset));
  const uint32_t service = static_cast<uint32_t>(transport_stream_id) << 16 |
                           static_cast<uint32_t>(Big_Endian_16(s + Eit_Service_Id_Offset));
  const uint64_t key = (uint64_t{network_id} << 32 | service) + 1;
  uint64_t &recent = survey.Recent[(key * 0x9E3779B97F4A7C15u) >> 52];
  if (recent == key)
    return;
  recent = key;
  Eit_Network &network = survey.Networks[network_id];
  network.Transport_Stream_Ids.insert(transport_stream_id);
  network.Services.insert(service);
}

std::string Table_Id_Ranges(const Eit_Survey &survey) {
  std::string out;
  for (int first = 0; first < 256; ++first) {
    if (!survey.Table_Ids.test(static_cast<std::size_t>(first)))
      continue;
    int last = first;
    while (last + 1 < 256 && survey.Table_Ids.test(static_cast<std::size_t>(last + 1)))
      ++last;
    out += (out.empty() ? "" : " ") + Hex(static_cast<uint32_t>(first), 2) +
           (last > first ? "-" + Hex(static_cast<uint32_t>(last), 2) : "");
    first = last;
  }
  return out;
}

std::string Survey_Summary(const Eit_Survey &survey, int decoded_portals, uint64_t flagged) {
  std::string out = std::to_string(decoded_portals) + " of " + std::to_string(Portal_Total) +
                    " portal lists decoded; ";
  if (survey.Packets == 0 && flagged == 1)
    return out + "an EIT packet arrived on PID 0x12, but it was flagged with the transport error "
                 "indicator and is left out";
  if (survey.Packets == 0 && flagged > 1)
    return out + "EIT packets arrived on PID 0x12, but all " + std::to_string(flagged) +
           " were flagged with the transport error indicator and are left out";
  if (survey.Packets == 0)
    return out + "no EIT on PID 0x12 in this capture";
  if (survey.Networks.empty())
    return out + "no sound EIT section on PID 0x12 (" + std::to_string(survey.Packets) +
           (survey.Packets == 1 ? " packet, " : " packets, ") + std::to_string(survey.Sections) +
           (survey.Sections == 1 ? " section)" : " sections)");
  if (survey.Networks.count(Portal_Original_Network_Id) != 0)
    return out + "EIT of network " + Hex(Portal_Original_Network_Id, 4) + " present";
  out += "EIT of other networks only (";
  bool first = true;
  for (const auto &network : survey.Networks) {
    out += (first ? "" : ", ") + Hex(network.first, 4);
    first = false;
  }
  return out + ")";
}
