// Storage of the shared plug-in state, with its values at load.
#include "core/plugin_state.h"

#include <cstring>

Plugin_Flag Filter_Running{0};
Plugin_Flag Exiting{0};
Plugin_Flag Topmost{1};
std::atomic<int32_t> Window_X{Default_Window_X};
std::atomic<int32_t> Window_Y{Default_Window_Y};

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
