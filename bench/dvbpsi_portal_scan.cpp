// dvbpsi-portal-scan FILE.ts: portal-scan's peer in bench/portal-scan-speed.sh,
// the same search done the way a program built on libdvbpsi does it. The
// capture is read as portal-scan reads it (stream/ts_reader.h), and every
// unflagged packet on PID 0x12 goes to libdvbpsi: its demultiplexer gathers
// the sections and checks their CRC, and an EIT decoder is attached to every
// EIT sub-table it reports. Each table decoded counts its network, transport
// stream and service, as portal-scan's report of the EIT PID does, and the
// table of a portal's source service (on original network 0x0085) gives the
// portal's entries: its linkage descriptors of type 0xB0 from that network.
// Prints the counts and, per portal, the entries in portal-scan's rows, so
// the two can be compared.
#include "core/dvb_layout.h"
#include "core/portal_table.h"
#include "stream/ts_reader.h"
#include "tools/tool_version.h"

extern "C" {
#include <dvbpsi/dvbpsi.h>
// dvbpsi.h first: the others use its types.
#include <dvbpsi/demux.h>
#include <dvbpsi/descriptor.h>
#include <dvbpsi/dr_4a.h>
#include <dvbpsi/eit.h>
#include <dvbpsi/psi.h>
}

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr const char *Tool = "dvbpsi-portal-scan";

struct Found_Entry {
  std::string Name;
  int Transport_Stream_Id;
  int Service_Id;
};

struct Scan {
  dvbpsi_t *Handle = nullptr;
  uint64_t Tables = 0;         // EIT tables decoded
  std::set<uint64_t> Services; // network << 32 | transport stream << 16 | service
  bool Decoded[Portal_Total] = {};
  std::vector<Found_Entry> Entries[Portal_Total];
};

// The portal whose source service this table is, or -1.
int Source_Portal(const dvbpsi_eit_t &eit) {
  if (eit.i_network_id != Portal_Original_Network_Id)
    return -1;
  for (int portal = 0; portal < Portal_Total; ++portal) {
    const Portal_Constants &constants = Portal_Constants_Table[static_cast<std::size_t>(portal)];
    if (eit.i_extension == constants.Source_Service_Id &&
        eit.i_ts_id == constants.Source_Transport_Stream_Id)
      return portal;
  }
  return -1;
}

void Take_Eit(void *context, dvbpsi_eit_t *eit) {
  Scan &scan = *static_cast<Scan *>(context);
  ++scan.Tables;
  scan.Services.insert(uint64_t{eit->i_network_id} << 32 | uint64_t{eit->i_ts_id} << 16 |
                       eit->i_extension);
  const int portal = Source_Portal(*eit);
  if (portal >= 0) {
    scan.Decoded[portal] = true;
    std::vector<Found_Entry> &entries = scan.Entries[portal];
    entries.clear();
    for (dvbpsi_eit_event_t *event = eit->p_first_event; event != nullptr; event = event->p_next)
      for (dvbpsi_descriptor_t *descriptor = event->p_first_descriptor; descriptor != nullptr;
           descriptor = descriptor->p_next) {
        if (descriptor->i_tag != Linkage_Descriptor_Tag)
          continue;
        const dvbpsi_linkage_dr_t *linkage = dvbpsi_DecodeLinkageDr(descriptor);
        if (linkage == nullptr || linkage->i_linkage_type != Portal_Linkage_Type ||
            linkage->i_original_network_id != Portal_Original_Network_Id)
          continue;
        entries.push_back({std::string(reinterpret_cast<const char *>(linkage->i_private_data),
                                       linkage->i_private_data_length),
                           linkage->i_transport_stream_id, linkage->i_service_id});
      }
  }
  dvbpsi_eit_delete(eit);
}

// The demultiplexer's call for a sub-table it has no decoder for yet: an
// EIT decoder for each EIT sub-table.
void New_Subtable(dvbpsi_t *handle, uint8_t table_id, uint16_t extension, void *context) {
  if (Is_Eit_Table_Id(table_id))
    dvbpsi_eit_attach(handle, table_id, extension, Take_Eit, context);
}

void Ignore_Message(dvbpsi_t *, const dvbpsi_msg_level_t, const char *) {}

// portal-scan's text row of an entry (tools/text_json.cpp), names as they are.
std::string Entry_Text(int index, const Found_Entry &entry) {
  char row[96];
  std::snprintf(row, sizeof row, "  %2d  %-23s  %5d  %10d\n", index, entry.Name.c_str(),
                entry.Transport_Stream_Id, entry.Service_Id);
  return row;
}

std::string Report(const char *path, const Ts_Reader &reader, const Scan &scan) {
  std::set<uint16_t> networks, transport_streams;
  for (uint64_t service : scan.Services) {
    networks.insert(static_cast<uint16_t>(service >> 32));
    transport_streams.insert(static_cast<uint16_t>(service >> 16));
  }
  std::string out = std::string(path) + ": " + std::to_string(reader.Packets) + " packets\n" +
                    "  EIT on PID 0x12: " + std::to_string(scan.Tables) + " tables decoded, " +
                    std::to_string(networks.size()) + " networks, " +
                    std::to_string(transport_streams.size()) + " transport streams, " +
                    std::to_string(scan.Services.size()) + " services\n";
  for (int portal = 0; portal < Portal_Total; ++portal) {
    const auto &entries = scan.Entries[portal];
    out += std::string("\nPortal ") + std::to_string(portal) + "  " +
           Portal_Constants_Table[static_cast<std::size_t>(portal)].Default_Name +
           (scan.Decoded[portal] ? ": " + std::to_string(entries.size()) + " entries\n"
                                 : ": no source section decoded\n");
    for (std::size_t i = 0; i < entries.size(); ++i)
      out += Entry_Text(static_cast<int>(i), entries[i]);
  }
  return out;
}

int Usage_Error(const std::string &what) {
  std::fprintf(stderr, "%s: %s (see --help)\n", Tool, what.c_str());
  return 2;
}

// Writes `text` to stdout; a failure is one line on stderr and exit status 2.
int Write_Out(const std::string &text) {
  if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
    std::fprintf(stderr, "%s: standard output: %s\n", Tool, std::strerror(errno));
    return 2;
  }
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0)
      return Write_Out(std::string("usage: ") + Tool +
                       " FILE.ts\n"
                       "Finds the portals' entries in a capture through libdvbpsi's "
                       "demultiplexer and EIT decoder,\nfor comparison with portal-scan "
                       "(bench/portal-scan-speed.sh).\n"
                       "  -h, --help   print this help and exit\n"
                       "  --version    print the version and exit\n");
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--version") == 0)
      return Print_Version(Tool) ? 0 : 2;
  if (argc != 2)
    return Usage_Error(argc < 2 ? "no capture named" : "one capture only");
  if (argv[1][0] == '-')
    return Usage_Error(std::string("unknown option '") + argv[1] + "'");

  const char *path = argv[1];
  Ts_Reader reader;
  if (!Open_Ts_File(reader, path)) {
    std::fprintf(stderr, "%s: %s: %s\n", Tool, path, std::strerror(errno));
    return 2;
  }
  static Scan scan;
  scan.Handle = dvbpsi_new(Ignore_Message, DVBPSI_MSG_NONE);
  if (scan.Handle == nullptr || !dvbpsi_AttachDemux(scan.Handle, New_Subtable, &scan)) {
    std::fprintf(stderr, "%s: libdvbpsi could not be set up\n", Tool);
    return 2;
  }
  const uint8_t *payload = nullptr;
  int32_t size = 0;
  Ts_Read_Result status;
  while ((status = Next_Ts_Payload(reader, Eit_Pid, &payload, &size)) == Ts_Read_Result::Payload)
    dvbpsi_packet_push(scan.Handle, const_cast<uint8_t *>(payload + size - Ts_Packet_Size));
  const int read_errno = errno;
  dvbpsi_DetachDemux(scan.Handle);
  dvbpsi_delete(scan.Handle);
  if (status != Ts_Read_Result::End) {
    std::fprintf(stderr, "%s: %s: %s\n", Tool, path,
                 status == Ts_Read_Result::Read_Error ? std::strerror(read_errno)
                                                      : "not a transport stream");
    Close_Ts_Reader(reader);
    return 2;
  }
  const std::string out = Report(path, reader, scan);
  Close_Ts_Reader(reader);
  return Write_Out(out);
}
