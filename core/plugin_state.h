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

// A 32-bit word, shared like a flag, that reads `Load_Value` while its
// storage is still zero: it keeps its value less Load_Value (modulo 2^32, so
// every value fits). The module's static state is all zero bytes at load,
// so none of it takes room in the DLL's file (the decoder's 32 KB buffer
// would otherwise go with it); the words that start elsewhere than 0 are
// kept this way.
template <int32_t Load_Value> class Starts_At {
public:
  operator int32_t() const { return load(); }
  int32_t load() const { return static_cast<int32_t>(Offset.load() + Load_Offset); }
  Starts_At &operator=(int32_t value) {
    Offset.store(static_cast<uint32_t>(value) - Load_Offset);
    return *this;
  }

private:
  static constexpr uint32_t Load_Offset = static_cast<uint32_t>(Load_Value);
  std::atomic<uint32_t> Offset{0};
};
static_assert(sizeof(Starts_At<1>) == 4, "a 32-bit word");

constexpr int32_t Default_Window_X = 320;
constexpr int32_t Default_Window_Y = 320;

extern Plugin_Flag Filter_Running;           // a start request is outstanding
extern Plugin_Flag Exiting;                  // On_Exit has run
extern Starts_At<1> Topmost;                 // window kept above others
extern Starts_At<Default_Window_X> Window_X; // window position in screen pixels
extern Starts_At<Default_Window_Y> Window_Y;

extern Channel_Record Current_Channel; // last record from On_Channel_Change
extern Filter_Request_Record Filter_Request;
extern Switch_Request_Record Switch_Request;

// Puts every value above back to its value at load. Used by tests and tools
// that run the core more than once in one process.
void Reset_Plugin_State();
