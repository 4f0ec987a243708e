// Carrying out the session's orders, and the refresh timer.
#pragma once

#include "core/plugin_session.h"

// The timer first, then what concerns the window, the host command last.
void Carry_Out(const Shell_Orders &orders);
