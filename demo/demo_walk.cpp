// The headless walk through the portal window and the screenshot.
#include "demo/demo_walk.h"

#include "core/portal_table.h"
#include "demo/demo_commands.h"
#include "demo/demo_log.h"
#include "demo/demo_options.h"
#include "host/screenshot.h"
#include "host/stand_in_host.h"
#include "module/resource_ids.h"

#include <algorithm>
#include <string>

namespace {

constexpr DWORD Window_Wait_Ms = 5000;
constexpr DWORD Decode_Wait_Ms = 8000; // a pass of the capture and a caption refresh
constexpr DWORD Channel_Wait_Ms = 3000;
// The screenshot and the plug-in's end take this long, so the walk ends
// this much before the time is up.
constexpr DWORD Finish_Ms = 300;
// The entry the walk presses, numbered from 0 as portal-scan lists them.
constexpr int Pressed_Entry = 2;

HWND Portal_Window = nullptr;
int Portal_Shown = 0;
int Answers_Before = 0;

// Milliseconds the walk may still take: it ends Finish_Ms before
// --headless SECONDS are up, whatever the capture holds.
DWORD Walk_Time_Left() {
  const DWORD walk_end = static_cast<DWORD>(Options.Headless_Seconds) * 1000 - Finish_Ms;
  const DWORD spent = GetTickCount() - Start_Tick;
  return spent < walk_end ? walk_end - spent : 0;
}

// Host_Pump_Until, for no longer than the walk has left.
int Pump_Until(int (*done)(), DWORD timeout_ms) {
  return Host_Pump_Until(done, std::min(timeout_ms, Walk_Time_Left()));
}

int Portal_Open() {
  Portal_Window = FindWindowA("#32770", " Pictolandrum");
  return Portal_Window != nullptr;
}

std::string Caption(int id) {
  char text[Portal_Name_Size + 1] = "";
  GetDlgItemTextA(Portal_Window, id, text, sizeof text);
  return text;
}

// The shown portal's buttons hold more than its default entry.
int Portal_Decoded() {
  for (int id = First_Entry_Button_Id + 1; id <= Last_Entry_Button_Id; ++id)
    if (!Caption(id).empty())
      return 1;
  return Caption(First_Entry_Button_Id) !=
         Portal_Constants_Table[static_cast<std::size_t>(Portal_Shown)].Default_Name;
}

int Tune_Answered() {
  return Tune_Answers > Answers_Before;
}

// Waits for the shown portal's list, then says what the buttons show.
void Log_Captions() {
  const bool decoded = Pump_Until(Portal_Decoded, Decode_Wait_Ms);
  std::string line;
  for (int id = First_Entry_Button_Id; id <= Last_Entry_Button_Id; ++id) {
    const std::string caption = Caption(id);
    if (!caption.empty())
      line += (line.empty() ? "" : " | ") + caption;
  }
  if (decoded)
    Log("window: portal %d shows %s", Portal_Shown, line.c_str());
  else
    Log("window: portal %d shows its default entry, %s: its list has not come", Portal_Shown,
        line.c_str());
}

void Click(int id) {
  SendMessageA(GetDlgItem(Portal_Window, id), BM_CLICK, 0, 0);
  Host_Pump_For(50);
}

// The entry button to press: entry Pressed_Entry if it has a caption, else
// entry 0.
int Entry_To_Press() {
  const int third = First_Entry_Button_Id + Pressed_Entry;
  return Caption(third).empty() ? First_Entry_Button_Id : third;
}

bool Time_Is_Up() {
  if (Walk_Time_Left() > 0)
    return false;
  Log("walk: %d seconds are up; it ends here", Options.Headless_Seconds);
  return true;
}

// As a viewer would: open the portal window, ">>" through every portal back
// to the first, press an entry. Each wait ends when the time is up.
void Walk_Portal_Window() {
  Log("walk: for %d seconds, as a viewer would: open the portal window, >> through the portals, "
      "press entry %d",
      Options.Headless_Seconds, Pressed_Entry);
  SendMessageA(Host_Main_Window, WM_COMMAND, Active_Menu_Item_Id, 0);
  if (!Pump_Until(Portal_Open, Window_Wait_Ms)) {
    if (Time_Is_Up())
      return;
    Fail("the portal window did not open", Failure_Status);
  }
  RECT host;
  GetWindowRect(Host_Main_Window, &host);
  SetWindowPos(Portal_Window, nullptr, host.right + 10, host.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  for (int step = 0; step < Portal_Total; ++step) {
    Log_Captions();
    if (Time_Is_Up())
      return;
    Log("viewer: >>");
    Click(Next_Portal_Button_Id);
    Portal_Shown = (Portal_Shown + 1) % Portal_Total;
  }
  Log_Captions();
  if (Time_Is_Up())
    return;
  const int entry = Entry_To_Press();
  Log("viewer: entry %d \"%s\"", entry - First_Entry_Button_Id, Caption(entry).c_str());
  Answers_Before = Tune_Answers;
  Click(entry);
  if (!Pump_Until(Tune_Answered, Channel_Wait_Ms) && !Time_Is_Up())
    Log("host: the entry asked for no switch");
}

// Both windows, or the host's alone when the portal window never opened.
void Take_Screenshot() {
  RECT both;
  GetWindowRect(Host_Main_Window, &both);
  if (Portal_Window != nullptr) {
    RECT host = both, portal;
    GetWindowRect(Portal_Window, &portal);
    UnionRect(&both, &host, &portal);
  }
  InflateRect(&both, 10, 10);
  if (both.left < 0)
    both.left = 0;
  if (both.top < 0)
    both.top = 0;
  RedrawWindow(nullptr, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Host_Pump_For(200);
  if (Write_Screenshot(both, Options.Screenshot))
    Log("screenshot: taken");
  else
    Log("screenshot: could not write %s", Options.Screenshot);
}

} // namespace

int Run_Headless() {
  Walk_Portal_Window();
  Host_Pump_For(Walk_Time_Left()); // playing on until the time is up
  Take_Screenshot();
  Log("host: closes the plug-in (On_Exit)");
  Plugin.On_Exit();
  Log("host: played the capture %ld times through", static_cast<long>(Demo_Player_Loops));
  return 0;
}
