// The contract between Pictolandrum and the host receiver: the commands we
// send to the host's main window, the records we hand over with them, and the
// channel record the host gives us on every channel change.
//
// The host is a 32-bit Windows program. Every record here is laid out for
// that module byte for byte; the layouts are checked at compile time and hold
// on a 64-bit build too (the callback address is kept as a 32-bit word), so
// the native tools and tests share this header with the DLL and the stand-in
// host.
//
// Calling conventions. Every entry point the host calls by name (On_Start,
// On_Exit, On_Channel_Change, ...) and the data callback On_Section_Data are
// cdecl: the caller pops the arguments, so a host that passes more or fewer
// words than we expect does not unbalance its stack. The module entry
// LibMain is stdcall with 12 bytes of arguments, as the loader requires.
#pragma once

#include "core/dvb_layout.h"

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define HOST_CALL __cdecl
#else
#define HOST_CALL
#endif

// All host commands travel as SendMessageA(Host_Window, Host_Message,
// command, argument); the result is never read.
constexpr uint32_t Host_Message = 0x0400;            // WM_USER
constexpr uint32_t HOST_START_FILTER = 0x01020020;   // argument: &Filter_Request
constexpr uint32_t HOST_STOP_FILTER = 0x01020021;    // argument: filter handle
constexpr uint32_t HOST_SWITCH_SERVICE = 0x01022004; // argument: &Switch_Request

// The plug-in's name, reported to the host and written into Filter_Request.
constexpr char Plugin_Name[] = "Pictolandrum";
constexpr std::size_t Plugin_Name_Size = sizeof Plugin_Name; // 13, with the NUL

// The only PID we ask the host for is Eit_Pid, the Event Information Table's.

// The data callback: an ignored word, a byte count and the bytes.
using Section_Data_Callback = void(HOST_CALL *)(uint32_t, int32_t, const uint8_t *);

// The filter request handed to the host with HOST_START_FILTER. The host
// writes its filter handle into the last word; we only read it.
struct Filter_Request_Record {
  uint16_t Host_Tag;      // low half of On_Start's fourth argument
  uint16_t Reserved;      // always 0
  uint16_t Pid;           // Eit_Pid before every start request
  char Name[34];          // Plugin_Name, zero-filled behind it
  uint32_t Callback;      // address of On_Section_Data (32-bit module)
  uint32_t Filter_Handle; // written by the host
};
static_assert(sizeof(Filter_Request_Record) == 48, "Filter_Request is 48 bytes");
static_assert(offsetof(Filter_Request_Record, Host_Tag) == 0, "layout");
static_assert(offsetof(Filter_Request_Record, Reserved) == 2, "layout");
static_assert(offsetof(Filter_Request_Record, Pid) == 4, "layout");
static_assert(offsetof(Filter_Request_Record, Name) == 6, "layout");
static_assert(offsetof(Filter_Request_Record, Callback) == 40, "layout");
static_assert(offsetof(Filter_Request_Record, Filter_Handle) == 44, "layout");
static_assert(Plugin_Name_Size <= sizeof(Filter_Request_Record::Name), "name fits");

// The service-switch request handed to the host with HOST_SWITCH_SERVICE:
// the host expects its four words to open with 208 and close with 192, two
// fixed marks of its own around the service and transport stream ids.
constexpr uint32_t Switch_Lead_Word = 208;  // 0xD0, the request's opening mark
constexpr uint32_t Switch_Trail_Word = 192; // 0xC0, the request's closing mark
struct Switch_Request_Record {
  uint32_t Lead; // Switch_Lead_Word
  uint32_t Service_Id;
  uint32_t Transport_Stream_Id;
  uint32_t Trail; // Switch_Trail_Word
};
static_assert(sizeof(Switch_Request_Record) == 16, "Switch_Request is 4 words");
static_assert(offsetof(Switch_Request_Record, Service_Id) == 4, "layout");
static_assert(offsetof(Switch_Request_Record, Transport_Stream_Id) == 8, "layout");

// The host's channel record, passed by value to On_Channel_Change. Only the
// two ids are ours to read; the rest belongs to the host.
struct Channel_Record {
  uint8_t Head[108];
  uint16_t Transport_Stream_Id;
  uint8_t Middle[12];
  uint16_t Service_Id;
  uint8_t Tail[172];
};
static_assert(sizeof(Channel_Record) == 296, "Channel_Record is 296 bytes");
static_assert(offsetof(Channel_Record, Transport_Stream_Id) == 108, "layout");
static_assert(offsetof(Channel_Record, Service_Id) == 122, "layout");
