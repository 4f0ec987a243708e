// The channel rule and the button rule.
#include "core/host_rules.h"

namespace {

bool Keeps_Filter(uint16_t service_id) {
  for (const uint16_t service : Filter_Keeping_Services)
    if (service == service_id)
      return true;
  return false;
}

} // namespace

Filter_Action Channel_Filter_Action(bool filter_running, uint16_t transport_stream_id,
                                    uint16_t service_id) {
  const bool on_portal_stream = transport_stream_id == Portal_Transport_Stream_Id;
  if (!filter_running && on_portal_stream)
    return Filter_Action::Start;
  if (filter_running && !on_portal_stream && !Keeps_Filter(service_id))
    return Filter_Action::Stop;
  return Filter_Action::Keep;
}

Entry_Button_Outcome Entry_Button_Press(int32_t portal_count, int32_t index,
                                        const Portal_Entry &entry) {
  Entry_Button_Outcome outcome{};
  if (portal_count < index)
    return outcome;
  outcome.Re_Arms = true;
  if (entry.Service_Id != 0 && entry.Transport_Stream_Id != 0) {
    outcome.Switches = true;
    outcome.Request.Lead = Switch_Lead_Word;
    outcome.Request.Service_Id = static_cast<uint32_t>(entry.Service_Id);
    outcome.Request.Transport_Stream_Id = static_cast<uint32_t>(entry.Transport_Stream_Id);
    outcome.Request.Trail = Switch_Trail_Word;
  }
  return outcome;
}

int32_t Next_Portal(int32_t portal) {
  const int32_t next = portal + 1;
  return next >= Portal_Total ? 0 : next;
}
