// Storage of the shared plug-in state, with its values at load (all zero
// bytes: see Starts_At).
#include "core/plugin_state.h"

#include <cstring>

Plugin_Flag Filter_Running{0};
Plugin_Flag Exiting{0};
Starts_At<1> Topmost;
Starts_At<Default_Window_X> Window_X;
Starts_At<Default_Window_Y> Window_Y;

Channel_Record Current_Channel{};
Filter_Request_Record Filter_Request{};
Switch_Request_Record Switch_Request{};

void Reset_Plugin_State() {
  Filter_Running = 0;
  Exiting = 0;
  Topmost = 1;
  Window_X = Default_Window_X;
  Window_Y = Default_Window_Y;
  std::memset(&Current_Channel, 0, sizeof Current_Channel);
  std::memset(&Filter_Request, 0, sizeof Filter_Request);
  std::memset(&Switch_Request, 0, sizeof Switch_Request);
}
