// The one place the plug-in talks to the host's main window.
#include "module/host_commands.h"

#include <windows.h>

void Send_Host_Command(const Host_Command_Order &order) {
  if (order.Command != 0 && order.To != nullptr)
    SendMessageA(static_cast<HWND>(order.To), Host_Message, static_cast<WPARAM>(order.Command),
                 static_cast<LPARAM>(order.Argument));
}
