// The portal window: a small modeless dialog with one button per entry of
// the shown portal, ">>" to move to the next portal and a TOPMOST switch.
#pragma once

#include <windows.h>

// Opens the window if it is closed, closes it (without stopping the filter)
// if it is open. After On_Exit, until the next On_Start, it opens nothing.
void Toggle_Window();

// Closes the window if it is open; sends nothing.
void Close_Window();

// Copies the names of the shown portal's 17 entries onto the 17 entry
// buttons; does nothing while the window is closed.
void Refresh_Captions();

INT_PTR CALLBACK Portal_Dialog_Proc(HWND window, UINT message, WPARAM w_param, LPARAM l_param);
