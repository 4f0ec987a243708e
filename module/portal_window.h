// The portal window: a small modeless dialog with one button per entry of
// the shown portal, ">>" to move to the next portal and a TOPMOST switch.
#pragma once

#include "core/plugin_session.h"

#include <windows.h>

// This module, from LibMain; the dialog template is loaded from it.
extern HINSTANCE Instance_Handle;

// Opens or closes the window and refreshes its captions as ordered, then
// sends the order's host command.
void Carry_Out_Window_Orders(const Shell_Orders &orders);
