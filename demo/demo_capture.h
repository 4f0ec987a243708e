// The demo host's capture: the bytes it plays through the plug-in's filter
// (the bundled sample, made in memory, or a .ts file), the channels it can
// tune (those the capture names) and the thread that delivers the capture's
// PID 0x12 payloads to the filter at a steady pace, looping at the end.
#pragma once

#include "stream/ts_reader.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct Demo_Channel {
  uint16_t Transport_Stream_Id;
  uint16_t Service_Id;
};

struct Demo_Capture {
  std::string Path;                   // empty: the bundled sample
  std::vector<uint8_t> Sample;        // the sample's bytes when Path is empty
  uint64_t Packets = 0;               // packets in the capture, all PIDs
  uint64_t Eit_Packets = 0;           // payloads on PID 0x12
  std::vector<Demo_Channel> Channels; // tunable, in the order first seen
};

// Opens the capture (the sample when `path` is null) and collects its
// channels: the ids of every EIT section header and every portal entry the
// plug-in's decoder finds. False with a one-line reason in `error`.
bool Load_Demo_Capture(Demo_Capture &capture, const char *path, std::string &error);

// Whether the capture names the channel.
bool Demo_Channel_Known(const Demo_Capture &capture, uint16_t transport_stream_id,
                        uint16_t service_id);
void Add_Demo_Channel(Demo_Capture &capture, uint16_t transport_stream_id, uint16_t service_id);

// The player thread: every Play_Period_Ms it hands `packets_per_period`
// payloads to the host's filter while that is open (and drops them while it
// is closed), starting over at the end. Stop_Demo_Player waits for it.
constexpr DWORD Play_Period_Ms = 20;
bool Start_Demo_Player(const Demo_Capture &capture, int packets_per_period);
void Stop_Demo_Player();
extern volatile LONG Demo_Player_Loops; // times the player reached the end
