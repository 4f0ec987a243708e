// The host's entry points other than the two that open the window, and the
// refresh timer.
//
// Choices where the host leaves room:
// - On_Send_Dll_ID_Name writes the 13 bytes of the name and its NUL, no more.
// - Null out-arguments to On_Start are skipped; a null buffer gets nothing.
// - Calls in an unexpected order are harmless: commands need On_Start's host
//   window, On_Exit may run twice, and after On_Exit a channel change keeps
//   the record but starts no timer (it must not fire after On_Exit).
// - On_Exit ends the session: it stops a running filter (the last command
//   the host receives), forgets the host window, so that nothing can reach
//   the host afterwards, and closes the window; until the next On_Start the
//   hot key and the menu entry open nothing.
// - On_Exit keeps the window position in the position file, as unload does,
//   so that a later session in the same load opens where this one left it.
// - On_Start after On_Exit starts a new session in the same load, as the
//   first On_Start did: the lock made anew, the table back to its default
//   entries with no counts on portal 0, the next chunk starting an empty
//   buffer, the position read from the file, and Exiting cleared, so the next
//   channel change creates the timer again. The channel record and TOPMOST
//   stay as they were: the host's channel has not changed, and TOPMOST is
//   the viewer's choice for the whole load.
// - On_Start during a session (twice without On_Exit) refreshes what it
//   takes from the host (the host window, our fields of Filter_Request,
//   the position file's path) and answers as always; the lock, the table,
//   the position and the window stay as they are.
#include "core/host_rules.h"
#include "core/portal_lock.h"
#include "core/portal_table.h"
#include "core/section_decoder.h"
#include "core/settings.h"
#include "module/module_state.h"
#include "module/portal_window.h"

#include <cstring>

namespace {

constexpr uint32_t Start_Letter = 'G';
constexpr UINT Refresh_Period_Ms = 1500;

// From On_Start to On_Exit; touched on the host's window thread only.
bool Session_Open = false;

// Settings_Path = Module_Directory + "\" + Settings_File_Name, cut to fit.
void Build_Settings_Path() {
  std::size_t length = std::strlen(Module_Directory);
  const std::size_t room = sizeof Settings_Path - sizeof Settings_File_Name - 1;
  if (length > room)
    length = room;
  std::memcpy(Settings_Path, Module_Directory, length);
  Settings_Path[length] = '\\';
  std::memcpy(Settings_Path + length + 1, Settings_File_Name, sizeof Settings_File_Name);
}

// The channel-change rule, applied only while the window is open.
void Follow_Channel() {
  const Filter_Action action = Channel_Filter_Action(
      Filter_Running != 0, Current_Channel.Transport_Stream_Id, Current_Channel.Service_Id);
  if (action == Filter_Action::Start)
    Start_Host_Filter();
  else if (action == Filter_Action::Stop)
    Stop_Host_Filter();
}

// The start of a session, as described at the top of this file. The lock
// comes first, so the table is reset under it.
void Open_Session() {
  Create_Portal_Lock();
  Reset_Portal_Table();
  for (auto &count : Portal_Count)
    count = 0;
  Plugin_Decoder.First_Chunk_Seen = 0;
  Read_Settings(Settings_Path);
  Exiting = 0;
  Session_Open = true;
}

void CALLBACK On_Refresh_Timer(HWND, UINT, UINT_PTR, DWORD) {
  if (Dialog_Window == nullptr)
    return;
  Plugin_Decoder.Scan_Idle = 0;
  Refresh_Captions();
}

} // namespace

extern "C" {

void HOST_CALL On_Start(uint32_t, HWND host_window, uint32_t, uint32_t host_tag, char *out_letter,
                        uint32_t, int32_t *out_word) {
  Host_Window = host_window;
  Filter_Request.Host_Tag = static_cast<uint16_t>(host_tag);
  Filter_Request.Reserved = 0;
  std::memset(Filter_Request.Name, 0, sizeof Filter_Request.Name);
  std::memcpy(Filter_Request.Name, Plugin_Name, Plugin_Name_Size);
  Filter_Request.Callback = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&On_Section_Data));
  Build_Settings_Path();
  if (!Session_Open)
    Open_Session();
  if (out_letter != nullptr)
    *out_letter = static_cast<char>(Start_Letter);
  if (out_word != nullptr)
    *out_word = 0;
}

void HOST_CALL On_Exit() {
  Exiting = 1;
  if (Filter_Running)
    Stop_Host_Filter();
  Host_Window = nullptr;
  Close_Window();
  Stop_Refresh_Timer();
  Delete_Portal_Lock();
  Write_Settings(Settings_Path);
  Session_Open = false;
}

void HOST_CALL On_Send_Dll_ID_Name(char *buffer) {
  if (buffer != nullptr)
    std::memcpy(buffer, Plugin_Name, Plugin_Name_Size);
}

void HOST_CALL On_Filter_Close() {
  Filter_Running = 0;
}

void HOST_CALL On_Channel_Change(Channel_Record record) {
  Current_Channel = record;
  Plugin_Decoder.First_Chunk_Seen = 0;
  if (Dialog_Window != nullptr)
    Follow_Channel();
  if (Refresh_Timer == 0 && !Exiting)
    Refresh_Timer = SetTimer(nullptr, 0, Refresh_Period_Ms, On_Refresh_Timer);
  Plugin_Decoder.Scan_Idle = 0;
}

} // extern "C"
