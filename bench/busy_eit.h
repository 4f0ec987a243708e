// The EIT of a busy network for benchmarks: for each of many services its
// present/following sections and a day of schedule sections, with invented
// programmes carrying short event descriptors. None of the services is a
// portal's source service, so the decoder never finds a portal in them.
#pragma once

#include "stream/eit_writer.h"

#include <vector>

constexpr int Busy_Services_Max = 200;
constexpr int Busy_Schedule_Segments = 8; // a day in 3-hour segments, one section each
// The transport stream the capture comes from: its services' sections are EIT
// actual (0x4E, 0x50), those of the others EIT other (0x4F, 0x60).
constexpr uint16_t Busy_Actual_Transport_Stream_Id = 4;

struct Busy_Eit {
  // Two per service (present, then following), service by service.
  std::vector<Byte_Vector> Present_Following;
  // Busy_Schedule_Segments per service, service by service, in segment order.
  std::vector<Byte_Vector> Schedule;
};

// The sections of `services` services (1 to Busy_Services_Max; throws
// std::invalid_argument otherwise). The same count gives the same bytes.
Busy_Eit Build_Busy_Eit(int services);

// All sections of Build_Busy_Eit(services) in carousel order: each service's
// present/following sections followed by its schedule sections.
std::vector<Byte_Vector> Busy_Eit_Sections(int services);
