// The portal window under Wine, driven through the stand-in host with real
// window messages: the hot key and menu entry points, button clicks, the
// close box. Each scenario runs in a process of its own (the argument names
// it) in a folder holding this program and a copy of the module; the
// commands the host receives are checked byte for byte.
#include "core/portal_table.h"
#include "host/screenshot.h"
#include "host/stand_in_host.h"
#include "module/resource_ids.h"
#include "stream/eit_writer.h"
#include "stream/section_reassembler.h"
#include "stream/ts_reader.h"
#include "stream/ts_writer.h"
#include "tests/wine/wine_check.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

constexpr char Module_Name[] = "Pictolandrum.dll";
constexpr char Position_File[] = "Pictolandrum.INI";
constexpr uint32_t Start_Tag = 0x00005678;
constexpr DWORD Timer_Period_Ms = 1500;
constexpr DWORD Two_Ticks_Ms = 2 * Timer_Period_Ms + 500;
constexpr DWORD Close_Wait_Ms = 2000;
constexpr int Chunk_Size = Ts_Payload_Size; // the host hands over one payload at a time
constexpr int Caption_Size = 64;
constexpr int Default_Position = 320;
constexpr int Portal_Total_Shown = 4; // ">>" cycles through portals 0 to 3
constexpr int Entry_Button_Total = Last_Entry_Button_Id - First_Entry_Button_Id + 1;

// ---- the host's side -------------------------------------------------------

// On_Start, which answers 'G' and 0 every time.
void Start_Plugin() {
  char letter = 0;
  int32_t word = -1;
  Host_Start_Plugin(Start_Tag, &letter, &word);
  CHECK_EQ('G', letter);
  CHECK_EQ(0, word);
}

void Load_And_Start(const char *module = Module_Name) {
  if (Host_Main_Window == nullptr)
    CHECK(Host_Create_Window() != nullptr);
  CHECK(Host_Load_Plugin(module));
  CHECK(Plugin.On_Start != nullptr && Plugin.On_Exit != nullptr &&
        Plugin.On_Channel_Change != nullptr && Plugin.On_Hot_Key != nullptr &&
        Plugin.On_Menu_Select != nullptr);
  Start_Plugin();
}

void Exit_And_Unload() {
  Plugin.On_Exit();
  Host_Unload_Plugin();
}

// The commands so far, in order.
void Check_Commands(std::initializer_list<uint32_t> expected) {
  CHECK_EQ(expected.size(), Host_Log_Count);
  int index = 0;
  for (const uint32_t command : expected)
    CHECK_EQ(command, Host_Log[index++].Command);
}

// A start request carries the plug-in's Filter_Request with the EIT PID.
void Check_Start(int index) {
  const Host_Command &sent = Host_Log[index];
  CHECK_EQ(HOST_START_FILTER, sent.Command);
  CHECK_EQ(Host_Log[0].Argument, sent.Argument); // always the same record
  CHECK_EQ(Eit_Pid, sent.Filter.Pid);
  CHECK_EQ(static_cast<uint16_t>(Start_Tag), sent.Filter.Host_Tag);
  CHECK_BYTES(Plugin_Name, sent.Filter.Name, Plugin_Name_Size);
}

void Check_Stop(int index, uint32_t handle) {
  CHECK_EQ(HOST_STOP_FILTER, Host_Log[index].Command);
  CHECK_EQ(handle, Host_Log[index].Argument);
}

void Check_Switch(int index, uint32_t service_id, uint32_t transport_stream_id) {
  CHECK_EQ(HOST_SWITCH_SERVICE, Host_Log[index].Command);
  const Switch_Request_Record expected{208, service_id, transport_stream_id, 192};
  CHECK_BYTES(&expected, &Host_Log[index].Switch, sizeof expected);
}

void Write_Position_File(const char *text) {
  FILE *file = std::fopen(Position_File, "wb");
  CHECK(file != nullptr);
  std::fputs(text, file);
  CHECK_EQ(0, std::fclose(file));
}

void Check_Position_File(const char *expected) {
  char text[64] = {};
  FILE *file = std::fopen(Position_File, "rb");
  CHECK(file != nullptr);
  std::fread(text, 1, sizeof text - 1, file);
  std::fclose(file);
  CHECK_TEXT(expected, text);
}

// ---- the window --------------------------------------------------------------

HWND Open_Dialog() {
  CHECK(Portal_Window() == nullptr);
  Plugin.On_Hot_Key();
  HWND dialog = Portal_Window();
  CHECK(dialog != nullptr);
  CHECK(IsWindowVisible(dialog));
  return dialog;
}

// Loads and starts the module, tunes service 18 on transport stream 4 and
// opens the window there, which sends the one start request.
HWND Start_With_Window_Open() {
  Load_And_Start();
  Host_Change_Channel(4, 18);
  return Open_Dialog();
}

const char *Caption(int id) {
  static char text[Caption_Size];
  text[0] = '\0';
  GetDlgItemTextA(Portal_Window(), id, text, sizeof text);
  return text;
}

// The 17 entry captions: the names given, then blanks.
void Check_Captions(std::initializer_list<const char *> names) {
  int id = First_Entry_Button_Id;
  for (const char *name : names)
    CHECK_TEXT(name, Caption(id++));
  for (; id <= Last_Entry_Button_Id; ++id)
    CHECK_TEXT("", Caption(id));
}

// A click as the user makes it: the button sends BN_CLICKED to the dialog.
void Click(int id) {
  HWND button = GetDlgItem(Portal_Window(), id);
  CHECK(button != nullptr);
  SendMessageA(button, BM_CLICK, 0, 0);
}

// The close box: WM_CLOSE, then the IDCANCEL the dialog manager posts.
void Close_By_Box() {
  HWND dialog = Portal_Window();
  CHECK(dialog != nullptr);
  SendMessageA(dialog, WM_CLOSE, 0, 0);
  const DWORD start = GetTickCount();
  while (IsWindow(dialog) && GetTickCount() - start < Close_Wait_Ms)
    Host_Pump_For(0);
  CHECK(!IsWindow(dialog));
}

POINT Window_Place() {
  RECT rect{};
  GetWindowRect(Portal_Window(), &rect);
  return POINT{rect.left, rect.top};
}

bool Is_Topmost() {
  return (GetWindowLongA(Portal_Window(), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

// ---- filter data -------------------------------------------------------------

// The filter's bytes as the host hands them over: the payloads of the TS
// packets on PID 0x12, carrying a foreign EIT section and the portal's
// source section, twice, so that more than the 920 bytes the decoder waits
// for arrive behind the portal section's start.
std::vector<uint8_t> Filter_Bytes(int portal, const std::vector<Portal_Listing_Entry> &entries) {
  Eit_Section foreign = Portal_Source_Section(0, {{4, 0x0101, "Fremd"}});
  foreign.Service_Id = 0x0300;
  const Byte_Vector portal_section = Build_Eit_Section(Portal_Source_Section(portal, entries));
  Ts_Writer writer;
  for (int round = 0; round < 2; ++round) {
    Write_Section(writer, Eit_Pid, Build_Eit_Section(foreign));
    Write_Section(writer, Eit_Pid, portal_section);
    for (int i = 0; i < 3; ++i)
      Write_Section(writer, Eit_Pid, Build_Eit_Section(foreign));
  }
  return Host_Filter_Bytes(writer.Bytes, Host_Handover::Payloads);
}

const std::vector<Portal_Listing_Entry> Five_Entries = {{4, 0x2001, "Kanal Eins"},
                                                        {5, 0x2002, "Kanal Zwei"},
                                                        {6, 0x2003, "Kanal Drei"},
                                                        {0, 0x2004, "Kanal Vier"},
                                                        {8, 0x2005, "Kanal Fuenf"}};

const char *Awaited_Caption = "";
int Awaited_Caption_Shown() {
  return std::strcmp(Caption(First_Entry_Button_Id), Awaited_Caption) == 0;
}

// Delivers the portal's entries from the host's filter thread and waits (at
// most two timer ticks) until the first name stands on its button.
void Deliver_Entries(int portal, const std::vector<Portal_Listing_Entry> &entries) {
  const std::vector<uint8_t> bytes = Filter_Bytes(portal, entries);
  CHECK(Host_Deliver(bytes.data(), static_cast<int32_t>(bytes.size()), Chunk_Size, Close_Wait_Ms));
  const int ticks = Host_Timer_Ticks;
  Awaited_Caption = entries[0].Name.c_str();
  CHECK(Host_Pump_Until(Awaited_Caption_Shown, Two_Ticks_Ms));
  CHECK(Host_Timer_Ticks - ticks <= 2);
}

// ---- scenarios -----------------------------------------------------------------

// Opening on transport stream 4 starts the filter; the window comes up with
// the template's captions at the saved place, on top, without tab stops.
// Closing by hot key sends nothing, so hot key, hot key, hot key sends two
// start requests and no stop. The menu entry point acts on "Active" only.
void Open_On_Portal_Stream() {
  Load_And_Start();
  Host_Change_Channel(4, 18);
  Check_Commands({});
  HWND dialog = Open_Dialog();
  Check_Commands({HOST_START_FILTER});
  Check_Start(0);

  char title[Caption_Size];
  GetWindowTextA(dialog, title, sizeof title);
  CHECK_TEXT(" Pictolandrum", title);
  CHECK_TEXT(">>", Caption(Next_Portal_Button_Id));
  Check_Captions({"Direct Portal"});
  const POINT place = Window_Place();
  CHECK_EQ(Default_Position, place.x);
  CHECK_EQ(Default_Position, place.y);
  CHECK(Is_Topmost());
  CHECK_EQ(BST_CHECKED, IsDlgButtonChecked(dialog, Topmost_Check_Box_Id));
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT))
    CHECK_EQ(0, GetWindowLongA(child, GWL_STYLE) & WS_TABSTOP);

  Plugin.On_Hot_Key();
  CHECK(Portal_Window() == nullptr);
  Open_Dialog();
  Check_Commands({HOST_START_FILTER, HOST_START_FILTER});
  Check_Start(1);

  Plugin.On_Menu_Select(Active_Menu_Item_Id - 1);
  Plugin.On_Menu_Select(0);
  CHECK(Portal_Window() != nullptr);
  Plugin.On_Menu_Select(Active_Menu_Item_Id);
  CHECK(Portal_Window() == nullptr);
  Plugin.On_Menu_Select(Active_Menu_Item_Id);
  CHECK(Portal_Window() != nullptr);
  Check_Commands({HOST_START_FILTER, HOST_START_FILTER, HOST_START_FILTER});
  Exit_And_Unload();
}

// Before the first channel change, and on any channel off transport stream
// 4, the opening starts nothing, resets every portal to its default entry
// and shows portal 0; decoded entries are gone at the next tick.
void Open_Off_Portal_Stream() {
  Load_And_Start();
  Open_Dialog();
  Check_Commands({});
  Check_Captions({"Direct Portal"});
  Plugin.On_Hot_Key();

  Host_Change_Channel(4, 18);
  Open_Dialog();
  Deliver_Entries(0, Five_Entries);
  Click(Next_Portal_Button_Id);
  Check_Captions({"RedLight"});
  Plugin.On_Hot_Key();
  Host_Change_Channel(7, 300); // window closed: the filter stays
  Check_Commands({HOST_START_FILTER});

  Open_Dialog();
  Check_Commands({HOST_START_FILTER});
  Awaited_Caption = "Direct Portal";
  CHECK(Host_Pump_Until(Awaited_Caption_Shown, Two_Ticks_Ms));
  Check_Captions({"Direct Portal"});
  Click(First_Entry_Button_Id); // portal 0's default entry
  Click(First_Entry_Button_Id + 1);
  Check_Commands({HOST_START_FILTER, HOST_SWITCH_SERVICE});
  Check_Switch(1, 18, 4);
  Exit_And_Unload();
}

// The close box while the filter runs sends exactly one stop (WM_CLOSE);
// the IDCANCEL behind it only closes. IDOK closes too, stopping a running
// filter. After each the hot key opens the window again.
void Close_Box() {
  Start_With_Window_Open();
  Close_By_Box();
  Check_Commands({HOST_START_FILTER, HOST_STOP_FILTER});
  Check_Stop(1, Host_First_Filter_Handle);
  CHECK_EQ(0, Host_Filter_Open);

  Open_Dialog();
  Host_Change_Channel(7, 300);
  Close_By_Box();
  Check_Commands({HOST_START_FILTER, HOST_STOP_FILTER, HOST_START_FILTER, HOST_STOP_FILTER});
  Check_Stop(3, Host_First_Filter_Handle + 1);

  Open_Dialog();
  Host_Change_Channel(4, 18);
  SendMessageA(Portal_Window(), WM_COMMAND, IDOK, 0);
  CHECK(Portal_Window() == nullptr);
  CHECK_EQ(6, Host_Log_Count);
  Check_Start(4);
  Check_Stop(5, Host_First_Filter_Handle + 2);
  Open_Dialog();
  Exit_And_Unload();
}

// With the window open and the filter running, a change to one of the
// services 18, 208, 209, 210, 27 off transport stream 4 keeps the filter,
// any other service there stops it; back on transport stream 4 it starts.
void Channel_Change_Window_Open() {
  Start_With_Window_Open();
  for (const uint16_t service : {208, 18, 209, 210, 27})
    Host_Change_Channel(7, service);
  Check_Commands({HOST_START_FILTER});
  Host_Change_Channel(7, 300);
  Host_Change_Channel(7, 301);
  Check_Commands({HOST_START_FILTER, HOST_STOP_FILTER});
  Check_Stop(1, Host_First_Filter_Handle);
  Host_Change_Channel(4, 18);
  Host_Change_Channel(4, 19);
  Check_Commands({HOST_START_FILTER, HOST_STOP_FILTER, HOST_START_FILTER});
  Check_Start(2);
  Exit_And_Unload();
}

// ">>" goes through portals 0 to 3 and back to 0, refreshing the captions.
// In the default state only button 103 switches, on portals 0 to 2 (portal
// 3's default entry has no service id); the other buttons are ignored.
void Next_Portal() {
  Load_And_Start();
  Open_Dialog();
  struct Shown {
    const char *Name;
    uint32_t Service_Id; // of the default entry; 0: none
  };
  const Shown portals[] = {
      {"RedLight", 513}, {"Buli/CL Portal", 27}, {"F1/Sport 2", 0}, {"Direct Portal", 18}};
  int sent = 0;
  for (const Shown &portal : portals) {
    Click(Next_Portal_Button_Id);
    Check_Captions({portal.Name});
    for (int id = First_Entry_Button_Id; id <= Last_Entry_Button_Id; ++id)
      Click(id);
    if (portal.Service_Id != 0)
      Check_Switch(sent++, portal.Service_Id, 4);
    CHECK_EQ(sent, Host_Log_Count);
  }
  Exit_And_Unload();
}

// After a decode of five entries each of their buttons with both ids sends
// 208, the entry's service id, its transport stream id, 192; the fourth has
// no transport stream id and sends nothing, nor does button 108 (index 5,
// within the count test but without ids); 109 and later are ignored. The
// notification code of WM_COMMAND does not matter.
void Five_Entries_Decoded() {
  Start_With_Window_Open();
  Deliver_Entries(0, Five_Entries);
  Check_Captions({"Kanal Eins", "Kanal Zwei", "Kanal Drei", "Kanal Vier", "Kanal Fuenf"});
  for (int id = First_Entry_Button_Id; id <= Last_Entry_Button_Id; ++id)
    Click(id);
  CHECK_EQ(1 + 4, Host_Log_Count);
  Check_Switch(1, 0x2001, 4);
  Check_Switch(2, 0x2002, 5);
  Check_Switch(3, 0x2003, 6);
  Check_Switch(4, 0x2005, 8);
  SendMessageA(Portal_Window(), WM_COMMAND, MAKEWPARAM(First_Entry_Button_Id + 2, BN_DOUBLECLICKED),
               0);
  CHECK_EQ(1 + 5, Host_Log_Count);
  Check_Switch(5, 0x2003, 6);
  Exit_And_Unload();
}

// Hands the bytes to the data callback on this thread. Nothing here pumps
// messages, so no timer tick re-arms the decoder meanwhile.
void Feed_Directly(const std::vector<uint8_t> &bytes) {
  for (size_t at = 0; at < bytes.size(); at += Chunk_Size)
    Host_Filter_Callback(0, static_cast<int32_t>(std::min<size_t>(Chunk_Size, bytes.size() - at)),
                         bytes.data() + at);
}

std::vector<Portal_Listing_Entry> Named_Entries(const char *prefix) {
  std::vector<Portal_Listing_Entry> entries;
  for (uint16_t i = 1; i <= 5; ++i)
    entries.push_back({4, static_cast<uint16_t>(0x3000 + i), prefix + std::to_string(i)});
  return entries;
}

// Shows portal 0 again through four ">>", refreshing the captions.
void Show_Portal_0_Again() {
  for (int i = 0; i < Portal_Total_Shown; ++i)
    Click(Next_Portal_Button_Id);
}

// An entry button beyond the count does nothing at all: with five entries
// decoded (and the decoder disarmed by that), button 109 leaves it disarmed
// and the next section is thrown away; button 108 is within the count and
// re-arms it, so the next section is decoded.
void Entry_Buttons_Arm_Decoder() {
  Start_With_Window_Open();
  Feed_Directly(Filter_Bytes(0, Named_Entries("A")));
  Click(First_Entry_Button_Id + 6);
  Feed_Directly(Filter_Bytes(0, Named_Entries("B")));
  Show_Portal_0_Again();
  Check_Captions({"A1", "A2", "A3", "A4", "A5"});

  Feed_Directly(Filter_Bytes(0, Named_Entries("A")));
  Click(First_Entry_Button_Id + 5);
  Feed_Directly(Filter_Bytes(0, Named_Entries("C")));
  Show_Portal_0_Again();
  Check_Captions({"C1", "C2", "C3", "C4", "C5"});
  Check_Commands({HOST_START_FILTER});
  Exit_And_Unload();
}

// Seventeen entries with long names ("<prefix> Nummer <n>"): a section over
// three TS payloads, followed by stuffing.
std::string Long_Name(const char *prefix, int number) {
  return std::string(prefix) + " Nummer " + std::to_string(number);
}

std::vector<uint8_t> Full_Portal_Bytes(const char *prefix) {
  std::vector<Portal_Listing_Entry> entries;
  for (uint16_t i = 1; i <= Entry_Button_Total; ++i)
    entries.push_back({4, static_cast<uint16_t>(0x4000 + i), Long_Name(prefix, i)});
  Ts_Writer writer;
  Write_Section(writer, Eit_Pid, Build_Eit_Section(Portal_Source_Section(0, entries)));
  CHECK(writer.Bytes.size() >= 3 * Ts_Packet_Size);
  for (int i = 0; i < 6; ++i)
    Write_Ts_Packet(writer, Eit_Pid, false, {});
  return Host_Filter_Bytes(writer.Bytes, Host_Handover::Payloads);
}

// The close box disarms the decoder when it stops the filter: the bytes
// gathered so far are thrown away with the next chunk, so a section cut in
// two by the closing is not decoded after the reopening, which re-arms the
// decoder for the next whole section (one of 17 entries, all shown).
void Close_Box_Disarms_Decoder() {
  Start_With_Window_Open();
  const std::vector<uint8_t> cut = Full_Portal_Bytes("Halber Kanal");
  Feed_Directly(std::vector<uint8_t>(cut.begin(), cut.begin() + 2 * Chunk_Size));
  Close_By_Box();
  Feed_Directly(std::vector<uint8_t>(Chunk_Size, Stuffing_Byte)); // while closed
  Open_Dialog();
  Feed_Directly(std::vector<uint8_t>(cut.begin() + 2 * Chunk_Size, cut.end()));
  Feed_Directly(Full_Portal_Bytes("Ganzer Kanal"));
  Show_Portal_0_Again();
  for (int i = 0; i < Entry_Button_Total; ++i)
    CHECK_TEXT(Long_Name("Ganzer Kanal", i + 1).c_str(), Caption(First_Entry_Button_Id + i));
  Exit_And_Unload();
}

// A second session in one load: On_Start after On_Exit starts as the first
// did, the table back to its default entries, and works as the first: the
// channel change creates the timer again, the opening starts the filter,
// and the data fills the table and reaches the buttons.
void Restart_After_Exit() {
  Start_With_Window_Open();
  Deliver_Entries(0, Named_Entries("A"));
  Plugin.On_Exit();

  Start_Plugin();
  Host_Change_Channel(4, 18);
  Open_Dialog();
  Show_Portal_0_Again();
  Check_Captions({"Direct Portal"});
  Deliver_Entries(0, Five_Entries);
  Check_Captions({"Kanal Eins", "Kanal Zwei", "Kanal Drei", "Kanal Vier", "Kanal Fuenf"});
  Check_Commands({HOST_START_FILTER, HOST_STOP_FILTER, HOST_START_FILTER});
  Check_Start(2);
  Exit_And_Unload();
}

// On_Start twice makes one session: the window opens with one start
// request, the data decodes and On_Exit stops the one filter. A third
// On_Start, with the window closed and the filter still running, does what
// every On_Start does: the table goes back to its default entries and the
// position is read from the file.
void Start_Twice() {
  Load_And_Start();
  Start_Plugin();
  Host_Change_Channel(4, 18);
  Open_Dialog();
  Deliver_Entries(0, Five_Entries);
  Plugin.On_Hot_Key();
  Write_Position_File("WINDOWX=150;\nWINDOWY=160;\n");
  Start_Plugin();
  Open_Dialog();
  CHECK_EQ(150, Window_Place().x);
  CHECK_EQ(160, Window_Place().y);
  Show_Portal_0_Again();
  Check_Captions({"Direct Portal"});
  Plugin.On_Exit();
  Check_Commands({HOST_START_FILTER, HOST_START_FILTER, HOST_STOP_FILTER});
  Check_Start(0);
  Check_Stop(2, Host_First_Filter_Handle + 1);
  Host_Unload_Plugin();
}

// TOPMOST toggles the window's topmost state and the check mark, keeping
// the place; an opening with TOPMOST off leaves the window unchecked and
// not topmost.
void Topmost() {
  Load_And_Start();
  HWND dialog = Open_Dialog();
  CHECK(Is_Topmost());
  Click(Topmost_Check_Box_Id);
  CHECK(!Is_Topmost());
  CHECK_EQ(BST_UNCHECKED, IsDlgButtonChecked(dialog, Topmost_Check_Box_Id));
  Click(Topmost_Check_Box_Id);
  CHECK(Is_Topmost());
  CHECK_EQ(BST_CHECKED, IsDlgButtonChecked(dialog, Topmost_Check_Box_Id));
  Click(Topmost_Check_Box_Id);
  CHECK_EQ(Default_Position, Window_Place().x);
  CHECK_EQ(Default_Position, Window_Place().y);

  Plugin.On_Hot_Key();
  dialog = Open_Dialog();
  CHECK(!Is_Topmost());
  CHECK_EQ(BST_UNCHECKED, IsDlgButtonChecked(dialog, Topmost_Check_Box_Id));
  Check_Commands({});
  Exit_And_Unload();
}

// The window's place follows every move, is used at the next opening,
// written to the position file at unload and read back at the next load.
void Position() {
  DeleteFileA(Position_File);
  Load_And_Start();
  HWND dialog = Open_Dialog();
  SetWindowPos(dialog, nullptr, 111, 222, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  Plugin.On_Hot_Key();
  Open_Dialog();
  CHECK_EQ(111, Window_Place().x);
  CHECK_EQ(222, Window_Place().y);
  MoveWindow(Portal_Window(), 150, 160, 200, 300, TRUE); // also a new size
  Close_By_Box();
  Exit_And_Unload();

  Check_Position_File("WINDOWX=150;\r\nWINDOWY=160;\r\n");

  Load_And_Start();
  Open_Dialog();
  CHECK_EQ(150, Window_Place().x);
  CHECK_EQ(160, Window_Place().y);
  Exit_And_Unload();
}

// The window opens where the position file says if any part of it lies on a
// monitor there (the desktop is 1280 x 1024), and at the default place if
// none does. A window minimised when the plug-in exits keeps, in the file,
// the place it had on the screen.
void Position_On_Screen() {
  const struct {
    const char *File;
    int X, Y;
  } cases[] = {
      {"WINDOWX=5000;\nWINDOWY=200;\n", Default_Position, Default_Position},
      {"WINDOWX=-30000;\nWINDOWY=-30000;\n", Default_Position, Default_Position},
      {"WINDOWX=100;\nWINDOWY=2147483647;\n", Default_Position, Default_Position},
      {"WINDOWX=-40;\nWINDOWY=-20;\n", -40, -20},
      {"WINDOWX=1250;\nWINDOWY=1000;\n", 1250, 1000},
  };
  for (const auto &place : cases) {
    Write_Position_File(place.File);
    Load_And_Start();
    Open_Dialog();
    CHECK_EQ(place.X, Window_Place().x);
    CHECK_EQ(place.Y, Window_Place().y);
    Exit_And_Unload();
  }

  Load_And_Start();
  HWND dialog = Open_Dialog();
  SetWindowPos(dialog, nullptr, 150, 160, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ShowWindow(dialog, SW_MINIMIZE);
  CHECK(IsIconic(dialog));
  Exit_And_Unload();
  Check_Position_File("WINDOWX=150;\r\nWINDOWY=160;\r\n");
}

// ---- hosts that call back -------------------------------------------------------

// The host's answer to one command, given inside the plug-in's SendMessageA:
// what it does, to which command, and how many more times.
struct Answer {
  uint32_t Command;
  void (*Act)(uint32_t argument);
  int Left;
};
Answer Answering{};
constexpr int Every_Time = 1000;

void Answer_Command(uint32_t command, uint32_t argument) {
  if (command != Answering.Command || Answering.Left == 0)
    return;
  --Answering.Left;
  Answering.Act(argument);
}

void Answer_With(uint32_t command, void (*act)(uint32_t), int times) {
  Answering = Answer{command, act, times};
  Host_Command_Answer = Answer_Command;
}

// A host that refuses the filter by closing it inside the start request:
// the refusal wins, so every change onto transport stream 4 asks again and
// leaving it stops nothing, nor does On_Exit.
void Refusing_Host() {
  Load_And_Start();
  Host_Change_Channel(4, 18);
  Answer_With(
      HOST_START_FILTER, [](uint32_t) { Host_Close_Filter(); }, Every_Time);
  Open_Dialog();
  Host_Change_Channel(4, 19);
  Host_Change_Channel(7, 300);
  Exit_And_Unload();
  Check_Commands({HOST_START_FILTER, HOST_START_FILTER});
}

// A hot key or menu selection inside the opening's start request closes the
// window being opened: never a second window, and none is left behind; the
// next one opens a window as ever. On_Exit there leaves no window either.
void Calls_While_Opening() {
  void (*const calls[])(uint32_t) = {
      [](uint32_t) { Plugin.On_Hot_Key(); },
      [](uint32_t) { Plugin.On_Menu_Select(Active_Menu_Item_Id); },
  };
  for (const auto call : calls) {
    Host_Log_Count = 0;
    Load_And_Start();
    Host_Change_Channel(4, 18);
    Answer_With(HOST_START_FILTER, call, 1);
    Plugin.On_Hot_Key();
    CHECK(Portal_Window() == nullptr);
    Open_Dialog();
    Exit_And_Unload();
    CHECK(Portal_Window() == nullptr);
    Check_Commands({HOST_START_FILTER, HOST_START_FILTER, HOST_STOP_FILTER});
  }

  Host_Log_Count = 0;
  Load_And_Start();
  Host_Change_Channel(4, 18);
  Answer_With(
      HOST_START_FILTER, [](uint32_t) { Plugin.On_Exit(); }, 1);
  Plugin.On_Hot_Key();
  CHECK(Portal_Window() == nullptr);
  Plugin.On_Hot_Key();
  CHECK(Portal_Window() == nullptr);
  Check_Commands({HOST_START_FILTER, HOST_STOP_FILTER});
  Check_Stop(1, Host_Filter_Handle);
  Host_Unload_Plugin();
}

// A host that tunes inside the switch request: the channel rule follows the
// new channel as it does when the host tunes afterwards.
void Switch_Answered_Inside() {
  Start_With_Window_Open();
  Deliver_Entries(0, Five_Entries);
  Answer_With(
      HOST_SWITCH_SERVICE,
      [](uint32_t argument) {
        const auto *request = reinterpret_cast<const Switch_Request_Record *>(argument);
        Host_Change_Channel(static_cast<uint16_t>(request->Transport_Stream_Id),
                            static_cast<uint16_t>(request->Service_Id));
      },
      Every_Time);
  Click(First_Entry_Button_Id + 1); // "Kanal Zwei", transport stream 5: the filter stops
  Click(First_Entry_Button_Id);     // "Kanal Eins", transport stream 4: it starts again
  Check_Commands({HOST_START_FILTER, HOST_SWITCH_SERVICE, HOST_STOP_FILTER, HOST_SWITCH_SERVICE,
                  HOST_START_FILTER});
  Check_Switch(1, 0x2002, 5);
  Check_Stop(2, Host_First_Filter_Handle);
  Check_Switch(3, 0x2001, 4);
  Check_Start(4);
  Exit_And_Unload();
}

// End to end: the host's filter thread delivers the portal's EIT section in
// TS payloads while the window is open; within two ticks the names stand on
// the buttons, and pressing one asks the host for that entry's service.
void End_To_End() {
  Start_With_Window_Open();
  Click(Next_Portal_Button_Id); // portal 1, "RedLight"
  const std::vector<Portal_Listing_Entry> entries = {
      {4, 0x0201, "Rot 1"}, {4, 0x0202, "Rot 2"}, {9, 0x0203, "Rot 3"}};
  Deliver_Entries(1, entries);
  Check_Captions({"Rot 1", "Rot 2", "Rot 3"});
  Click(First_Entry_Button_Id + 2);
  Check_Commands({HOST_START_FILTER, HOST_SWITCH_SERVICE});
  Check_Switch(1, 0x0203, 9);
  Exit_And_Unload();
}

// Soak: 1000 openings by hot key, closed alternately by hot key and by the
// close box, with ">>" now and then, while a thread of the host feeds
// filter data without pause. Afterwards no window is left, the one timer
// still runs until On_Exit and stops there, and the lock is free.
std::atomic<int> Feeding{1};
std::atomic<int> Chunks_Fed{0};
std::vector<uint8_t> Feed_Bytes;
Section_Data_Callback Feed_Callback = nullptr;

// The host's filter thread: the stream over and over, a millisecond's rest
// between rounds as a tuner's data rate would leave.
DWORD WINAPI Feed(LPVOID) {
  while (Feeding) {
    for (size_t at = 0; at + Chunk_Size <= Feed_Bytes.size() && Feeding; at += Chunk_Size) {
      Feed_Callback(0, Chunk_Size, Feed_Bytes.data() + at);
      ++Chunks_Fed;
    }
    Sleep(1);
  }
  return 0;
}

int Ticked() {
  return Host_Timer_Ticks > 0;
}

void Soak() {
  constexpr int Cycles = 1000;
  Start_With_Window_Open();
  Plugin.On_Hot_Key();
  Feed_Bytes = Filter_Bytes(0, Five_Entries);
  Feed_Callback = Host_Filter_Callback;
  HANDLE feeder = CreateThread(nullptr, 0, Feed, nullptr, 0, nullptr);
  CHECK(feeder != nullptr);

  const DWORD start = GetTickCount();
  for (int cycle = 1; cycle < Cycles; ++cycle) {
    Open_Dialog();
    if (cycle % 10 == 0)
      Click(Next_Portal_Button_Id);
    if (cycle % 2 == 0)
      Plugin.On_Hot_Key();
    else
      Close_By_Box();
    Host_Pump_For(0);
  }
  std::printf("%d cycles in %lu ms, %d chunks fed\n", Cycles, GetTickCount() - start,
              Chunks_Fed.load());
  CHECK(Host_Pump_Until(Ticked, Two_Ticks_Ms));
  Feeding = 0;
  CHECK_EQ(WAIT_OBJECT_0, WaitForSingleObject(feeder, Close_Wait_Ms));
  CloseHandle(feeder);

  CHECK(Portal_Window() == nullptr);
  CHECK_EQ(Cycles + Cycles / 2, Host_Log_Count);
  CHECK_EQ(Host_First_Filter_Handle + Cycles - 1, Host_Filter_Handle);
  CHECK_EQ(1, Host_Timer_Ids_Seen);
  // The lock is free: the data callback gets through it from another thread
  // and ">>" from this one.
  Open_Dialog();
  CHECK(Host_Deliver(Feed_Bytes.data(), static_cast<int32_t>(Feed_Bytes.size()), Chunk_Size,
                     Close_Wait_Ms));
  Click(Next_Portal_Button_Id);
  Plugin.On_Exit();
  CHECK(Portal_Window() == nullptr);
  Host_Pump_For(Timer_Period_Ms / 10); // a tick already queued may still come
  const int ticks = Host_Timer_Ticks;
  Host_Pump_For(Timer_Period_Ms + 500);
  CHECK_EQ(ticks, Host_Timer_Ticks);
  Host_Unload_Plugin();
}

// Teardown under traffic, 200 loads: the host's filter thread delivers every
// portal's section as fast as it can while the window is open and the
// refresh timer runs, and ">>" re-arms the decoder just before On_Exit, so
// the stop request and the lock's deletion race a scan or a decode. The
// thread delivers until that stop request closes the filter; then the
// module is unloaded. No crash, no hang, no command after the stop request
// and no timer tick once the module is gone.
uint32_t Chunks_Before = 0;
uint32_t Chunks_Wanted = 0;
int Chunks_Arrived() {
  return Host_Chunks_Delivered - Chunks_Before >= Chunks_Wanted;
}

// Pumps messages until the filter thread has delivered `count` more chunks.
void Await_Chunks(uint32_t count) {
  Chunks_Before = Host_Chunks_Delivered;
  Chunks_Wanted = count;
  CHECK(Host_Pump_Until(Chunks_Arrived, Close_Wait_Ms));
}

void Teardown_Under_Traffic() {
  constexpr int Cycles = 200;
  constexpr DWORD Unloaded_Pump_Ms = 20;
  std::vector<uint8_t> bytes;
  for (int portal = 0; portal < Portal_Total_Shown; ++portal) {
    const std::vector<uint8_t> portal_bytes = Filter_Bytes(portal, Five_Entries);
    bytes.insert(bytes.end(), portal_bytes.begin(), portal_bytes.end());
  }
  const uint32_t round = static_cast<uint32_t>(bytes.size() / Chunk_Size);
  const DWORD start = GetTickCount();
  for (int cycle = 0; cycle < Cycles; ++cycle) {
    Host_Log_Count = 0;
    Start_With_Window_Open();
    CHECK(Host_Start_Streaming(bytes.data(), static_cast<int32_t>(bytes.size()), Chunk_Size));
    Await_Chunks(round);
    Click(Next_Portal_Button_Id);
    Await_Chunks(1 + static_cast<uint32_t>(cycle) % round);
    Click(Next_Portal_Button_Id);
    Plugin.On_Exit();
    Check_Commands({HOST_START_FILTER, HOST_STOP_FILTER});
    Check_Stop(1, Host_Filter_Handle);
    CHECK(Host_End_Streaming(Close_Wait_Ms));
    CHECK(Portal_Window() == nullptr);
    Host_Unload_Plugin();
    const int ticks = Host_Timer_Ticks;
    Host_Pump_For(Unloaded_Pump_Ms);
    CHECK_EQ(ticks, Host_Timer_Ticks);
    Check_Commands({HOST_START_FILTER, HOST_STOP_FILTER});
  }
  std::printf("%d cycles in %lu ms, %u chunks delivered\n", Cycles, GetTickCount() - start,
              Host_Chunks_Delivered.load());
  const int ticks = Host_Timer_Ticks;
  Host_Pump_For(Timer_Period_Ms + 500);
  CHECK_EQ(ticks, Host_Timer_Ticks);
}

// Two filter threads of the host deliver at once for several seconds while
// the window is open, the refresh timer ticks and ">>" goes round the
// portals every 50 ms, each time re-arming the decoder: one thread every
// portal's section (a list of its own each, in one to three packets) among
// other services' EIT, the other a carousel of still other services, so
// that whatever of it lands between a portal section's pieces differs from
// round to round. No crash, and whole lists come up; in between the
// buttons show the shown portal's default entry, or a list taken unchecked
// from two copies that the other thread's bytes cut into (a portal with no
// list yet shows the second failing copy, as the plain decoder would), which
// the next sound copy replaces.
std::vector<Portal_Listing_Entry> Thread_List(int portal) {
  std::vector<Portal_Listing_Entry> entries;
  for (int i = 0; i < 4 + 4 * portal; ++i)
    entries.push_back({4, static_cast<uint16_t>(0x3000 + 0x100 * portal + i),
                       "P" + std::to_string(portal) + " Kanal " + std::to_string(i)});
  return entries;
}

// Sections back to back, as multiplexers pack EIT.
Ts_Packet_Options Packed_Options() {
  Ts_Packet_Options options;
  options.Pack_Sections = true;
  return options;
}
const Ts_Packet_Options Packed = Packed_Options();

// `count` services' EIT sections of one event each, growing in size, the
// first service `first`.
std::vector<Byte_Vector> Other_Service_Sections(int first, int count) {
  std::vector<Byte_Vector> sections;
  for (int i = 0; i < count; ++i) {
    Eit_Section section;
    section.Service_Id = static_cast<uint16_t>(first + i);
    section.Transport_Stream_Id = 4;
    Eit_Event event;
    event.Descriptors = Short_Event_Descriptor_Bytes("deu", "Sendung " + std::to_string(first + i),
                                                     std::string(20 + i % 150, 'a' + i % 26));
    section.Events.push_back(event);
    sections.push_back(Build_Eit_Section(section));
  }
  return sections;
}

// The payloads of those sections packed back to back.
std::vector<uint8_t> Other_Services_Bytes(int first, int count) {
  Ts_Writer writer;
  Write_Sections(writer, Eit_Pid, Other_Service_Sections(first, count), Packed);
  return Host_Filter_Bytes(writer.Bytes, Host_Handover::Payloads);
}

const char *Default_Name(int portal) {
  return Portal_Constants_Table[static_cast<size_t>(portal)].Default_Name;
}

// Button i's caption while `portal`'s whole list (whole, `list`) or its
// default entry alone is up.
const char *Expected_Caption(const std::vector<Portal_Listing_Entry> &list, int portal, bool whole,
                             int i) {
  if (whole)
    return i < static_cast<int>(list.size()) ? list[i].Name.c_str() : "";
  return i == 0 ? Default_Name(portal) : "";
}

// Every caption: `portal`'s whole list (whole) or its default entry alone.
void Check_Shown(int portal, bool whole) {
  const std::vector<Portal_Listing_Entry> list = Thread_List(portal);
  for (int i = 0; i < Entry_Button_Total; ++i)
    CHECK_TEXT(Expected_Caption(list, portal, whole, i), Caption(First_Entry_Button_Id + i));
}

// What the buttons show of `portal` at a look.
enum class Shown_List { Default_Entry, Whole_List, Other };
Shown_List Look_At(int portal) {
  const std::vector<Portal_Listing_Entry> list = Thread_List(portal);
  bool whole = true, default_alone = true;
  for (int i = 0; i < Entry_Button_Total; ++i) {
    const char *caption = Caption(First_Entry_Button_Id + i);
    whole = whole && std::strcmp(caption, Expected_Caption(list, portal, true, i)) == 0;
    default_alone =
        default_alone && std::strcmp(caption, Expected_Caption(list, portal, false, i)) == 0;
  }
  return whole           ? Shown_List::Whole_List
         : default_alone ? Shown_List::Default_Entry
                         : Shown_List::Other;
}

void Two_Data_Threads() {
  constexpr DWORD Run_Ms = 6000;
  constexpr DWORD Press_Every_Ms = 50;
  std::vector<uint8_t> portals;
  for (int portal = 0; portal < Portal_Total_Shown; ++portal) {
    const std::vector<uint8_t> bytes = Filter_Bytes(portal, Thread_List(portal));
    portals.insert(portals.end(), bytes.begin(), bytes.end());
    const std::vector<uint8_t> others = Other_Services_Bytes(0x0400 + 0x40 * portal, 40);
    portals.insert(portals.end(), others.begin(), others.end());
  }
  const std::vector<uint8_t> others = Other_Services_Bytes(0x0800, 300);
  Start_With_Window_Open();
  CHECK(Host_Start_Streaming(portals.data(), static_cast<int32_t>(portals.size()), Chunk_Size));
  CHECK(Host_Start_Streaming(others.data(), static_cast<int32_t>(others.size()), Chunk_Size));
  int shown = 0, looks = 0, seen[3] = {};
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < Run_Ms) {
    Host_Pump_For(Press_Every_Ms);
    ++seen[static_cast<int>(Look_At(shown))];
    Click(Next_Portal_Button_Id);
    shown = (shown + 1) % Portal_Total_Shown;
    ++seen[static_cast<int>(Look_At(shown))];
    looks += 2;
  }
  const int whole = seen[static_cast<int>(Shown_List::Whole_List)];
  std::printf("%d looks: %d at a whole list, %d at the default entry, %d at a list from cut "
              "copies; %d ticks, %u chunks\n",
              looks, whole, seen[static_cast<int>(Shown_List::Default_Entry)],
              seen[static_cast<int>(Shown_List::Other)], Host_Timer_Ticks,
              Host_Chunks_Delivered.load());
  CHECK(whole > 0);
  CHECK(Host_Timer_Ticks >= 3);
  Plugin.On_Exit();
  CHECK(Host_End_Streaming(Close_Wait_Ms));
  Host_Unload_Plugin();
}

// How many of a capture's portal source sections start behind another
// section, not at a packet's payload start.
int Portal_Sections_Packed = 0;
void Count_Packed(const Reassembled_Section &section, void *) {
  for (int portal = 0; portal < Portal_Total_Shown; ++portal)
    if (Build_Eit_Section(Portal_Source_Section(portal, Thread_List(portal))) ==
        Byte_Vector(section.Bytes, section.Bytes + section.Size))
      Portal_Sections_Packed += section.At_Payload_Start ? 0 : 1;
}

int Packed_Portal_Sections(const std::vector<uint8_t> &capture) {
  Section_Reassembler reassembler;
  reassembler.Deliver = Count_Packed;
  Portal_Sections_Packed = 0;
  Ts_Reader reader;
  Open_Ts_Memory(reader, capture.data(), capture.size());
  const uint8_t *payload = nullptr;
  int32_t size = 0;
  while (Next_Ts_Payload(reader, Eit_Pid, &payload, &size) == Ts_Read_Result::Payload)
    Reassemble_Payload(reassembler, payload, size, reader.Unit_Start, reader.Continuity,
                       reader.Packet_Offset);
  Close_Ts_Reader(reader);
  return Portal_Sections_Packed;
}

// A capture as a multiplexer packs EIT, twice round with video between the
// rounds: every section right behind the previous one, each portal's source
// section (its Thread_List) behind other services' sections, so that it
// starts inside a packet, right behind the end of another section.
std::vector<uint8_t> Packed_Capture() {
  constexpr uint16_t Video_Pid = 0x0100;
  std::vector<Byte_Vector> sections;
  for (int portal = 0; portal < Portal_Total_Shown; ++portal) {
    for (const Byte_Vector &other : Other_Service_Sections(0x0500 + 0x10 * portal, 3 + portal))
      sections.push_back(other);
    sections.push_back(Build_Eit_Section(Portal_Source_Section(portal, Thread_List(portal))));
  }
  for (const Byte_Vector &other : Other_Service_Sections(0x0580, 3))
    sections.push_back(other);
  Ts_Writer writer;
  for (int round = 0; round < 2; ++round) {
    Write_Sections(writer, Eit_Pid, sections, Packed);
    for (int i = 0; i < 3; ++i)
      Write_Noise_Packet(writer, Video_Pid);
  }
  CHECK_EQ(2 * Portal_Total_Shown, Packed_Portal_Sections(writer.Bytes));
  return writer.Bytes;
}

// The host plays a packed capture at full speed, handing over its payloads,
// then, in a second load, its packets whole: with the window open, each
// portal's whole list comes up in turn as ">>" goes through the four.
void Packed_Capture_Every_Handover() {
  const std::vector<uint8_t> capture = Packed_Capture();
  for (const Host_Handover handover : {Host_Handover::Payloads, Host_Handover::Whole_Packets}) {
    std::printf("handing over %s\n",
                handover == Host_Handover::Payloads ? "payloads" : "whole packets");
    const std::vector<uint8_t> bytes = Host_Filter_Bytes(capture, handover);
    Host_Log_Count = 0;
    Start_With_Window_Open();
    CHECK(Host_Start_Streaming(bytes.data(), static_cast<int32_t>(bytes.size()),
                               Host_Handover_Chunk(handover)));
    for (int portal = 0; portal < Portal_Total_Shown; ++portal) {
      const std::vector<Portal_Listing_Entry> list = Thread_List(portal);
      Awaited_Caption = list[0].Name.c_str();
      // If the list never comes, Check_Shown names what the buttons show.
      Host_Pump_Until(Awaited_Caption_Shown, Two_Ticks_Ms);
      Check_Shown(portal, true);
      Click(Next_Portal_Button_Id);
    }
    Plugin.On_Exit();
    CHECK(Host_End_Streaming(Close_Wait_Ms));
    Host_Unload_Plugin();
  }
}

// A copy of the module whose dialog template names an unknown class for
// its first control (">>"), so that the dialog cannot be created.
void Write_Broken_Module(const char *path) {
  FILE *file = std::fopen(Module_Name, "rb");
  CHECK(file != nullptr);
  std::vector<uint8_t> image(256 * 1024);
  image.resize(std::fread(image.data(), 1, image.size(), file));
  std::fclose(file);
  // Class ordinal 0x0080 (button), then the text ">>".
  const uint8_t first_control[] = {0xFF, 0xFF, 0x80, 0x00, '>', 0, '>', 0, 0, 0};
  int found = 0;
  for (size_t at = 0; at + sizeof first_control <= image.size(); ++at) {
    if (std::memcmp(image.data() + at, first_control, sizeof first_control) != 0)
      continue;
    image[at + 2] = 0x7F; // no class has this ordinal
    ++found;
  }
  CHECK_EQ(1, found);
  file = std::fopen(path, "wb");
  CHECK(file != nullptr);
  std::fwrite(image.data(), 1, image.size(), file);
  CHECK_EQ(0, std::fclose(file));
}

// When the window cannot be created nothing is sent, nothing crashes, and
// every later hot key or menu selection simply tries again.
void Create_Fails() {
  constexpr char Broken[] = "Pictolandrum_broken.dll";
  Write_Broken_Module(Broken);
  Load_And_Start(Broken);
  Host_Change_Channel(4, 18);
  for (int i = 0; i < 3; ++i) {
    Plugin.On_Hot_Key();
    CHECK(Portal_Window() == nullptr);
    Plugin.On_Menu_Select(Active_Menu_Item_Id);
    CHECK(Portal_Window() == nullptr);
  }
  Host_Pump_For(Timer_Period_Ms + 500); // the timer finds no window
  Host_Change_Channel(7, 300);          // and the channel rule neither
  Host_Change_Channel(4, 18);
  Check_Commands({});
  Exit_And_Unload();
}

// The picture in a 24-bit BMP file of `width` x `height` pixels is no blank
// capture (which has one colour only): more than one in twenty of its pixel
// bytes differ from the same colour byte of its first pixel.
void Check_Not_Blank(const char *path, int width, int height) {
  FILE *file = std::fopen(path, "rb");
  CHECK(file != nullptr);
  BITMAPFILEHEADER header{};
  BITMAPINFOHEADER info{};
  CHECK_EQ(1, std::fread(&header, sizeof header, 1, file));
  CHECK_EQ(1, std::fread(&info, sizeof info, 1, file));
  CHECK_EQ(0x4D42, header.bfType); // "BM"
  CHECK_EQ(width, info.biWidth);
  CHECK_EQ(height, info.biHeight); // bottom-up rows
  CHECK_EQ(24, info.biBitCount);
  const int stride = (width * 3 + 3) & ~3;
  std::vector<uint8_t> pixels(static_cast<size_t>(stride) * height);
  CHECK_EQ(0, std::fseek(file, static_cast<long>(header.bfOffBits), SEEK_SET));
  CHECK_EQ(pixels.size(), std::fread(pixels.data(), 1, pixels.size(), file));
  std::fclose(file);
  int differing = 0;
  for (int row = 0; row < height; ++row)
    for (int at = 0; at < width * 3; ++at)
      differing += pixels[static_cast<size_t>(row * stride + at)] != pixels[at % 3];
  CHECK(differing > width * height / 20);
}

// A picture of the window with decoded entries: portal-window.bmp in the
// working folder, taken from the screen.
void Screenshot() {
  constexpr char Picture[] = "portal-window.bmp";
  HWND dialog = Start_With_Window_Open();
  SetWindowPos(dialog, nullptr, 40, 40, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  Deliver_Entries(0, Five_Entries);
  RedrawWindow(dialog, nullptr, nullptr,
               RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  Host_Pump_For(300);

  RECT rect;
  GetWindowRect(dialog, &rect);
  CHECK(Write_Screenshot(rect, Picture));
  Check_Not_Blank(Picture, rect.right - rect.left, rect.bottom - rect.top);
  Exit_And_Unload();
}

} // namespace

SCENARIO_MAIN({"open_on_portal_stream", Open_On_Portal_Stream},
              {"open_off_portal_stream", Open_Off_Portal_Stream}, {"close_box", Close_Box},
              {"channel_change_window_open", Channel_Change_Window_Open},
              {"next_portal", Next_Portal}, {"five_entries_decoded", Five_Entries_Decoded},
              {"entry_buttons_arm_decoder", Entry_Buttons_Arm_Decoder},
              {"close_box_disarms_decoder", Close_Box_Disarms_Decoder}, {"topmost", Topmost},
              {"position", Position}, {"position_on_screen", Position_On_Screen},
              {"refusing_host", Refusing_Host}, {"calls_while_opening", Calls_While_Opening},
              {"switch_answered_inside", Switch_Answered_Inside}, {"end_to_end", End_To_End},
              {"restart_after_exit", Restart_After_Exit}, {"start_twice", Start_Twice},
              {"soak", Soak}, {"teardown_under_traffic", Teardown_Under_Traffic},
              {"two_data_threads", Two_Data_Threads},
              {"packed_capture_every_handover", Packed_Capture_Every_Handover},
              {"create_fails", Create_Fails}, {"screenshot", Screenshot})
