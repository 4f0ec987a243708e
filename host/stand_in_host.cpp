// The stand-in host's routines: loading, the main window that takes the
// plug-in's commands, the filter thread and the message pump.
#include "host/stand_in_host.h"

#include "stream/ts_reader.h"

#include <cstring>

Plugin_Entries Plugin{};
Host_Command Host_Log[Host_Log_Capacity];
int Host_Log_Count = 0;
uint32_t Host_Filter_Handle = 0;
std::atomic<int> Host_Filter_Open{0};
std::atomic<Section_Data_Callback> Host_Filter_Callback{nullptr};
std::atomic<uint32_t> Host_Chunks_Delivered{0};
int Host_Timer_Ticks = 0;
UINT_PTR Host_Last_Timer_Id = 0;
int Host_Timer_Ids_Seen = 0;
HWND Host_Main_Window = nullptr;
void (*Host_Command_Answer)(uint32_t command, uint32_t argument) = nullptr;

namespace {

constexpr char Host_Class_Name[] = "Pictolandrum_Stand_In_Host";
// Host_Pump_Until looks at its condition at least this often, also when no
// message arrives (the condition may be another thread's doing).
constexpr DWORD Condition_Check_Ms = 10;
constexpr int Timer_Id_Capacity = 8;
UINT_PTR Timer_Ids[Timer_Id_Capacity];

void Log_Command(uint32_t command, uint32_t argument) {
  const int slot = Host_Log_Count++;
  if (slot >= Host_Log_Capacity)
    return;
  Host_Command &entry = Host_Log[slot];
  std::memset(&entry, 0, sizeof entry);
  entry.Command = command;
  entry.Argument = argument;
  if (command == HOST_START_FILTER && argument != 0)
    std::memcpy(&entry.Filter, reinterpret_cast<const void *>(argument), sizeof entry.Filter);
  if (command == HOST_SWITCH_SERVICE && argument != 0)
    std::memcpy(&entry.Switch, reinterpret_cast<const void *>(argument), sizeof entry.Switch);
}

// HOST_START_FILTER: open the filter, hand out a handle at offset 44.
void Open_Filter(uint32_t argument) {
  if (argument == 0)
    return;
  auto *request = reinterpret_cast<Filter_Request_Record *>(argument);
  Host_Filter_Handle = Host_Filter_Handle == 0 ? Host_First_Filter_Handle : Host_Filter_Handle + 1;
  request->Filter_Handle = Host_Filter_Handle;
  Host_Filter_Callback = reinterpret_cast<Section_Data_Callback>(request->Callback);
  Host_Filter_Open = 1;
}

LRESULT CALLBACK Host_Window_Proc(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
  if (message != Host_Message)
    return DefWindowProcA(window, message, w_param, l_param);
  const auto command = static_cast<uint32_t>(w_param);
  const auto argument = static_cast<uint32_t>(l_param);
  Log_Command(command, argument);
  if (command == HOST_START_FILTER)
    Open_Filter(argument);
  else if (command == HOST_STOP_FILTER && argument == Host_Filter_Handle)
    Host_Filter_Open = 0;
  if (Host_Command_Answer != nullptr)
    Host_Command_Answer(command, argument);
  return 0;
}

void Note_Timer(UINT_PTR id) {
  ++Host_Timer_Ticks;
  Host_Last_Timer_Id = id;
  for (int i = 0; i < Host_Timer_Ids_Seen; ++i)
    if (Timer_Ids[i] == id)
      return;
  if (Host_Timer_Ids_Seen < Timer_Id_Capacity)
    Timer_Ids[Host_Timer_Ids_Seen++] = id;
}

void Pump_Waiting() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_TIMER && message.hwnd == nullptr)
      Note_Timer(message.wParam);
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

// Waits for the handle (or only for messages, with none) up to `ms`,
// pumping messages meanwhile. Returns 1 when the handle was signalled.
int Wait_Pumping(HANDLE handle, DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    Pump_Waiting();
    const DWORD spent = GetTickCount() - start;
    if (spent >= ms)
      return 0;
    const DWORD count = handle != nullptr ? 1 : 0;
    const DWORD result = MsgWaitForMultipleObjects(count, &handle, FALSE, ms - spent, QS_ALLINPUT);
    if (handle != nullptr && result == WAIT_OBJECT_0)
      return 1;
  }
}

// What a filter thread delivers: the bytes once, or over and over.
struct Delivery {
  const uint8_t *Bytes;
  int32_t Size;
  int32_t Chunk;
  bool Repeat;
};

// The callback is the one registered when the thread starts, as a filter
// keeps the callback it was opened with.
DWORD WINAPI Filter_Thread(LPVOID parameter) {
  const Delivery &delivery = *static_cast<const Delivery *>(parameter);
  const Section_Data_Callback callback = Host_Filter_Callback;
  do {
    for (int32_t at = 0; at < delivery.Size && Host_Filter_Open; at += delivery.Chunk) {
      const int32_t rest = delivery.Size - at;
      callback(0, rest < delivery.Chunk ? rest : delivery.Chunk, delivery.Bytes + at);
      ++Host_Chunks_Delivered;
    }
  } while (delivery.Repeat && Host_Filter_Open);
  return 0;
}

// The streaming threads, each on its own bytes; a null handle is a free slot.
Delivery Streamed[Host_Streaming_Max]{};
HANDLE Streaming_Threads[Host_Streaming_Max]{};

// A filter thread on `delivery`, if the filter is open; null otherwise.
HANDLE Start_Filter_Thread(Delivery &delivery) {
  if (!Host_Filter_Open || Host_Filter_Callback == nullptr || delivery.Chunk <= 0)
    return nullptr;
  return CreateThread(nullptr, 0, Filter_Thread, &delivery, 0, nullptr);
}

template <typename Entry> Entry Resolve(const char *name) {
  return reinterpret_cast<Entry>(reinterpret_cast<void *>(GetProcAddress(Plugin.Module, name)));
}

// The loaded module (or null) and its entry points by name.
int Take_Plugin(HMODULE module) {
  Plugin = Plugin_Entries{};
  Plugin.Module = module;
  if (Plugin.Module == nullptr)
    return 0;
  Plugin.On_Start = Resolve<On_Start_Function *>("On_Start");
  Plugin.On_Exit = Resolve<On_Exit_Function *>("On_Exit");
  Plugin.On_Filter_Close = Resolve<On_Filter_Close_Function *>("On_Filter_Close");
  Plugin.On_Hot_Key = Resolve<On_Hot_Key_Function *>("On_Hot_Key");
  Plugin.On_Menu_Select = Resolve<On_Menu_Select_Function *>("On_Menu_Select");
  Plugin.On_Send_Dll_ID_Name = Resolve<On_Send_Dll_ID_Name_Function *>("On_Send_Dll_ID_Name");
  Plugin.On_Channel_Change = Resolve<On_Channel_Change_Function *>("On_Channel_Change");
  Plugin.Lib_Main = Resolve<Lib_Main_Function *>("_LibMain@12");
  Plugin.Wep = Resolve<Wep_Function *>("_WEP");
  return 1;
}

} // namespace

HWND Host_Create_Window() {
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = Host_Window_Proc;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = Host_Class_Name;
  RegisterClassA(&window_class);
  Host_Main_Window = CreateWindowA(Host_Class_Name, "Stand-in host", WS_OVERLAPPEDWINDOW, 0, 0, 320,
                                   200, nullptr, nullptr, window_class.hInstance, nullptr);
  return Host_Main_Window;
}

int Host_Load_Plugin(const char *name) {
  return Take_Plugin(LoadLibraryA(name));
}

int Host_Load_Plugin_Wide(const wchar_t *path) {
  return Take_Plugin(LoadLibraryW(path));
}

void Host_Unload_Plugin() {
  Host_Filter_Open = 0; // no call may reach the module once it is gone
  Host_End_Streaming(INFINITE);
  if (Plugin.Module != nullptr)
    FreeLibrary(Plugin.Module);
  Plugin = Plugin_Entries{};
  Host_Filter_Callback = nullptr;
}

void Host_Start_Plugin(uint32_t tag, char *letter, int32_t *word) {
  Plugin.On_Start(0, Host_Main_Window, 0, tag, letter, 0, word);
}

Channel_Record Host_Channel_Record(uint16_t transport_stream_id, uint16_t service_id) {
  Channel_Record record;
  std::memset(&record, 0x5A, sizeof record); // the host's own bytes
  record.Transport_Stream_Id = transport_stream_id;
  record.Service_Id = service_id;
  return record;
}

void Host_Change_Channel(uint16_t transport_stream_id, uint16_t service_id) {
  Plugin.On_Channel_Change(Host_Channel_Record(transport_stream_id, service_id));
}

void Host_Close_Filter() {
  Host_Filter_Open = 0;
  Plugin.On_Filter_Close();
}

int Host_Deliver(const uint8_t *bytes, int32_t size, int32_t chunk, DWORD timeout_ms) {
  Delivery delivery{bytes, size, chunk, false};
  HANDLE thread = Start_Filter_Thread(delivery);
  if (thread == nullptr)
    return 0;
  const int finished = Wait_Pumping(thread, timeout_ms);
  if (!finished)
    WaitForSingleObject(thread, INFINITE); // `delivery` must outlive the thread
  CloseHandle(thread);
  return finished;
}

std::vector<uint8_t> Host_Filter_Bytes(const std::vector<uint8_t> &capture,
                                       Host_Handover handover) {
  std::vector<uint8_t> bytes;
  Ts_Reader reader;
  Open_Ts_Memory(reader, capture.data(), capture.size());
  const uint8_t *payload = nullptr;
  int32_t size = 0;
  while (Next_Ts_Payload(reader, Eit_Pid, &payload, &size) == Ts_Read_Result::Payload) {
    if (handover == Host_Handover::Whole_Packets) {
      payload = capture.data() + reader.Packet_Offset;
      size = Ts_Packet_Size;
    }
    bytes.insert(bytes.end(), payload, payload + size);
  }
  Close_Ts_Reader(reader);
  return bytes;
}

int32_t Host_Handover_Chunk(Host_Handover handover) {
  return handover == Host_Handover::Whole_Packets ? Ts_Packet_Size : Ts_Payload_Size;
}

int Host_Start_Streaming(const uint8_t *bytes, int32_t size, int32_t chunk) {
  for (int slot = 0; slot < Host_Streaming_Max; ++slot) {
    if (Streaming_Threads[slot] != nullptr)
      continue;
    Streamed[slot] = Delivery{bytes, size, chunk, true};
    Streaming_Threads[slot] = Start_Filter_Thread(Streamed[slot]);
    return Streaming_Threads[slot] != nullptr;
  }
  return 0;
}

int Host_End_Streaming(DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  for (HANDLE &thread : Streaming_Threads) {
    if (thread == nullptr)
      continue;
    const DWORD spent = GetTickCount() - start;
    if (timeout_ms != INFINITE && spent >= timeout_ms)
      return 0;
    if (!Wait_Pumping(thread, timeout_ms == INFINITE ? INFINITE : timeout_ms - spent))
      return 0;
    CloseHandle(thread);
    thread = nullptr;
  }
  return 1;
}

int Host_Pump_Until(int (*done)(), DWORD timeout_ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (done())
      return 1;
    const DWORD spent = GetTickCount() - start;
    if (spent >= timeout_ms)
      return 0;
    const DWORD rest = timeout_ms - spent;
    Wait_Pumping(nullptr, rest < Condition_Check_Ms ? rest : Condition_Check_Ms);
  }
}

void Host_Pump_For(DWORD ms) {
  Wait_Pumping(nullptr, ms);
}
