// The plug-in's session: everything the host's calls, the portal window and
// the refresh timer do to the plug-in's state, without a window system.
// Each routine changes the state and hands back Shell_Orders, what the
// Windows shell must then do: open or close the window, run or stop the
// refresh timer, refresh the captions, send a host command. The shell
// carries them out in that order, the command last, since the host may call
// back into the plug-in while it handles a command.
//
// Everything here runs on the host's window thread; only the data callback
// (section_decoder.h) runs on another, and it reads just the flags of
// plugin_state.h.
#pragma once

#include "core/entry_point_types.h"
#include "core/host_contract.h"

#include <cstdint>

// The position file, beside the module. Its path must fit what the narrow
// file functions open: MAX_PATH, 260 bytes with the NUL.
constexpr char Settings_File_Name[] = "Pictolandrum.INI";
constexpr int Settings_Path_Size = 260;
// The longest module directory whose position file fits, with its NUL: the
// directory, a backslash and the file name fill Settings_Path_Size.
constexpr int Module_Directory_Size =
    Settings_Path_Size - static_cast<int>(sizeof Settings_File_Name);
// The loader's path to the module is read into this: whole whenever its
// directory fits Module_Directory_Size, whatever the module's file name (at
// most 255 UTF-16 units, each at most 3 bytes in the ANSI code page).
constexpr int Longest_File_Name = 255 * 3;
constexpr int Module_Path_Size = Module_Directory_Size + Longest_File_Name + 1;
constexpr uint32_t Refresh_Period_Ms = 1500; // the refresh timer's period
constexpr char Start_Answer_Letter = 'G';    // what On_Start hands back
constexpr int32_t Start_Answer_Word = 0;

// The session's own state, zero at load.
struct Session_State {
  Window_Handle Host_Window; // receives every host command; null before On_Start, after On_Exit
  bool Window_Open;          // the portal window is open, or opening and still wanted
  bool Window_Opening;       // the shell is making the window
  bool No_Settings_File;     // the module's directory is not known whole or is too long
  char Module_Directory[Module_Directory_Size]; // the module's path before its last backslash
  char Settings_Path[Settings_Path_Size];       // the position file, built by On_Start; empty: none
};
extern Session_State Plugin_Session;

enum class Window_Order : uint8_t { None, Open, Close };
// Run: make sure the refresh timer runs (it is created once); Stop: kill it.
enum class Timer_Order : uint8_t { None, Run, Stop };

// SendMessageA(To, Host_Message, Command, Argument). Command 0: nothing to
// send. To is the host window when the command was decided; null while no
// host is known, and then nothing reaches the host.
struct Host_Command_Order {
  Window_Handle To;
  uint32_t Command;
  uintptr_t Argument;
};

struct Shell_Orders {
  Window_Order Window;
  Timer_Order Timer;
  bool Refresh_Captions; // copy the shown portal's names onto the entry buttons
  Host_Command_Order Command;
};

// LibMain at process attach: the module's full path as the loader gave it,
// and whether it was whole (false: it did not fit Module_Path_Size and was
// cut). A position file is kept where the path was whole and its directory
// fits Module_Directory_Size; elsewhere the position lives for the load.
void Session_Record_Module_Path(const char *module_path, bool whole);

// LibMain at process detach: `process_ending` when the whole process ends
// (the window then goes with it), not when the host frees the module.
Shell_Orders Session_Unload(bool process_ending);

// On_Start: takes the host window and tag, starts a session (again, if one
// is open) and answers through the two out-arguments (null ones are skipped).
void Session_Start(Window_Handle host_window, uint32_t host_tag, char *out_letter,
                   int32_t *out_word);

// On_Exit: ends the session; nothing reaches the host after its orders.
Shell_Orders Session_Exit();

// On_Channel_Change: keeps the record, follows the channel rule while the
// window is open, and re-arms the decoder.
Shell_Orders Session_Channel_Change(const Channel_Record &record);

// On_Filter_Close: the host has closed the filter itself.
void Session_Filter_Closed();

// The hot key or the menu entry: open the window, or close it if open.
Shell_Orders Session_Toggle_Window();

// The shell's answer to Window_Order::Open: whether the window was made.
// Orders it closed again when it was closed, or On_Exit ran, meanwhile.
Shell_Orders Session_Window_Created(bool created);

// The opening window's initialisation (WM_INITDIALOG).
Shell_Orders Session_Window_Init();

// The close box (WM_CLOSE), before the dismissal it turns into.
Shell_Orders Session_Close_Box();

// IDOK or IDCANCEL: the window closes itself.
Shell_Orders Session_Window_Dismissed();

// Entry button `index` (0 to 16) of the shown portal.
Shell_Orders Session_Entry_Pressed(int32_t index);

// ">>".
Shell_Orders Session_Next_Portal();

// The TOPMOST check box: flips Topmost and answers its new value.
int32_t Session_Toggle_Topmost();

// The window has moved to x, y (screen pixels).
void Session_Window_Moved(int32_t x, int32_t y);

// The refresh timer's tick.
Shell_Orders Session_Refresh_Tick();

// Puts the session state back to its value at load (tests, fuzz targets).
void Reset_Plugin_Session();
