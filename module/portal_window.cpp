// The portal window: opening and closing, its dialog procedure (entry
// buttons, ">>", TOPMOST, the close box) and the caption refresh. What each
// event does to the plug-in is the session's; here is only the window.
//
// Everything here runs on the host's window thread.
#include "module/portal_window.h"

#include "core/plugin_state.h"
#include "core/portal_table.h"
#include "module/host_commands.h"
#include "module/resource_ids.h"

HINSTANCE Instance_Handle = nullptr;

namespace {

HWND Dialog_Window = nullptr; // the open portal window, or null

INT_PTR CALLBACK Portal_Dialog_Proc(HWND window, UINT message, WPARAM w_param, LPARAM l_param);

void Open_Window() {
  Dialog_Window = CreateDialogParamA(Instance_Handle, MAKEINTRESOURCEA(Portal_Dialog_Template_Id),
                                     nullptr, Portal_Dialog_Proc, 0);
  Carry_Out_Window_Orders(Session_Window_Created(Dialog_Window != nullptr));
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

void Place_Window(HWND window, HWND insert_after, LONG x, LONG y) {
  SetWindowPos(window, insert_after, x, y, -1, -1, SWP_NOSIZE);
}

// x + size, kept within a LONG (a position from the file may be near its end).
LONG Moved_By(LONG x, LONG size) {
  const int64_t sum = int64_t{x} + size;
  return sum > INT32_MAX ? INT32_MAX : static_cast<LONG>(sum);
}

// Whether any part of the window, placed at x, y, lies on a monitor.
bool On_A_Monitor(const RECT &window, LONG x, LONG y) {
  const RECT placed{x, y, Moved_By(x, window.right - window.left),
                    Moved_By(y, window.bottom - window.top)};
  return MonitorFromRect(&placed, MONITOR_DEFAULTTONULL) != nullptr;
}

// Where the window opens: at the remembered place if any part of it lies on
// a monitor there, for a position file from another monitor setup must not
// hide it; else at the default place; else at the corner of the primary
// monitor's work area.
POINT Opening_Place(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  if (On_A_Monitor(rect, Window_X, Window_Y))
    return POINT{Window_X, Window_Y};
  if (On_A_Monitor(rect, Default_Window_X, Default_Window_Y))
    return POINT{Default_Window_X, Default_Window_Y};
  MONITORINFO primary{};
  primary.cbSize = sizeof primary;
  GetMonitorInfoA(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &primary);
  return POINT{primary.rcWork.left, primary.rcWork.top};
}

// The captions keep the template's texts until the next tick or ">>".
INT_PTR On_Init_Dialog(HWND window) {
  const POINT place = Opening_Place(window);
  Place_Window(window, Topmost ? HWND_TOPMOST : HWND_TOP, place.x, place.y);
  CheckDlgButton(window, Topmost_Check_Box_Id, Topmost);
  Carry_Out_Window_Orders(Session_Window_Init());
  return TRUE;
}

INT_PTR On_Topmost(HWND window) {
  const int32_t topmost = Session_Toggle_Topmost();
  CheckDlgButton(window, Topmost_Check_Box_Id, topmost);
  Place_Window(window, topmost ? HWND_TOPMOST : HWND_NOTOPMOST, Window_X, Window_Y);
  return TRUE;
}

INT_PTR On_Command(HWND window, int id) {
  if (id >= First_Entry_Button_Id && id <= Last_Entry_Button_Id) {
    Carry_Out_Window_Orders(Session_Entry_Pressed(id - First_Entry_Button_Id));
    return TRUE;
  }
  switch (id) {
  case Next_Portal_Button_Id:
    Carry_Out_Window_Orders(Session_Next_Portal());
    return TRUE;
  case Topmost_Check_Box_Id:
    return On_Topmost(window);
  case IDOK:
  case IDCANCEL: // where the close box ends up
    Carry_Out_Window_Orders(Session_Window_Dismissed());
    return TRUE;
  default:
    return FALSE;
  }
}

INT_PTR CALLBACK Portal_Dialog_Proc(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  switch (message) {
  case WM_INITDIALOG:
    return On_Init_Dialog(window);
  case WM_WINDOWPOSCHANGED: {
    // A minimised window reports where its icon is, which is no place to
    // open at; the place it had on the screen is kept.
    const WINDOWPOS *position = reinterpret_cast<const WINDOWPOS *>(l_param);
    if (!IsIconic(window))
      Session_Window_Moved(position->x, position->y);
    return FALSE;
  }
  case WM_CLOSE:
    // Returning 0 lets the dialog manager turn the close into IDCANCEL.
    Carry_Out_Window_Orders(Session_Close_Box());
    return FALSE;
  case WM_COMMAND:
    return On_Command(window, LOWORD(w_param));
  default:
    return FALSE;
  }
}

} // namespace

void Carry_Out_Window_Orders(const Shell_Orders &orders) {
  if (orders.Window == Window_Order::Open)
    Open_Window();
  else if (orders.Window == Window_Order::Close)
    Close_Window();
  if (orders.Refresh_Captions)
    Refresh_Captions();
  Send_Host_Command(orders.Command);
}
