// pictolandrum-demo: the stand-in host as a receiver without a satellite
// card. It loads Pictolandrum.dll, offers the plug-in's menu entry and a hot
// key, plays a capture (the bundled sample or a .ts file) through the
// filter from a thread of its own, acts on the plug-in's commands (filter
// start and stop, service switches among the capture's channels) and shows
// what happens in its main window and on stdout: what the viewer asked,
// what the plug-in asked of the host, what the host did and what the portal
// window shows. With --headless SECONDS it walks through the portal window
// by itself, takes a screenshot and exits when SECONDS have passed, however
// far the walk got.
#include "core/portal_table.h"
#include "demo/demo_capture.h"
#include "host/screenshot.h"
#include "host/stand_in_host.h"
#include "module/resource_ids.h"
#include "stream/latin1_text.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

struct Demo_Options {
  const char *Capture_Path = nullptr; // null: the bundled sample
  const char *Module = "Pictolandrum.dll";
  const char *Screenshot = "demo-screenshot.bmp";
  bool Fast = false;
  int Headless_Seconds = 0; // 0: a normal window until closed
};

constexpr UINT Tune_Message = WM_APP + 1; // wParam transport stream, lParam service
constexpr int Channel_Menu_First_Id = 41000;
constexpr int Channel_Menu_Capacity = 64;
constexpr int Channel_Label_Id = 1;
constexpr int Log_List_Id = 2;
constexpr int Hot_Key_Id = 1;
constexpr uint16_t Start_Transport_Stream = 4;
constexpr uint16_t Start_Service = 18;
constexpr int Normal_Packets_Per_Period = 5; // 250 packets/s: about 376 kbit/s
constexpr int Fast_Packets_Per_Period = 80;
constexpr DWORD Window_Wait_Ms = 5000;
constexpr DWORD Decode_Wait_Ms = 8000; // a pass of the capture and a caption refresh
constexpr DWORD Channel_Wait_Ms = 3000;
// Headless: the screenshot and the plug-in's end take this long, so the
// walk ends this much before the time is up.
constexpr DWORD Finish_Ms = 300;
// The entry the walk presses, numbered from 0 as portal-scan lists them.
constexpr int Pressed_Entry = 2;

Demo_Options Options;
Demo_Capture Capture;
WNDPROC Stand_In_Proc = nullptr;
HWND Channel_Label = nullptr;
HWND Log_List = nullptr;
DWORD Start_Tick = 0;
uint16_t Tuned_Transport_Stream = 0;
uint16_t Tuned_Service = 0;
int Tune_Answers = 0; // switch requests answered (tuned or refused)

// ---- the log ----------------------------------------------------------------

// Every line starts with the seconds since the start, right-aligned for up to
// a day (--headless at most), then the text. In the window the lines are
// wrapped at spaces to the list's width, continued under the text.
constexpr int Log_Time_Width = 11; // five digits of seconds, three of milliseconds, two spaces
constexpr int Log_Min_Columns = Log_Time_Width + 20;
HFONT Log_Font = nullptr; // fixed pitch, so the times line up
int Log_Columns = 80;     // characters a line of the list holds

void Add_Log_Item(const std::string &text) {
  const LRESULT index =
      SendMessageA(Log_List, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  SendMessageA(Log_List, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
}

void Show_Wrapped(std::string rest) {
  const std::size_t width = static_cast<std::size_t>(std::max(Log_Columns, Log_Min_Columns));
  std::string indent;
  for (;;) {
    const std::size_t room = width - indent.size();
    if (rest.size() <= room) {
      Add_Log_Item(indent + rest);
      return;
    }
    std::size_t cut = rest.rfind(' ', room);
    if (cut == std::string::npos || cut <= (indent.empty() ? Log_Time_Width : 0))
      cut = room; // one word longer than the line: cut inside it
    Add_Log_Item(indent + rest.substr(0, cut));
    rest.erase(0, rest.find_first_not_of(' ', cut));
    indent.assign(Log_Time_Width, ' ');
  }
}

void Log(const char *format, ...) {
  char text[512];
  const DWORD ms = GetTickCount() - Start_Tick;
  const int head = std::snprintf(text, sizeof text, "%5lu.%03lu  ", ms / 1000, ms % 1000);
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text + head, sizeof text - head, format, arguments);
  va_end(arguments);
  std::printf("%s\n", Utf8_From_Latin1(text).c_str()); // captions are ISO-8859-1
  std::fflush(stdout);
  if (Log_List != nullptr)
    Show_Wrapped(text);
}

// A bad capture or module exits as the other tools' bad input does; the
// demo failing to run here exits 1.
constexpr int Input_Error_Status = 2;
constexpr int Failure_Status = 1;

[[noreturn]] void Fail(const std::string &reason, int status = Input_Error_Status) {
  std::fprintf(stderr, "pictolandrum-demo: %s\n", reason.c_str());
  std::exit(status);
}

void Show_Channel() {
  char text[160];
  std::snprintf(text, sizeof text, "Current channel: transport stream %u, service %u    filter %s",
                Tuned_Transport_Stream, Tuned_Service, Host_Filter_Open ? "running" : "stopped");
  SetWindowTextA(Channel_Label, text);
}

// ---- acting on the plug-in's commands --------------------------------------

void Log_Command(uint32_t command, uint32_t argument) {
  if (command == HOST_START_FILTER && argument != 0) {
    const auto *request = reinterpret_cast<const Filter_Request_Record *>(argument);
    Log("plug-in: asks for a filter on PID 0x%04X named \"%.34s\" (HOST_START_FILTER)",
        request->Pid, request->Name);
  } else if (command == HOST_STOP_FILTER) {
    Log("plug-in: asks to stop its filter (HOST_STOP_FILTER)");
  } else if (command == HOST_SWITCH_SERVICE && argument != 0) {
    const auto *request = reinterpret_cast<const Switch_Request_Record *>(argument);
    Log("plug-in: asks to switch to transport stream %u, service %u (HOST_SWITCH_SERVICE)",
        request->Transport_Stream_Id, request->Service_Id);
  } else {
    Log("plug-in: sends command 0x%08X (argument 0x%08X), which this host does not know", command,
        argument);
  }
}

LRESULT On_Host_Command(HWND window, WPARAM w_param, LPARAM l_param) {
  const auto command = static_cast<uint32_t>(w_param);
  const auto argument = static_cast<uint32_t>(l_param);
  Log_Command(command, argument);
  const LRESULT result = CallWindowProcA(Stand_In_Proc, window, Host_Message, w_param, l_param);
  if (command == HOST_START_FILTER && Host_Filter_Open)
    Log("host: filter running on PID 0x%04X", Eit_Pid);
  else if (command == HOST_STOP_FILTER)
    Log(Host_Filter_Open ? "host: no filter of its has that handle; the filter keeps running"
                         : "host: filter stopped");
  if (command == HOST_SWITCH_SERVICE && argument != 0) { // tune once the request has returned
    const auto *request = reinterpret_cast<const Switch_Request_Record *>(argument);
    PostMessageA(window, Tune_Message, request->Transport_Stream_Id, request->Service_Id);
  }
  Show_Channel();
  return result;
}

void Tune(uint16_t transport_stream_id, uint16_t service_id) {
  ++Tune_Answers;
  if (!Demo_Channel_Known(Capture, transport_stream_id, service_id)) {
    Log("host: the capture has no transport stream %u, service %u; staying on %u/%u",
        transport_stream_id, service_id, Tuned_Transport_Stream, Tuned_Service);
    return;
  }
  Tuned_Transport_Stream = transport_stream_id;
  Tuned_Service = service_id;
  Host_Change_Channel(transport_stream_id, service_id);
  Log("host: tuned to transport stream %u, service %u (On_Channel_Change); filter %s",
      transport_stream_id, service_id, Host_Filter_Open ? "running" : "stopped");
  Show_Channel();
}

// ---- the main window -------------------------------------------------------

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
  RECT list;
  GetClientRect(Log_List, &list);
  HDC context = GetDC(Log_List);
  HGDIOBJ previous = SelectObject(context, Log_Font);
  TEXTMETRICA metrics;
  if (GetTextMetricsA(context, &metrics) && metrics.tmAveCharWidth > 0)
    Log_Columns = (list.right - 4) / metrics.tmAveCharWidth;
  SelectObject(context, previous);
  ReleaseDC(Log_List, context);
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
  Log_Font =
      CreateFontA(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, "Courier New");
  if (Log_Font != nullptr)
    SendMessageA(Log_List, WM_SETFONT, reinterpret_cast<WPARAM>(Log_Font), 0);
  SetMenu(window, Make_Menu());
  SetWindowPos(window, nullptr, 10, 10, 800, 480, SWP_NOZORDER);
  Lay_Out(window);
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
}

// ---- loading and starting --------------------------------------------------

void Load_Plugin() {
  if (!Host_Load_Plugin(Options.Module))
    Fail(std::string("cannot load ") + Options.Module + " (error " +
         std::to_string(GetLastError()) + ")");
  const struct {
    const void *Entry;
    const char *Name;
  } needed[] = {{reinterpret_cast<const void *>(Plugin.On_Start), "On_Start"},
                {reinterpret_cast<const void *>(Plugin.On_Exit), "On_Exit"},
                {reinterpret_cast<const void *>(Plugin.On_Channel_Change), "On_Channel_Change"},
                {reinterpret_cast<const void *>(Plugin.On_Filter_Close), "On_Filter_Close"},
                {reinterpret_cast<const void *>(Plugin.On_Hot_Key), "On_Hot_Key"},
                {reinterpret_cast<const void *>(Plugin.On_Menu_Select), "On_Menu_Select"}};
  for (const auto &entry : needed)
    if (entry.Entry == nullptr)
      Fail(std::string(Options.Module) + " does not export " + entry.Name);
}

void Start_Receiver() {
  Log("capture: %s, %llu packets, %llu on PID 0x0012, %u channels",
      Capture.Path.empty() ? "the bundled sample" : Capture.Path.c_str(),
      static_cast<unsigned long long>(Capture.Packets),
      static_cast<unsigned long long>(Capture.Eit_Packets),
      static_cast<unsigned>(Capture.Channels.size()));
  char letter = 0;
  int32_t word = -1;
  Host_Start_Plugin(0x5044, &letter, &word);
  Log("host: %s loaded and started (On_Start)", Options.Module);
  Add_Demo_Channel(Capture, Start_Transport_Stream, Start_Service);
  Tune(Start_Transport_Stream, Start_Service);
  if (RegisterHotKey(Host_Main_Window, Hot_Key_Id, MOD_CONTROL | MOD_ALT, 'P'))
    Log("host: the portal window opens with the menu Pictolandrum > Active or the hot key "
        "Ctrl+Alt+P");
  else
    Log("host: the portal window opens with the menu Pictolandrum > Active (Ctrl+Alt+P is "
        "taken)");
  const int packets = Options.Fast ? Fast_Packets_Per_Period : Normal_Packets_Per_Period;
  if (!Start_Demo_Player(Capture, packets))
    Fail("cannot start the player thread", Failure_Status);
  Log("host: plays the capture's PID 0x%04X packets to the filter, %lu a second, looping", Eit_Pid,
      packets * 1000 / Play_Period_Ms);
}

void Stop_Receiver() {
  Stop_Demo_Player();
  Host_Unload_Plugin();
}

// ---- the headless walk through the portal window ----------------------------

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

int Run_Headless() {
  Walk_Portal_Window();
  Host_Pump_For(Walk_Time_Left()); // playing on until the time is up
  Take_Screenshot();
  Log("host: closes the plug-in (On_Exit)");
  Plugin.On_Exit();
  Log("host: played the capture %ld times through", static_cast<long>(Demo_Player_Loops));
  return 0;
}

int Run_Window() {
  Log("host: ready; close this window to end the demo");
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}

// ---- the command line -------------------------------------------------------

constexpr char Usage_Text[] =
    "usage: pictolandrum-demo [--fast] [--headless SECONDS] [--screenshot FILE.bmp] "
    "[--module DLL] [CAPTURE.ts]\n"
    "Plays a capture (default: the bundled sample) through the plug-in as a receiver would.\n"
    "  --fast                 16 times the normal pace (4000 packets a second)\n"
    "  --headless SECONDS     walk through the portal window, play until SECONDS have passed,\n"
    "                         write the screenshot and exit\n"
    "  --screenshot FILE.bmp  where --headless writes its screenshot (default "
    "demo-screenshot.bmp)\n"
    "  --module DLL           the plug-in to load (default Pictolandrum.dll)\n"
    "  --                     take the next argument as CAPTURE.ts even if it starts with '-'\n"
    "  -h, --help             print this help and exit\n"
    "  --version              print the version and exit\n";
constexpr int Usage_Status = 2;
// The limit ./run and demo/run-demo.sh hold too, set once in
// demo/demo-options.sh (demo/CMakeLists.txt hands it over).
constexpr long Headless_Max_Seconds = Picto_Headless_Max_Seconds;

[[noreturn]] void Usage_Error(const std::string &reason) {
  std::fprintf(stderr, "pictolandrum-demo: %s (see --help)\n", reason.c_str());
  std::exit(Usage_Status);
}

// A whole number of seconds from 1 to Headless_Max_Seconds.
int Headless_Seconds(const std::string &text) {
  char *end = nullptr;
  const long seconds = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || text[0] < '0' || text[0] > '9' || *end != '\0' || seconds < 1 ||
      seconds > Headless_Max_Seconds)
    Usage_Error("--headless: not a whole number of seconds from 1 to " +
                std::to_string(Headless_Max_Seconds) + ": '" + text + "'");
  return static_cast<int>(seconds);
}

// Prints the help or the version, exit 0; 2 if standard output cannot be
// written.
[[noreturn]] void Answer(const char *text) {
  const bool written = std::fputs(text, stdout) >= 0 && std::fflush(stdout) == 0;
  if (!written)
    Fail("cannot write to standard output", Usage_Status);
  std::exit(0);
}

void Read_Options(int argc, char **argv) {
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0)
      Answer(Usage_Text);
    if (std::strcmp(argv[i], "--version") == 0)
      Answer("pictolandrum-demo (Pictolandrum) " Picto_Version "\n");
  }
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    const bool takes_value =
        option == "--headless" || option == "--screenshot" || option == "--module";
    if (!options_done && takes_value && i + 1 >= argc)
      Usage_Error(option + " needs a value");
    if (options_done || option.empty() || option[0] != '-') {
      if (Options.Capture_Path != nullptr)
        Usage_Error("unexpected argument '" + option + "' (one capture at most)");
      Options.Capture_Path = argv[i];
    } else if (option == "--") {
      options_done = true;
    } else if (option == "--fast") {
      Options.Fast = true;
    } else if (option == "--headless") {
      Options.Headless_Seconds = Headless_Seconds(argv[++i]);
    } else if (option == "--screenshot") {
      Options.Screenshot = argv[++i];
    } else if (option == "--module") {
      Options.Module = argv[++i];
    } else {
      Usage_Error("unknown option '" + option + "'");
    }
  }
}

} // namespace

int main(int argc, char **argv) {
  Start_Tick = GetTickCount();
  Read_Options(argc, argv);
  std::string error;
  if (!Load_Demo_Capture(Capture, Options.Capture_Path, error))
    Fail(error);
  Load_Plugin();
  Make_Main_Window();
  Start_Receiver();
  const int status = Options.Headless_Seconds > 0 ? Run_Headless() : Run_Window();
  Stop_Receiver();
  if (std::fflush(stdout) != 0 || std::ferror(stdout))
    Fail("cannot write the log to standard output", Usage_Status);
  return status;
}
