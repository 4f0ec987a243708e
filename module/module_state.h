// The Windows side of the plug-in state: handles, paths and the timer, and
// the routines that send commands to the host. Everything here lives from
// load to unload and is touched on the host's window thread only.
#pragma once

#include "core/plugin_state.h"

#include <windows.h>

constexpr int Module_Path_Size = 256; // GetModuleFileNameA buffer
constexpr char Settings_File_Name[] = "Pictolandrum.INI";
constexpr int Settings_Path_Size = Module_Path_Size + sizeof Settings_File_Name + 1;

extern HINSTANCE Instance_Handle;               // this module, from LibMain
extern char Module_Directory[Module_Path_Size]; // module path before its last backslash
extern char Settings_Path[Settings_Path_Size];  // position file, built in On_Start
extern HWND Host_Window;                        // receives every host command
extern HWND Dialog_Window;                      // the open portal window, or null
extern UINT_PTR Refresh_Timer;                  // the refresh timer, 0 until created

// SendMessageA(Host_Window, Host_Message, command, argument); no result read.
void Send_Host_Command(uint32_t command, uintptr_t argument);

// Sets the PID in Filter_Request, sends HOST_START_FILTER with its address
// and marks the filter running.
void Start_Host_Filter();

// Sends HOST_STOP_FILTER with the host's filter handle and marks the filter
// stopped.
void Stop_Host_Filter();

// Kills the refresh timer if it runs; after On_Exit it is created again only
// once a new On_Start has begun another session.
void Stop_Refresh_Timer();
