// The plug-in's process-wide state that the platform-free core shares with
// the Windows module: the flags and values both the host's window thread and
// the data callback's thread touch. Flags are 32-bit words holding 0 or 1;
// they are atomics because two threads read and write them (relaxed order is
// enough: none of them publishes other data).
#pragma once

#include "core/host_contract.h"

#include <atomic>
#include <cstdint>

using Plugin_Flag = std::atomic<int32_t>;
static_assert(sizeof(Plugin_Flag) == 4, "flags are 32-bit words");

extern Plugin_Flag Filter_Running;    // a start request is outstanding
extern Plugin_Flag Exiting;           // On_Exit has run
extern Plugin_Flag Topmost;           // window kept above others
extern std::atomic<int32_t> Window_X; // window position in screen pixels
extern std::atomic<int32_t> Window_Y;

extern Channel_Record Current_Channel; // last record from On_Channel_Change
extern Filter_Request_Record Filter_Request;
extern Switch_Request_Record Switch_Request;

constexpr int32_t Default_Window_X = 320;
constexpr int32_t Default_Window_Y = 320;

// Puts every value above back to its value at load. Used by tests and tools
// that run the core more than once in one process.
void Reset_Plugin_State();
