// The demo host's answers to the plug-in's commands and its tuning.
#include "demo/demo_commands.h"

#include "demo/demo_log.h"
#include "host/stand_in_host.h"

#include <cstdio>

Demo_Capture Capture;
WNDPROC Stand_In_Proc = nullptr;
HWND Channel_Label = nullptr;
int Tune_Answers = 0;

namespace {

uint16_t Tuned_Transport_Stream = 0;
uint16_t Tuned_Service = 0;

void Show_Channel() {
  char text[160];
  std::snprintf(text, sizeof text, "Current channel: transport stream %u, service %u    filter %s",
                Tuned_Transport_Stream, Tuned_Service, Host_Filter_Open ? "running" : "stopped");
  SetWindowTextA(Channel_Label, text);
}

void Log_Command(uint32_t command, uint32_t argument) {
  if (command == HOST_START_FILTER && argument != 0) {
    const auto *request = reinterpret_cast<const Filter_Request_Record *>(argument);
    Log("plug-in: asks for a filter on PID 0x%04X named \"%.34s\" (HOST_START_FILTER)",
        request->Pid, request->Name);
  } else if (command == HOST_STOP_FILTER) {
    Log("plug-in: asks to stop its filter (HOST_STOP_FILTER)");
  } else if (command == HOST_SWITCH_SERVICE && argument != 0) {
    const auto *request = reinterpret_cast<const Switch_Request_Record *>(argument);
    Log("plug-in: asks to switch to transport stream %u, service %u (HOST_SWITCH_SERVICE)",
        request->Transport_Stream_Id, request->Service_Id);
  } else {
    Log("plug-in: sends command 0x%08X (argument 0x%08X), which this host does not know", command,
        argument);
  }
}

} // namespace

LRESULT On_Host_Command(HWND window, WPARAM w_param, LPARAM l_param) {
  const auto command = static_cast<uint32_t>(w_param);
  const auto argument = static_cast<uint32_t>(l_param);
  Log_Command(command, argument);
  const LRESULT result = CallWindowProcA(Stand_In_Proc, window, Host_Message, w_param, l_param);
  if (command == HOST_START_FILTER && Host_Filter_Open)
    Log("host: filter running on PID 0x%04X", Eit_Pid);
  else if (command == HOST_STOP_FILTER)
    Log(Host_Filter_Open ? "host: no filter of its has that handle; the filter keeps running"
                         : "host: filter stopped");
  if (command == HOST_SWITCH_SERVICE && argument != 0) { // tune once the request has returned
    const auto *request = reinterpret_cast<const Switch_Request_Record *>(argument);
    PostMessageA(window, Tune_Message, request->Transport_Stream_Id, request->Service_Id);
  }
  Show_Channel();
  return result;
}

void Tune(uint16_t transport_stream_id, uint16_t service_id) {
  ++Tune_Answers;
  if (!Demo_Channel_Known(Capture, transport_stream_id, service_id)) {
    Log("host: the capture has no transport stream %u, service %u; staying on %u/%u",
        transport_stream_id, service_id, Tuned_Transport_Stream, Tuned_Service);
    return;
  }
  Tuned_Transport_Stream = transport_stream_id;
  Tuned_Service = service_id;
  Host_Change_Channel(transport_stream_id, service_id);
  Log("host: tuned to transport stream %u, service %u (On_Channel_Change); filter %s",
      transport_stream_id, service_id, Host_Filter_Open ? "running" : "stopped");
  Show_Channel();
}
