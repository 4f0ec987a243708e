// The module entry: LibMain, which the loader calls at every attach and
// detach, and WEP.
//
// At process detach a window still open is closed only when the host frees
// the module (FreeLibrary, reserved null); that works when the host unloads
// us on the thread that opened the window, as it calls On_Hot_Key there.
// At the process's end the window goes with the process, and no code of
// ours can run after that.
#include "core/plugin_session.h"
#include "module/exports.h"
#include "module/portal_window.h"
#include "module/shell_orders.h"

#include <windows.h>

namespace {

// The module's path as the loader gives it, into a buffer that holds it
// whole wherever a position file can be kept. A path that fills the buffer
// was cut (and lacks its NUL on older systems); a failed call gives none.
void Record_Module_Path(HINSTANCE instance) {
  char path[Module_Path_Size];
  const DWORD length = GetModuleFileNameA(instance, path, sizeof path);
  const bool whole = length < sizeof path;
  path[whole ? length : sizeof path - 1] = '\0';
  Session_Record_Module_Path(path, whole);
}

} // namespace

extern "C" int32_t MODULE_ENTRY_CALL LibMain(Module_Handle instance, uint32_t reason,
                                             void *reserved) {
  if (reason == Reason_Process_Attach) {
    Instance_Handle = static_cast<HINSTANCE>(instance);
    Record_Module_Path(Instance_Handle);
  } else if (reason == Reason_Process_Detach) {
    Carry_Out(Session_Unload(reserved != nullptr));
  }
  return 1;
}

extern "C" int32_t HOST_CALL WEP(int32_t) {
  return 1;
}
