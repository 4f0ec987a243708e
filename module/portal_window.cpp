// The portal window: opening and closing, its dialog procedure (entry
// buttons, ">>", TOPMOST, the close box) and the caption refresh.
//
// Everything here runs on the host's window thread. Table entries are read
// whole through Copy_Portal_Entry, so a switch request always carries one
// entry's own pair of ids even while the decoder rewrites the table.
#include "module/portal_window.h"

#include "core/host_rules.h"
#include "core/portal_lock.h"
#include "core/portal_table.h"
#include "core/section_decoder.h"
#include "module/module_state.h"
#include "module/resource_ids.h"

void Toggle_Window() {
  if (Dialog_Window != nullptr) {
    Close_Window();
    return;
  }
  if (Exiting)
    return;
  Dialog_Window = CreateDialogParamA(Instance_Handle, MAKEINTRESOURCEA(Portal_Dialog_Template_Id),
                                     nullptr, Portal_Dialog_Proc, 0);
}

void Close_Window() {
  if (Dialog_Window == nullptr)
    return;
  DestroyWindow(Dialog_Window);
  Dialog_Window = nullptr;
}

void Refresh_Captions() {
  if (Dialog_Window == nullptr)
    return;
  const Portal_Row row = Copy_Portal_Row(Current_Portal);
  for (int i = 0; i < Portal_Entry_Total; ++i)
    SetWindowTextA(GetDlgItem(Dialog_Window, First_Entry_Button_Id + i), row[i].Name);
}

// Moves the window to the remembered position, keeping its size.
static void Place_Window(HWND window, HWND insert_after) {
  SetWindowPos(window, insert_after, Window_X, Window_Y, -1, -1, SWP_NOSIZE);
}

// On the portal transport stream the opening asks for the filter (again, if
// it already runs) and keeps the table; anywhere else the table goes back to
// its defaults and portal 0.
static INT_PTR On_Init_Dialog(HWND window) {
  Place_Window(window, Topmost ? HWND_TOPMOST : HWND_TOP);
  CheckDlgButton(window, Topmost_Check_Box_Id, Topmost);
  if (Current_Channel.Transport_Stream_Id == Portal_Transport_Stream_Id)
    Start_Host_Filter();
  else
    Reset_Portal_Table();
  Plugin_Decoder.Scan_Idle = 0;
  return TRUE;
}

// The close box: stop a running filter and disarm the decoder. Returning 0
// lets the dialog manager turn the close into IDCANCEL.
static INT_PTR On_Close() {
  if (Filter_Running) {
    Stop_Host_Filter();
    Plugin_Decoder.Scan_Idle = 1;
  }
  return FALSE;
}

// Entry button i: a button beyond the portal's count (i > Portal_Count; the
// button at index Portal_Count still acts) does nothing at all; the others
// ask the host to switch when the entry names a service, and re-arm the
// decoder.
static INT_PTR On_Entry_Button(int32_t index) {
  const int32_t portal = Current_Portal;
  const Entry_Button_Outcome outcome =
      Entry_Button_Press(Read_Portal_Count(portal), index, Copy_Portal_Entry(portal, index));
  if (outcome.Switches) {
    Switch_Request = outcome.Request;
    Send_Host_Command(HOST_SWITCH_SERVICE, reinterpret_cast<uintptr_t>(&Switch_Request));
  }
  if (outcome.Re_Arms)
    Plugin_Decoder.Scan_Idle = 0;
  return TRUE;
}

// ">>": the next portal, after the last the first.
static INT_PTR On_Next_Portal() {
  {
    Portal_Lock_Scope lock;
    Current_Portal = Next_Portal(Current_Portal);
  }
  Refresh_Captions();
  Plugin_Decoder.Scan_Idle = 0;
  return TRUE;
}

static INT_PTR On_Topmost(HWND window) {
  Topmost = 1 - Topmost;
  CheckDlgButton(window, Topmost_Check_Box_Id, Topmost);
  Place_Window(window, Topmost ? HWND_TOPMOST : HWND_NOTOPMOST);
  return TRUE;
}

// IDOK and IDCANCEL (where the close box ends up): stop a running filter
// and close.
static INT_PTR On_Dismiss(HWND window) {
  if (Filter_Running)
    Stop_Host_Filter();
  DestroyWindow(window);
  Dialog_Window = nullptr;
  return TRUE;
}

static INT_PTR On_Command(HWND window, int id) {
  if (id >= First_Entry_Button_Id && id <= Last_Entry_Button_Id)
    return On_Entry_Button(id - First_Entry_Button_Id);
  switch (id) {
  case Next_Portal_Button_Id:
    return On_Next_Portal();
  case Topmost_Check_Box_Id:
    return On_Topmost(window);
  case IDOK:
  case IDCANCEL:
    return On_Dismiss(window);
  default:
    return FALSE;
  }
}

INT_PTR CALLBACK Portal_Dialog_Proc(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  switch (message) {
  case WM_INITDIALOG:
    return On_Init_Dialog(window);
  case WM_WINDOWPOSCHANGED: {
    const WINDOWPOS *position = reinterpret_cast<const WINDOWPOS *>(l_param);
    Window_X = position->x;
    Window_Y = position->y;
    return FALSE;
  }
  case WM_CLOSE:
    return On_Close();
  case WM_COMMAND:
    return On_Command(window, LOWORD(w_param));
  default:
    return FALSE;
  }
}
