// The demo host's main window: its controls, menus and window procedure.
#include "demo/demo_window.h"

#include "demo/demo_commands.h"
#include "demo/demo_log.h"
#include "host/stand_in_host.h"
#include "module/resource_ids.h"

#include <cstdio>
#include <string>

namespace {

constexpr int Channel_Menu_First_Id = 41000;
constexpr int Channel_Menu_Capacity = 64;
constexpr int Channel_Label_Id = 1;
constexpr int Log_List_Id = 2;

HWND Log_List = nullptr;

void On_Menu_Command(int id) {
  if (id == Active_Menu_Item_Id) {
    Log("viewer: menu Pictolandrum > Active (On_Menu_Select)");
    Plugin.On_Menu_Select(static_cast<uint32_t>(id));
  } else if (id >= Channel_Menu_First_Id &&
             id < Channel_Menu_First_Id + static_cast<int>(Capture.Channels.size())) {
    const Demo_Channel &channel =
        Capture.Channels[static_cast<std::size_t>(id - Channel_Menu_First_Id)];
    Log("viewer: menu Channels > transport stream %u, service %u", channel.Transport_Stream_Id,
        channel.Service_Id);
    Tune(channel.Transport_Stream_Id, channel.Service_Id);
  }
}

void Lay_Out(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  MoveWindow(Channel_Label, 6, 6, client.right - 12, 16, TRUE);
  MoveWindow(Log_List, 0, 28, client.right, client.bottom - 28, TRUE);
  Fit_Log_To_List();
}

LRESULT CALLBACK Demo_Window_Proc(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  switch (message) {
  case Host_Message:
    return On_Host_Command(window, w_param, l_param);
  case Tune_Message:
    Tune(static_cast<uint16_t>(w_param), static_cast<uint16_t>(l_param));
    return 0;
  case WM_COMMAND:
    if (l_param == 0)
      On_Menu_Command(LOWORD(w_param));
    return 0;
  case WM_HOTKEY:
    Log("viewer: hot key Ctrl+Alt+P (On_Hot_Key)");
    Plugin.On_Hot_Key();
    return 0;
  case WM_SIZE:
    Lay_Out(window);
    return 0;
  case WM_ERASEBKGND: { // the stand-in host's class has no background brush
    RECT client;
    GetClientRect(window, &client);
    FillRect(reinterpret_cast<HDC>(w_param), &client, GetSysColorBrush(COLOR_BTNFACE));
    return 1;
  }
  case WM_CLOSE:
    Log("host: closes the plug-in (On_Exit)");
    Plugin.On_Exit();
    DestroyWindow(window);
    return 0;
  case WM_DESTROY:
    PostQuitMessage(0);
    return 0;
  default:
    return CallWindowProcA(Stand_In_Proc, window, message, w_param, l_param);
  }
}

// The menu bar: the plug-in's own "EXTERN" menu as "Pictolandrum", and the
// capture's channels.
HMENU Make_Menu() {
  HMENU bar = CreateMenu();
  HMENU plugin_menu = LoadMenuA(Plugin.Module, Host_Menu_Name);
  if (plugin_menu == nullptr) {
    plugin_menu = CreatePopupMenu();
    AppendMenuA(plugin_menu, MF_STRING, Active_Menu_Item_Id, "Active");
  }
  AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(plugin_menu), "&Pictolandrum");
  HMENU channels = CreatePopupMenu();
  for (std::size_t i = 0; i < Capture.Channels.size() && i < Channel_Menu_Capacity; ++i) {
    char text[64];
    std::snprintf(text, sizeof text, "Transport stream %u, service %u",
                  Capture.Channels[i].Transport_Stream_Id, Capture.Channels[i].Service_Id);
    AppendMenuA(channels, MF_STRING, Channel_Menu_First_Id + i, text);
  }
  AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(channels), "&Channels");
  return bar;
}

HWND Add_Child(HWND parent, const char *window_class, DWORD style, int id) {
  HWND child = CreateWindowA(window_class, "", WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             GetModuleHandleA(nullptr), nullptr);
  SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 0);
  return child;
}

} // namespace

void Make_Main_Window() {
  HWND window = Host_Create_Window();
  if (window == nullptr) {
    char display[128] = "";
    const bool named = GetEnvironmentVariableA("DISPLAY", display, sizeof display) > 0;
    Fail(std::string("cannot open a window ") +
             (named ? "on the display '" + std::string(display) + "' (DISPLAY)"
                    : "without a display (DISPLAY is not set)") +
             "; to run the demo without one, give ./run or demo/run-demo.sh --headless SECONDS",
         Failure_Status);
  }
  Stand_In_Proc = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Demo_Window_Proc)));
  SetWindowTextA(window, "Pictolandrum demo host");
  Channel_Label = Add_Child(window, "STATIC", SS_LEFTNOWORDWRAP, Channel_Label_Id);
  Log_List =
      Add_Child(window, "LISTBOX", WS_VSCROLL | WS_BORDER | LBS_NOINTEGRALHEIGHT, Log_List_Id);
  Show_Log_In(Log_List);
  SetMenu(window, Make_Menu());
  SetWindowPos(window, nullptr, 10, 10, 800, 480, SWP_NOZORDER);
  Lay_Out(window);
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
}
