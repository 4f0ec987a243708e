// The host entry points that open and close the portal window.
#pragma once

#include "core/host_contract.h"

#include <cstdint>

extern "C" {
// The host's hot key: opens the window, or closes it if it is open.
void HOST_CALL On_Hot_Key();
// A selection in the host's menu; only our "Active" item toggles the window.
void HOST_CALL On_Menu_Select(uint32_t id);
}
