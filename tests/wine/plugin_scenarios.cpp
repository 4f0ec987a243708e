// Pictolandrum.dll under Wine, driven through the stand-in host. Each
// scenario runs in a process of its own (the argument names it) in a folder
// holding this program, the module and, after unload, its position file.
// Scenarios that need the portal window skip while the module lacks it.
#include "host/stand_in_host.h"
#include "module/resource_ids.h"
#include "stream/eit_writer.h"
#include "tests/wine/module_image.h"
#include "tests/wine/wine_check.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr char Module_Name[] = "Pictolandrum.dll";
constexpr char Position_File[] = "Pictolandrum.INI";
constexpr char Default_Position[] = "WINDOWX=320;\r\nWINDOWY=320;\r\n";
constexpr long Module_Size_Limit = 64 * 1024;
constexpr uint32_t Start_Tag = 0x1234ABCD; // only the low half reaches Filter_Request
constexpr DWORD Tick_Wait_Ms = 4000;       // more than two periods of the 1500 ms timer
constexpr DWORD Quiet_Wait_Ms = 2000;      // more than one period
constexpr int Caption_Size = 64;

// ---- helpers -------------------------------------------------------------

void Load_Module() {
  if (Host_Main_Window == nullptr)
    CHECK(Host_Create_Window() != nullptr);
  CHECK(Host_Load_Plugin(Module_Name));
  CHECK(Plugin.On_Start != nullptr && Plugin.On_Exit != nullptr &&
        Plugin.On_Channel_Change != nullptr && Plugin.On_Filter_Close != nullptr);
}

void Load_And_Start() {
  Load_Module();
  char letter = 0;
  int32_t word = -1;
  Host_Start_Plugin(Start_Tag, &letter, &word);
}

void Require_Window() {
  if (Plugin.On_Hot_Key == nullptr)
    Skip_Scenario("the module has no portal window yet");
}

// The plug-in's Filter_Request as On_Start left it: the one 48-byte record
// in the module's writable memory with our tag and name.
Filter_Request_Record *Found_Request = nullptr;
void Look_For_Request(unsigned char *start, DWORD size) {
  for (DWORD at = 0; at + sizeof(Filter_Request_Record) <= size; at += 2) {
    auto *record = reinterpret_cast<Filter_Request_Record *>(start + at);
    if (record->Host_Tag == static_cast<uint16_t>(Start_Tag) &&
        std::memcmp(record->Name, Plugin_Name, Plugin_Name_Size) == 0)
      Found_Request = record;
  }
}
Filter_Request_Record *Plugin_Filter_Request() {
  Found_Request = nullptr;
  Visit_Writable_Sections(Plugin.Module, Look_For_Request);
  CHECK(Found_Request != nullptr);
  return Found_Request;
}

Filter_Request_Record Expected_Request(uint16_t pid, uint32_t callback, uint32_t handle) {
  Filter_Request_Record record;
  std::memset(&record, 0, sizeof record);
  record.Host_Tag = static_cast<uint16_t>(Start_Tag);
  record.Pid = pid;
  std::memcpy(record.Name, Plugin_Name, Plugin_Name_Size);
  record.Callback = callback;
  record.Filter_Handle = handle;
  return record;
}

void Check_Command(int index, uint32_t command, uint32_t argument) {
  CHECK(index < Host_Log_Count);
  CHECK_EQ(command, Host_Log[index].Command);
  CHECK_EQ(argument, Host_Log[index].Argument);
}

int Position_File_Text(char *text, int size) {
  FILE *file = std::fopen(Position_File, "rb");
  if (file == nullptr)
    return -1;
  const int length = static_cast<int>(std::fread(text, 1, static_cast<size_t>(size - 1), file));
  std::fclose(file);
  text[length] = '\0';
  return length;
}

void Write_Position_File(const char *text) {
  FILE *file = std::fopen(Position_File, "wb");
  CHECK(file != nullptr);
  std::fputs(text, file);
  std::fclose(file);
}

void Check_Position_File(const char *expected) {
  char text[256];
  CHECK(Position_File_Text(text, sizeof text) >= 0);
  if (std::strcmp(text, expected) != 0)
    std::printf("position file: \"%s\", expected \"%s\"\n", text, expected);
  CHECK(std::strcmp(text, expected) == 0);
}

// Start, exit and unload, as a host session does.
void Run_Session() {
  Load_And_Start();
  Plugin.On_Exit();
  Host_Unload_Plugin();
}

int Ticks_Seen_Before = 0;
int Ticked_Twice() {
  return Host_Timer_Ticks >= Ticks_Seen_Before + 2;
}

// Opens the window on the portal transport stream: one start request.
void Open_Window_On_Portal_Stream() {
  Host_Change_Channel(4, 18);
  Plugin.On_Hot_Key();
  CHECK(Portal_Window() != nullptr);
  CHECK_EQ(1, Host_Log_Count);
  Check_Command(0, HOST_START_FILTER, Host_Log[0].Argument);
}

// ---- the portal source section ---------------------------------------------

const std::vector<Portal_Listing_Entry> Test_Entries = {
    {4, 0x2001, "Kanal Eins"}, {4, 0x2002, "Kanal Zwei"}, {5, 0x2003, "Kanal Drei"}};
constexpr int Filter_Payload_Size = 1400; // over the 920 bytes the decoder waits for
std::vector<uint8_t> Filter_Payload;

// The filter's payload: a pointer field, portal 0's EIT section 0 (service
// 0x12 on transport stream 4 of network 0x85) with one linkage descriptor of
// type 0xB0 per entry, then stuffing.
void Build_Filter_Payload() {
  const Byte_Vector section = Build_Eit_Section(Portal_Source_Section(0, Test_Entries));
  Filter_Payload.assign(Pointer_Field_Size, 0x00);
  Filter_Payload.insert(Filter_Payload.end(), section.begin(), section.end());
  Filter_Payload.resize(Filter_Payload_Size, Stuffing_Byte);
}

int Captions_Shown() {
  char caption[Caption_Size];
  GetDlgItemTextA(Portal_Window(), First_Entry_Button_Id, caption, sizeof caption);
  return Test_Entries[0].Name == caption;
}

// ---- scenarios -------------------------------------------------------------

// The module's exports, imports, entry point and size.
void Module_Image() {
  Load_Module();
  static const char *const Base_Names[] = {
      "On_Channel_Change", "On_Exit", "On_Filter_Close", "On_Send_Dll_ID_Name", "On_Start",
      "_LibMain@12",       "_WEP"};
  static const char *const Window_Names[] = {
      "On_Channel_Change",   "On_Exit",  "On_Filter_Close", "On_Hot_Key", "On_Menu_Select",
      "On_Send_Dll_ID_Name", "On_Start", "_LibMain@12",     "_WEP"};
  const bool window = Plugin.On_Hot_Key != nullptr || Plugin.On_Menu_Select != nullptr;
  const char *const *expected = window ? Window_Names : Base_Names;
  const int expected_count = window ? 9 : 7;
  Image_Names names;
  Read_Export_Names(Plugin.Module, names);
  CHECK_EQ(expected_count, names.Count);
  for (int i = 0; i < expected_count; ++i)
    CHECK(std::strcmp(expected[i], names.Name[i]) == 0);

  Read_Import_Names(Plugin.Module, names);
  CHECK(names.Count >= 1 && names.Count <= 3);
  for (int i = 0; i < names.Count; ++i) {
    const bool allowed = lstrcmpiA(names.Name[i], "KERNEL32.dll") == 0 ||
                         lstrcmpiA(names.Name[i], "USER32.dll") == 0 ||
                         lstrcmpiA(names.Name[i], "msvcrt.dll") == 0;
    if (!allowed)
      std::printf("imports from %s\n", names.Name[i]);
    CHECK(allowed);
  }

  CHECK(Image_Entry_Point(Plugin.Module) == reinterpret_cast<const void *>(Plugin.Lib_Main));
  CHECK(Plugin.Wep != nullptr);
  CHECK_EQ(1, Plugin.Wep(0));
  WIN32_FILE_ATTRIBUTE_DATA attributes;
  CHECK(GetFileAttributesExA(Module_Name, GetFileExInfoStandard, &attributes));
  CHECK(attributes.nFileSizeHigh == 0 && attributes.nFileSizeLow <= Module_Size_Limit);
}

// On_Start: the letter, the word and Filter_Request byte for byte; no
// command; null out-arguments are skipped.
void Start() {
  Load_Module();
  char letter = 'x';
  int32_t word = 0x55555555;
  Host_Start_Plugin(Start_Tag, &letter, &word);
  CHECK_EQ('G', letter);
  CHECK_EQ(0, word);
  CHECK_EQ(0, Host_Log_Count);
  const Filter_Request_Record *request = Plugin_Filter_Request();
  const uint32_t callback = request->Callback;
  const auto base = reinterpret_cast<uintptr_t>(Plugin.Module);
  CHECK(callback > base && callback < base + 0x100000);
  const Filter_Request_Record expected = Expected_Request(0, callback, 0);
  CHECK_BYTES(&expected, request, sizeof expected);
  Host_Start_Plugin(Start_Tag, nullptr, nullptr);
  CHECK_BYTES(&expected, request, sizeof expected);

  // The first start request carries the same record with the PID set.
  Require_Window();
  Open_Window_On_Portal_Stream();
  const Filter_Request_Record sent = Expected_Request(Eit_Pid, callback, 0);
  CHECK_EQ(reinterpret_cast<uintptr_t>(request), Host_Log[0].Argument);
  CHECK_BYTES(&sent, &Host_Log[0].Filter, sizeof sent);
  CHECK_EQ(Host_First_Filter_Handle, request->Filter_Handle);
}

// On_Send_Dll_ID_Name writes the name and its NUL and nothing behind.
void Send_Name() {
  Load_And_Start();
  char buffer[32];
  std::memset(buffer, 0xAA, sizeof buffer);
  Plugin.On_Send_Dll_ID_Name(buffer);
  CHECK_BYTES(Plugin_Name, buffer, Plugin_Name_Size);
  for (size_t i = Plugin_Name_Size; i < sizeof buffer; ++i)
    CHECK_EQ(0xAA, static_cast<unsigned char>(buffer[i]));
  CHECK_EQ(0, Host_Log_Count);
}

// With the window closed a channel change sends nothing but starts the one
// refresh timer; On_Exit stops it and a later change does not restart it.
void Channel_Change_Window_Closed() {
  Load_And_Start();
  Host_Change_Channel(4, 18);
  Host_Change_Channel(7, 300);
  Host_Change_Channel(4, 18);
  CHECK(Host_Pump_Until(Ticked_Twice, Tick_Wait_Ms));
  CHECK_EQ(1, Host_Timer_Ids_Seen);
  CHECK_EQ(0, Host_Log_Count);

  Plugin.On_Exit();
  Host_Change_Channel(4, 18);
  Host_Pump_For(Quiet_Wait_Ms / 10); // a tick already queued may still come
  const int ticks = Host_Timer_Ticks;
  Host_Pump_For(Quiet_Wait_Ms);
  CHECK_EQ(ticks, Host_Timer_Ticks);
  CHECK_EQ(0, Host_Log_Count);
}

// Unloaded without On_Exit: detach stops the timer, nothing fires into the
// unloaded module.
void Unload_With_Timer() {
  Load_And_Start();
  Host_Change_Channel(4, 18);
  Ticks_Seen_Before = -1;
  CHECK(Host_Pump_Until(Ticked_Twice, Tick_Wait_Ms)); // one tick
  Host_Unload_Plugin();
  const int ticks = Host_Timer_Ticks;
  Host_Pump_For(Quiet_Wait_Ms);
  CHECK_EQ(ticks, Host_Timer_Ticks);
}

// Unloaded without On_Exit while the window is open: detach destroys it, so
// no window is left whose procedure points into the unloaded module.
void Unload_With_Window_Open() {
  Load_And_Start();
  Require_Window();
  Open_Window_On_Portal_Stream();
  HWND window = Portal_Window();
  Host_Unload_Plugin();
  CHECK(!IsWindow(window));
  Host_Pump_For(Quiet_Wait_Ms / 10);
}

// On_Filter_Close sends nothing and clears the running flag: the next
// channel change on the portal stream starts the filter again, and On_Exit
// stops that second filter.
void Filter_Close() {
  Load_And_Start();
  Plugin.On_Filter_Close();
  CHECK_EQ(0, Host_Log_Count);
  Require_Window();
  Open_Window_On_Portal_Stream();
  Host_Close_Filter();
  CHECK_EQ(1, Host_Log_Count);
  Host_Change_Channel(4, 19);
  CHECK_EQ(2, Host_Log_Count);
  Check_Command(1, HOST_START_FILTER, Host_Log[0].Argument);
  Plugin.On_Exit();
  CHECK_EQ(3, Host_Log_Count);
  Check_Command(2, HOST_STOP_FILTER, Host_First_Filter_Handle + 1);
}

// On_Exit with the filter running: exactly one stop with the host's handle;
// the window is gone. Calls after it change nothing.
void Exit_With_Filter_Running() {
  Load_And_Start();
  Require_Window();
  Open_Window_On_Portal_Stream();
  Plugin.On_Exit();
  CHECK_EQ(2, Host_Log_Count);
  Check_Command(1, HOST_STOP_FILTER, Host_First_Filter_Handle);
  CHECK(Portal_Window() == nullptr);
  Plugin.On_Exit();
  Build_Filter_Payload();
  Host_Filter_Callback(0, Filter_Payload_Size, Filter_Payload.data());
  Host_Change_Channel(4, 18);
  CHECK_EQ(2, Host_Log_Count);
  Host_Unload_Plugin();
}

// After On_Exit the hot key and the menu entry open no window and send
// nothing, on the portal transport stream too.
void Hot_Key_And_Menu_After_Exit() {
  Load_And_Start();
  Require_Window();
  Open_Window_On_Portal_Stream();
  Plugin.On_Exit();
  Plugin.On_Hot_Key();
  CHECK(Portal_Window() == nullptr);
  Plugin.On_Menu_Select(Active_Menu_Item_Id);
  CHECK(Portal_Window() == nullptr);
  CHECK_EQ(2, Host_Log_Count);
  Check_Command(1, HOST_STOP_FILTER, Host_First_Filter_Handle);
  Host_Unload_Plugin();
}

// The host calls in an unexpected order: a channel change before On_Start,
// On_Exit twice, data after On_Exit. Nothing is sent and nothing breaks.
void Unexpected_Order() {
  Load_Module();
  Host_Change_Channel(4, 18);
  char letter = 0;
  int32_t word = -1;
  Host_Start_Plugin(Start_Tag, &letter, &word);
  const Filter_Request_Record *request = Plugin_Filter_Request();
  const auto callback = reinterpret_cast<Section_Data_Callback>(request->Callback);
  Plugin.On_Exit();
  Plugin.On_Exit();
  Build_Filter_Payload();
  callback(0, Filter_Payload_Size, Filter_Payload.data());
  callback(0, 5, nullptr);
  Host_Change_Channel(4, 18);
  Plugin.On_Filter_Close();
  CHECK_EQ(0, Host_Log_Count);
  Host_Unload_Plugin();
  Check_Position_File(Default_Position);
}

// At unload the position file is written with CRLF ends; the next load
// reads it back (spaces dropped, numbers clamped).
void Position_File_Round_Trip() {
  Run_Session();
  Check_Position_File(Default_Position);
  Write_Position_File("WINDOWX=17;\r\nWINDOWY=-5;\r\n");
  Run_Session();
  Check_Position_File("WINDOWX=17;\r\nWINDOWY=-5;\r\n");
  Write_Position_File("WINDOWX= 1 2 ;\nWINDOWY=99999999999;\n");
  Run_Session();
  Check_Position_File("WINDOWX=12;\r\nWINDOWY=2147483647;\r\n");
}

// A missing or unreadable position file leaves the defaults.
void Position_File_Unreadable() {
  DeleteFileA(Position_File);
  Run_Session();
  Check_Position_File(Default_Position);

  Write_Position_File("WINDOWX=17;\nWINDOWY=-5;\n");
  HANDLE locked = CreateFileA(Position_File, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  CHECK(locked != INVALID_HANDLE_VALUE);
  Load_And_Start();
  CloseHandle(locked);
  Plugin.On_Exit();
  Host_Unload_Plugin();
  Check_Position_File(Default_Position);
}

// The folder `path` (a "\\?\" path, so it may be longer than MAX_PATH)
// grown by folders of up to 99 letters to `length` characters without
// its prefix; each folder made, and named in `folders`.
constexpr wchar_t Long_Path_Prefix[] = L"\\\\?\\";
constexpr size_t Long_Path_Prefix_Length = sizeof Long_Path_Prefix / sizeof(wchar_t) - 1;
std::wstring Grow_Folder(std::wstring path, size_t length, wchar_t letter,
                         std::vector<std::wstring> *folders) {
  CHECK(path.size() - Long_Path_Prefix_Length + 2 <= length);
  while (path.size() - Long_Path_Prefix_Length < length) {
    const size_t rest = length - (path.size() - Long_Path_Prefix_Length);
    size_t part = rest < 100 ? rest : 100; // a backslash and a name
    if (rest - part == 1)
      --part;
    path += L"\\" + std::wstring(part - 1, letter);
    CHECK(CreateDirectoryW(path.c_str(), nullptr));
    folders->push_back(path);
  }
  return path;
}

std::string File_Text_Wide(const std::wstring &path) {
  FILE *file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr)
    return "<missing>";
  char text[128] = {};
  std::fread(text, 1, sizeof text - 1, file);
  std::fclose(file);
  return text;
}

// The module loaded from folders whose paths have several lengths around
// where the position file stops fitting (its path at most 259 characters):
// with the module's own name, 255 and 259 characters (the plain plug-in,
// which reads the path into 256 bytes, keeps its position at these too),
// 260, and a folder of 255 (the plain plug-in's buffer ends inside the
// folder's name, and it would take the folder above); with a longer name,
// module paths over MAX_PATH whose folder is 242 (kept) and 243 (none).
// A kept position is read from the file beside the module and written back
// there in the plug-in's own form; where none is kept, that file stays as
// it was, and no folder above the module gets one.
void Module_Path_Lengths() {
  const size_t Own_Name = sizeof Module_Name - 1;
  const struct {
    size_t Length, Name_Length;
    bool Kept;
  } cases[] = {
      {255, Own_Name, true},  {256, Own_Name, true}, {259, Own_Name, true}, {260, Own_Name, false},
      {272, Own_Name, false}, {300, 57, true},       {301, 57, false},
  };
  const char Given[] = "WINDOWX= 1 7;\nWINDOWY=23;\n";
  const char Kept[] = "WINDOWX=17;\r\nWINDOWY=23;\r\n";
  wchar_t here[MAX_PATH];
  CHECK(GetCurrentDirectoryW(MAX_PATH, here) > 0);
  const std::wstring folder_here = std::wstring(Long_Path_Prefix) + here;
  DeleteFileA(Position_File);
  CHECK(Host_Create_Window() != nullptr);
  wchar_t letter = L'a';
  for (const auto &c : cases) {
    std::printf("a module path of %u characters, its name %u\n", static_cast<unsigned>(c.Length),
                static_cast<unsigned>(c.Name_Length));
    std::vector<std::wstring> folders = {folder_here};
    const std::wstring folder =
        Grow_Folder(folder_here, c.Length - 1 - c.Name_Length, letter++, &folders);
    const std::string name = "Pictolandrum" + std::string(c.Name_Length - Own_Name, '-') + ".dll";
    const std::wstring module = folder + L"\\" + std::wstring(name.begin(), name.end());
    CHECK(CopyFileW((folder_here + L"\\" + L"Pictolandrum.dll").c_str(), module.c_str(), FALSE));
    const std::wstring own_file = folder + L"\\Pictolandrum.INI";
    FILE *file = _wfopen(own_file.c_str(), L"wb");
    CHECK(file != nullptr);
    std::fputs(Given, file);
    CHECK_EQ(0, std::fclose(file));

    CHECK(Host_Load_Plugin_Wide(module.c_str()));
    char loaded[2048];
    CHECK_EQ(c.Length, GetModuleFileNameA(Plugin.Module, loaded, sizeof loaded));
    Host_Start_Plugin(Start_Tag, nullptr, nullptr);
    Plugin.On_Exit();
    Host_Unload_Plugin();

    CHECK_TEXT(c.Kept ? Kept : Given, File_Text_Wide(own_file).c_str());
    for (size_t i = 0; i + 1 < folders.size(); ++i)
      CHECK_EQ(INVALID_FILE_ATTRIBUTES,
               GetFileAttributesW((folders[i] + L"\\Pictolandrum.INI").c_str()));
  }
}

// Filter data delivered from the host's thread reaches the decoder; the next
// timer tick shows the decoded entries on the window's buttons.
void Filter_Data_Fills_Table() {
  Load_And_Start();
  Require_Window();
  Open_Window_On_Portal_Stream();
  Build_Filter_Payload();
  CHECK(Host_Deliver(Filter_Payload.data(), Filter_Payload_Size, Ts_Payload_Size, Tick_Wait_Ms));
  CHECK(Host_Pump_Until(Captions_Shown, Tick_Wait_Ms));
  char caption[Caption_Size];
  for (int i = 0; i < 3; ++i) {
    GetDlgItemTextA(Portal_Window(), First_Entry_Button_Id + i, caption, sizeof caption);
    CHECK_TEXT(Test_Entries[i].Name.c_str(), caption);
  }
  GetDlgItemTextA(Portal_Window(), First_Entry_Button_Id + 3, caption, sizeof caption);
  CHECK_EQ(0, caption[0]);
  Plugin.On_Exit();
  Host_Unload_Plugin();
}

} // namespace

SCENARIO_MAIN({"module_image", Module_Image}, {"start", Start}, {"send_name", Send_Name},
              {"channel_change_window_closed", Channel_Change_Window_Closed},
              {"unload_with_timer", Unload_With_Timer},
              {"unload_with_window_open", Unload_With_Window_Open}, {"filter_close", Filter_Close},
              {"exit_with_filter_running", Exit_With_Filter_Running},
              {"hot_key_and_menu_after_exit", Hot_Key_And_Menu_After_Exit},
              {"unexpected_order", Unexpected_Order},
              {"position_file_round_trip", Position_File_Round_Trip},
              {"position_file_unreadable", Position_File_Unreadable},
              {"module_path_lengths", Module_Path_Lengths},
              {"filter_data_fills_table", Filter_Data_Fills_Table})
