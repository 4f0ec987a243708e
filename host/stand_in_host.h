// The stand-in host: the receiver's side of the plug-in contract, small
// enough to reason about. It loads the module by name, resolves its entry
// points by their exported names, keeps a main window that takes the
// plug-in's commands (and logs each one with a copy of the record it points
// to), runs the section filter by calling the registered data callback from
// a thread of its own, and builds channel records for channel changes.
// Test programs and the demo are built on these routines.
//
// Threads. The window thread (the one that created the main window) runs the
// window procedure, so every command the plug-in sends lands there, and only
// it pumps messages: the command log, the filter handle and the timer
// counters are that thread's alone. The filter threads read whether the
// filter is open and which callback it calls, and count what they deliver;
// those values are atomics.
#pragma once

#include "core/entry_point_types.h"
#include "core/host_contract.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <vector>

// The module's entry points, null where the module does not export them;
// typed by the contract (core/entry_point_types.h).
struct Plugin_Entries {
  HMODULE Module;
  On_Start_Function *On_Start;
  On_Exit_Function *On_Exit;
  On_Filter_Close_Function *On_Filter_Close;
  On_Hot_Key_Function *On_Hot_Key;
  On_Menu_Select_Function *On_Menu_Select;
  On_Send_Dll_ID_Name_Function *On_Send_Dll_ID_Name;
  On_Channel_Change_Function *On_Channel_Change;
  Lib_Main_Function *Lib_Main;
  Wep_Function *Wep;
};
extern Plugin_Entries Plugin;

// One command as the host's window received it, with a copy of the record
// its argument pointed to at that moment (zeros for a stop command).
struct Host_Command {
  uint32_t Command;
  uint32_t Argument;
  Filter_Request_Record Filter;
  Switch_Request_Record Switch;
};
constexpr int Host_Log_Capacity = 64;
extern Host_Command Host_Log[Host_Log_Capacity];
extern int Host_Log_Count; // commands received, also those beyond the capacity

// The filter the host runs for the plug-in: open from a start request to a
// stop request or Host_Close_Filter. Each start hands out the next handle.
constexpr uint32_t Host_First_Filter_Handle = 0x00C0FFEE;
extern uint32_t Host_Filter_Handle; // last handle handed out, 0 before any
extern std::atomic<int> Host_Filter_Open;
extern std::atomic<Section_Data_Callback> Host_Filter_Callback;
extern std::atomic<uint32_t> Host_Chunks_Delivered; // by every filter thread; wraps round

// Thread timers seen by the host's message loop (WM_TIMER without a window).
extern int Host_Timer_Ticks;
extern UINT_PTR Host_Last_Timer_Id;
extern int Host_Timer_Ids_Seen; // distinct timer ids seen

// A host that answers a command while the plug-in's SendMessageA still
// waits, as hosts that pump messages or act at once may: called with each
// command and its argument once the host has handled it; null for none.
extern void (*Host_Command_Answer)(uint32_t command, uint32_t argument);

// Creates the host's main window (hidden). Returns it, or null.
HWND Host_Create_Window();
extern HWND Host_Main_Window;

// LoadLibraryA(name) and the entry points by name; 1 if the module loaded.
int Host_Load_Plugin(const char *name);
// The same with LoadLibraryW, for paths longer than the ANSI calls take.
int Host_Load_Plugin_Wide(const wchar_t *path);
// Closes the filter, waits for a streaming thread to end, then FreeLibrary;
// the entries become null.
void Host_Unload_Plugin();

// On_Start(0, main window, 0, tag, letter, 0, word).
void Host_Start_Plugin(uint32_t tag, char *letter, int32_t *word);

// A channel record with the two ids and the host's own bytes around them,
// handed to On_Channel_Change.
Channel_Record Host_Channel_Record(uint16_t transport_stream_id, uint16_t service_id);
void Host_Change_Channel(uint16_t transport_stream_id, uint16_t service_id);

// The host closes its filter by itself and tells the plug-in.
void Host_Close_Filter();

// Calls the registered data callback with `size` bytes in pieces of `chunk`
// bytes from a thread of the host's own, and pumps messages until that
// thread is done. Returns 1 if it finished within the timeout.
int Host_Deliver(const uint8_t *bytes, int32_t size, int32_t chunk, DWORD timeout_ms);

// How the host's filter on PID 0x12 hands over the packets of a capture:
// the payload of each (behind its header and any adaptation field, as the
// capture reader hands them out), or each packet whole, header included.
enum class Host_Handover { Payloads, Whole_Packets };
// The filter's bytes for a capture of 188-byte packets: the payloads, or the
// packets, of the packets on PID 0x12 that carry a payload, back to back
// (packets flagged with the transport error indicator are dropped, as
// receivers drop them). Delivered in chunks of Host_Handover_Chunk bytes,
// each call carries one packet, or the payload of one packet without
// adaptation field.
std::vector<uint8_t> Host_Filter_Bytes(const std::vector<uint8_t> &capture, Host_Handover handover);
int32_t Host_Handover_Chunk(Host_Handover handover);

// Starts a filter thread of the host at full speed: it calls the registered
// data callback with `size` bytes in pieces of `chunk` bytes, round after
// round without pause, until the filter closes (a stop request with its
// handle, or Host_Close_Filter). Up to Host_Streaming_Max such threads run
// at once, as a host that runs a filter on several threads delivers; 1 if it
// started.
constexpr int Host_Streaming_Max = 2;
int Host_Start_Streaming(const uint8_t *bytes, int32_t size, int32_t chunk);
// Pumps messages until every streaming thread has ended; 1 if they ended
// within the timeout. Close the filter first, or they never end.
int Host_End_Streaming(DWORD timeout_ms);

// Pumps the thread's messages until done() holds or the time is up;
// returns whether done() held. Host_Pump_For pumps for a fixed time.
int Host_Pump_Until(int (*done)(), DWORD timeout_ms);
void Host_Pump_For(DWORD ms);
