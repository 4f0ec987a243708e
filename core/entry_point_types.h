// The module's exported entry points as the host and the loader call them,
// written once as function types. The module declares its exports by these
// types and the hosts that load it (the stand-in host, the demo, the Wine
// tests) call through pointers of them, so a signature that strays on
// either side does not compile.
//
// Handles are opaque here: the core knows no window system. On Windows a
// Window_Handle is an HWND and a Module_Handle an HINSTANCE.
#pragma once

#include "core/host_contract.h"

#include <cstdint>

// The loader calls the module entry LibMain stdcall, with 12 bytes of
// arguments; everything the host calls is HOST_CALL (cdecl).
#if defined(_WIN32)
#define MODULE_ENTRY_CALL __stdcall
#else
#define MODULE_ENTRY_CALL
#endif

using Window_Handle = void *;
using Module_Handle = void *;

// On_Start(unused, host window, unused, host tag, out letter, unused, out word).
using On_Start_Function = void HOST_CALL(uint32_t, Window_Handle host_window, uint32_t,
                                         uint32_t host_tag, char *out_letter, uint32_t,
                                         int32_t *out_word);
using On_Exit_Function = void HOST_CALL();
using On_Filter_Close_Function = void HOST_CALL();
using On_Hot_Key_Function = void HOST_CALL();
using On_Menu_Select_Function = void HOST_CALL(uint32_t menu_id);
using On_Send_Dll_ID_Name_Function = void HOST_CALL(char *buffer);
using On_Channel_Change_Function = void HOST_CALL(Channel_Record record);
// LibMain(instance, reason, reserved) answers 1; WEP(ignored) answers 1.
using Lib_Main_Function = int32_t MODULE_ENTRY_CALL(Module_Handle instance, uint32_t reason,
                                                    void *reserved);
using Wep_Function = int32_t HOST_CALL(int32_t);

// LibMain's reasons that the plug-in acts on.
constexpr uint32_t Reason_Process_Detach = 0; // DLL_PROCESS_DETACH
constexpr uint32_t Reason_Process_Attach = 1; // DLL_PROCESS_ATTACH
