// pictolandrum-demo: the stand-in host as a receiver without a satellite
// card. It loads Pictolandrum.dll, offers the plug-in's menu entry and a hot
// key, plays a capture (the bundled sample or a .ts file) through the
// filter from a thread of its own, acts on the plug-in's commands (filter
// start and stop, service switches among the capture's channels) and shows
// what happens in its main window and on stdout: what the viewer asked,
// what the plug-in asked of the host, what the host did and what the portal
// window shows. With --headless SECONDS it walks through the portal window
// by itself, takes a screenshot and exits when SECONDS have passed, however
// far the walk got. This file loads and starts the plug-in and runs the
// demo; the log, the options, the answers to the plug-in's commands, the
// main window and the walk have files of their own.
#include "demo/demo_commands.h"
#include "demo/demo_log.h"
#include "demo/demo_options.h"
#include "demo/demo_walk.h"
#include "demo/demo_window.h"
#include "host/stand_in_host.h"

#include <cstdio>
#include <string>

namespace {

constexpr int Hot_Key_Id = 1;
constexpr uint16_t Start_Transport_Stream = 4;
constexpr uint16_t Start_Service = 18;
constexpr int Normal_Packets_Per_Period = 5; // 250 packets/s: about 376 kbit/s
constexpr int Fast_Packets_Per_Period = 80;

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

int Run_Window() {
  Log("host: ready; close this window to end the demo");
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
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
