// The two rules by which the plug-in answers the viewer and the host, as
// pure functions: what a channel change does to the host's filter, and what
// an entry button or ">>" asks for. The Windows module applies them; here
// they can be tested without a window.
#pragma once

#include "core/host_contract.h"
#include "core/portal_table.h"

#include <cstdint>

// Services that keep a running filter even off the portal transport stream.
constexpr uint16_t Filter_Keeping_Services[] = {18, 208, 209, 210, 27};

enum class Filter_Action { Keep, Start, Stop };

// A channel change while the window is open: start a stopped filter on the
// portal transport stream; stop a running one on a channel that is neither
// on that stream nor one of Filter_Keeping_Services; otherwise keep it.
Filter_Action Channel_Filter_Action(bool filter_running, uint16_t transport_stream_id,
                                    uint16_t service_id);

// What entry button `index` (0 to 16) of a portal holding `portal_count`
// entries asks for. A button beyond the count (index > portal_count) is
// ignored: no switch, and the decoder is not re-armed. Any other button
// re-arms the decoder, and asks the host to switch when `entry` names both
// a service and a transport stream.
struct Entry_Button_Outcome {
  bool Re_Arms;
  bool Switches;
  Switch_Request_Record Request; // filled when Switches
};
Entry_Button_Outcome Entry_Button_Press(int32_t portal_count, int32_t index,
                                        const Portal_Entry &entry);

// ">>": the portal after `portal`, and the first after the last.
int32_t Next_Portal(int32_t portal);
