// The demo host as a receiver: the capture it plays, the channel it is tuned
// to, and how it acts on the plug-in's commands (logging each, running the
// filter, tuning once a switch request has returned).
#pragma once

#include "demo/demo_capture.h"

#include <windows.h>

#include <cstdint>

extern Demo_Capture Capture;

// Posted to the main window by a switch request: wParam transport stream,
// lParam service.
constexpr UINT Tune_Message = WM_APP + 1;

// The stand-in host's window procedure, which the main window's own one
// hands the host commands and everything it does not handle itself.
extern WNDPROC Stand_In_Proc;
// The line above the log that names the tuned channel and the filter state.
extern HWND Channel_Label;
extern int Tune_Answers; // switch requests answered (tuned or refused)

// A command of the plug-in (Host_Message) arriving at the main window.
LRESULT On_Host_Command(HWND window, WPARAM w_param, LPARAM l_param);
// Tunes to a channel the capture names (On_Channel_Change); others refused.
void Tune(uint16_t transport_stream_id, uint16_t service_id);
