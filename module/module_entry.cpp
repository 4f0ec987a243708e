// The module entry (LibMain, WEP), the Windows side of the plug-in state and
// the routines that send commands to the host's main window.
//
// Choices where the host leaves room:
// - A module path without a backslash (or no path at all, when the loader
//   can't give one) leaves Module_Directory empty, as for a module in the
//   root; the position file is then "\Pictolandrum.INI".
// - The refresh timer is stopped by On_Exit. Should the host unload us
//   without calling On_Exit, detach stops it too, so it never fires into an
//   unloaded module.
// - Likewise a window still open at unload (FreeLibrary without On_Exit) is
//   destroyed by detach, so no window procedure is left pointing into the
//   unloaded module. This works when the host unloads us on the thread that
//   opened the window, as it calls On_Hot_Key there; another thread may not
//   destroy it. At the process's end detach leaves the window alone: it goes
//   with the process, and no code of ours can run after that.
#include "core/settings.h"
#include "module/module_state.h"
#include "module/portal_window.h"

#include <cstring>

HINSTANCE Instance_Handle = nullptr;
char Module_Directory[Module_Path_Size] = "";
char Settings_Path[Settings_Path_Size] = "";
HWND Host_Window = nullptr;
HWND Dialog_Window = nullptr;
UINT_PTR Refresh_Timer = 0;

namespace {

constexpr DWORD Reason_Process_Detach = 0; // DLL_PROCESS_DETACH
constexpr DWORD Reason_Process_Attach = 1; // DLL_PROCESS_ATTACH

// Module_Directory = the module's path up to, not including, its last
// backslash.
void Record_Module_Directory(HINSTANCE instance) {
  char path[Module_Path_Size] = "";
  const DWORD length = GetModuleFileNameA(instance, path, sizeof path);
  path[length < sizeof path ? length : sizeof path - 1] = '\0';
  Module_Directory[0] = '\0';
  const char *backslash = std::strrchr(path, '\\');
  if (backslash == nullptr)
    return;
  const std::size_t size = static_cast<std::size_t>(backslash - path);
  std::memcpy(Module_Directory, path, size);
  Module_Directory[size] = '\0';
}

} // namespace

void Stop_Refresh_Timer() {
  if (Refresh_Timer == 0)
    return;
  KillTimer(nullptr, Refresh_Timer);
  Refresh_Timer = 0;
}

void Send_Host_Command(uint32_t command, uintptr_t argument) {
  if (Host_Window == nullptr)
    return;
  SendMessageA(Host_Window, Host_Message, static_cast<WPARAM>(command),
               static_cast<LPARAM>(argument));
}

void Start_Host_Filter() {
  Filter_Request.Pid = Eit_Pid;
  Send_Host_Command(HOST_START_FILTER, reinterpret_cast<uintptr_t>(&Filter_Request));
  Filter_Running = 1;
}

void Stop_Host_Filter() {
  Send_Host_Command(HOST_STOP_FILTER, Filter_Request.Filter_Handle);
  Filter_Running = 0;
}

extern "C" BOOL WINAPI LibMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == Reason_Process_Attach) {
    Instance_Handle = instance;
    Record_Module_Directory(instance);
  } else if (reason == Reason_Process_Detach) {
    if (reserved == nullptr) // FreeLibrary, not the end of the process
      Close_Window();
    Stop_Refresh_Timer();
    Write_Settings(Settings_Path);
  }
  return TRUE;
}

extern "C" int HOST_CALL WEP(int) {
  return 1;
}
