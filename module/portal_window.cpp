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
  Session_Window_Created(Dialog_Window != nullptr);
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
void Place_Window(HWND window, HWND insert_after) {
  SetWindowPos(window, insert_after, Window_X, Window_Y, -1, -1, SWP_NOSIZE);
}

// The captions keep the template's texts until the next tick or ">>".
INT_PTR On_Init_Dialog(HWND window) {
  Place_Window(window, Topmost ? HWND_TOPMOST : HWND_TOP);
  CheckDlgButton(window, Topmost_Check_Box_Id, Topmost);
  Carry_Out_Window_Orders(Session_Window_Init());
  return TRUE;
}

INT_PTR On_Topmost(HWND window) {
  const int32_t topmost = Session_Toggle_Topmost();
  CheckDlgButton(window, Topmost_Check_Box_Id, topmost);
  Place_Window(window, topmost ? HWND_TOPMOST : HWND_NOTOPMOST);
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
    const WINDOWPOS *position = reinterpret_cast<const WINDOWPOS *>(l_param);
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
