// Sending the session's commands to the host's main window.
#pragma once

#include "core/plugin_session.h"

// SendMessageA(order.To, Host_Message, command, argument), without reading
// a result; nothing without a command or a host window.
void Send_Host_Command(const Host_Command_Order &order);
