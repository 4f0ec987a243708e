// The session's routines: the plug-in's answer to each host call and window
// event, as state changes and orders for the shell.
//
// Choices where the host leaves room:
// - A module path without a backslash (or no path at all, when the loader
//   can't give one) leaves Module_Directory empty, as for a module in the
//   root; the position file is then "\Pictolandrum.INI".
// - A module path is never cut: its last backslash would name a folder
//   above the module's own. The path is read whole wherever the position
//   file's path could fit; a path that still does not fit, or whose
//   directory leaves no room for the position file's path, keeps no
//   position file: it is neither read nor written, and the position lives
//   for the load.
// - Null out-arguments to On_Start are skipped.
// - Calls in an unexpected order are harmless: commands need On_Start's host
//   window, On_Exit may run twice, and after On_Exit a channel change keeps
//   the record but starts no timer (it must not fire after On_Exit).
// - On_Exit ends the session: it stops a running filter (the last command
//   the host receives), forgets the host window, so that nothing can reach
//   the host afterwards, closes the window and stops the refresh timer;
//   until the next On_Start the hot key and the menu entry open nothing.
// - On_Exit keeps the window position in the position file, as unload does,
//   so that a later session in the same load opens where this one left it.
// - Every On_Start starts a session as the first one did: the table back to
//   its default entries with no counts on portal 0, the next chunk starting
//   an empty buffer, the position read from the file, and Exiting cleared,
//   so after On_Exit the next channel change creates the timer again. Only
//   the lock is made once per session: On_Start during a session (twice
//   without On_Exit) keeps it, and the window, the filter and the timer stay
//   as they are. The channel record and TOPMOST stay as they were: the
//   host's channel has not changed, and TOPMOST is the viewer's choice for
//   the whole load.
// - Should the host unload us without On_Exit, unload stops the timer, so it
//   never fires into an unloaded module, and closes a window still open
//   (FreeLibrary), so no window procedure is left pointing into it. At the
//   process's end the window goes with the process.
#include "core/plugin_session.h"

#include "core/host_rules.h"
#include "core/plugin_decoder.h"
#include "core/plugin_state.h"
#include "core/portal_lock.h"
#include "core/portal_table.h"
#include "core/settings.h"

#include <cstring>

Session_State Plugin_Session;

namespace {

// Every portal back to its default entry, portal 0 shown and scanned.
void Reset_Shown_Portals() {
  Reset_Portal_Table();
  Clear_Scan_Portal(Plugin_Decoder);
}

Host_Command_Order Host_Command(uint32_t command, uintptr_t argument) {
  return {Plugin_Session.Host_Window, command, argument};
}

// The filter counts as running from the moment its start is decided, and as
// stopped from the moment its stop is: the host may answer inside the
// command (a refusal by On_Filter_Close, say), and its answer must win.
Host_Command_Order Start_Filter_Command() {
  Filter_Request.Pid = Eit_Pid;
  Filter_Running = 1;
  return Host_Command(HOST_START_FILTER, reinterpret_cast<uintptr_t>(&Filter_Request));
}

Host_Command_Order Stop_Filter_Command() {
  Filter_Running = 0;
  return Host_Command(HOST_STOP_FILTER, Filter_Request.Filter_Handle);
}

// The window counts as open from the moment its opening begins: the host
// may call in while the opening waits for its start request, and a hot key
// then must not open a second window, nor On_Exit leave one behind.
Window_Order Open_Window() {
  Plugin_Session.Window_Open = true;
  if (Plugin_Session.Window_Opening)
    return Window_Order::None; // the opening under way serves
  Plugin_Session.Window_Opening = true;
  return Window_Order::Open;
}

// Closes the window if it is open; one still opening is closed as soon as
// it has been made (Session_Window_Created).
Window_Order Close_Window() {
  if (!Plugin_Session.Window_Open)
    return Window_Order::None;
  Plugin_Session.Window_Open = false;
  return Plugin_Session.Window_Opening ? Window_Order::None : Window_Order::Close;
}

// Settings_Path = Module_Directory + "\" + Settings_File_Name; empty when
// there is no position file.
static_assert(Module_Directory_Size + sizeof Settings_File_Name <= Settings_Path_Size,
              "the longest directory, a backslash, the name and its NUL fit");
void Build_Settings_Path() {
  char *path = Plugin_Session.Settings_Path;
  if (Plugin_Session.No_Settings_File) {
    path[0] = '\0';
    return;
  }
  const std::size_t length = std::strlen(Plugin_Session.Module_Directory);
  std::memcpy(path, Plugin_Session.Module_Directory, length);
  path[length] = '\\';
  std::memcpy(path + length + 1, Settings_File_Name, sizeof Settings_File_Name);
}

// The start of a session, as described at the top of this file. The lock
// comes first (made unless it exists), so the table is reset under it.
void Open_Session() {
  Create_Portal_Lock();
  Reset_Shown_Portals();
  Reset_Portal_Counts();
  Restart_Section_Buffer(Plugin_Decoder);
  Read_Settings(Plugin_Session.Settings_Path);
  Exiting = 0;
}

} // namespace

void Session_Record_Module_Path(const char *module_path, bool whole) {
  char *directory = Plugin_Session.Module_Directory;
  directory[0] = '\0';
  Plugin_Session.No_Settings_File = !whole;
  if (!whole)
    return;
  const char *backslash = std::strrchr(module_path, '\\');
  if (backslash == nullptr)
    return;
  const std::size_t size = static_cast<std::size_t>(backslash - module_path);
  if (size >= sizeof Plugin_Session.Module_Directory) {
    Plugin_Session.No_Settings_File = true;
    return;
  }
  std::memcpy(directory, module_path, size);
  directory[size] = '\0';
}

Shell_Orders Session_Unload(bool process_ending) {
  Shell_Orders orders{};
  if (!process_ending)
    orders.Window = Close_Window();
  orders.Timer = Timer_Order::Stop;
  Write_Settings(Plugin_Session.Settings_Path);
  return orders;
}

void Session_Start(Window_Handle host_window, uint32_t host_tag, char *out_letter,
                   int32_t *out_word) {
  Plugin_Session.Host_Window = host_window;
  Filter_Request.Host_Tag = static_cast<uint16_t>(host_tag);
  Filter_Request.Reserved = 0;
  std::memset(Filter_Request.Name, 0, sizeof Filter_Request.Name);
  std::memcpy(Filter_Request.Name, Plugin_Name, Plugin_Name_Size);
  Filter_Request.Callback = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&On_Section_Data));
  Build_Settings_Path();
  Open_Session();
  if (out_letter != nullptr)
    *out_letter = Start_Answer_Letter;
  if (out_word != nullptr)
    *out_word = Start_Answer_Word;
}

Shell_Orders Session_Exit() {
  Shell_Orders orders{};
  Exiting = 1;
  if (Filter_Running)
    orders.Command = Stop_Filter_Command();
  Plugin_Session.Host_Window = nullptr;
  orders.Window = Close_Window();
  orders.Timer = Timer_Order::Stop;
  Delete_Portal_Lock();
  Write_Settings(Plugin_Session.Settings_Path);
  return orders;
}

Shell_Orders Session_Channel_Change(const Channel_Record &record) {
  Shell_Orders orders{};
  Current_Channel = record;
  Restart_Section_Buffer(Plugin_Decoder);
  if (Plugin_Session.Window_Open) {
    const Filter_Action action = Channel_Filter_Action(
        Filter_Running != 0, Current_Channel.Transport_Stream_Id, Current_Channel.Service_Id);
    if (action == Filter_Action::Start)
      orders.Command = Start_Filter_Command();
    else if (action == Filter_Action::Stop)
      orders.Command = Stop_Filter_Command();
  }
  if (!Exiting)
    orders.Timer = Timer_Order::Run;
  Arm_Section_Decoder(Plugin_Decoder);
  return orders;
}

void Session_Filter_Closed() {
  Filter_Running = 0;
}

// Closing this way sends nothing: a running filter stays registered.
Shell_Orders Session_Toggle_Window() {
  Shell_Orders orders{};
  if (Plugin_Session.Window_Open)
    orders.Window = Close_Window();
  else if (!Exiting)
    orders.Window = Open_Window();
  return orders;
}

Shell_Orders Session_Window_Created(bool created) {
  Shell_Orders orders{};
  Plugin_Session.Window_Opening = false;
  if (!created)
    Plugin_Session.Window_Open = false;
  else if (!Plugin_Session.Window_Open)
    orders.Window = Window_Order::Close;
  return orders;
}

// On the portal transport stream the opening asks for the filter (again, if
// it already runs) and keeps the table; anywhere else the table goes back to
// its defaults and portal 0.
Shell_Orders Session_Window_Init() {
  Shell_Orders orders{};
  if (Current_Channel.Transport_Stream_Id == Portal_Transport_Stream_Id)
    orders.Command = Start_Filter_Command();
  else
    Reset_Shown_Portals();
  Arm_Section_Decoder(Plugin_Decoder);
  return orders;
}

// Stops a running filter and disarms the decoder; the dismissal follows.
Shell_Orders Session_Close_Box() {
  Shell_Orders orders{};
  if (Filter_Running) {
    orders.Command = Stop_Filter_Command();
    Disarm_Section_Decoder(Plugin_Decoder);
  }
  return orders;
}

Shell_Orders Session_Window_Dismissed() {
  Shell_Orders orders{};
  if (Filter_Running)
    orders.Command = Stop_Filter_Command();
  orders.Window = Close_Window();
  return orders;
}

// A button beyond the portal's count (index > Portal_Count; the button at
// index Portal_Count still acts) does nothing at all; the others ask the
// host to switch when the entry names a service, and re-arm the decoder.
// The entry is read whole, so the request carries one entry's own pair of
// ids even while the decoder rewrites the table.
Shell_Orders Session_Entry_Pressed(int32_t index) {
  Shell_Orders orders{};
  const int32_t portal = Current_Portal;
  const Entry_Button_Outcome outcome =
      Entry_Button_Press(Read_Portal_Count(portal), index, Copy_Portal_Entry(portal, index));
  if (outcome.Switches) {
    Switch_Request = outcome.Request;
    orders.Command =
        Host_Command(HOST_SWITCH_SERVICE, reinterpret_cast<uintptr_t>(&Switch_Request));
  }
  if (outcome.Re_Arms)
    Arm_Section_Decoder(Plugin_Decoder);
  return orders;
}

Shell_Orders Session_Next_Portal() {
  Shell_Orders orders{};
  {
    Portal_Lock_Scope lock;
    Current_Portal = Next_Portal(Current_Portal);
  }
  orders.Refresh_Captions = true;
  Arm_Section_Decoder(Plugin_Decoder);
  return orders;
}

int32_t Session_Toggle_Topmost() {
  Topmost = 1 - Topmost;
  return Topmost;
}

void Session_Window_Moved(int32_t x, int32_t y) {
  Window_X = x;
  Window_Y = y;
}

Shell_Orders Session_Refresh_Tick() {
  Shell_Orders orders{};
  if (!Plugin_Session.Window_Open)
    return orders;
  Arm_Section_Decoder(Plugin_Decoder);
  orders.Refresh_Captions = true;
  return orders;
}

void Reset_Plugin_Session() {
  std::memset(&Plugin_Session, 0, sizeof Plugin_Session);
}
