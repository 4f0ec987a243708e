// Pictolandrum.dll's exports (Pictolandrum.def names them for the host),
// declared by the contract's function types: a definition that strays from
// its type does not compile.
#pragma once

#include "core/entry_point_types.h"

extern "C" {
On_Start_Function On_Start;
On_Exit_Function On_Exit;
On_Filter_Close_Function On_Filter_Close;
On_Hot_Key_Function On_Hot_Key;
On_Menu_Select_Function On_Menu_Select;
On_Send_Dll_ID_Name_Function On_Send_Dll_ID_Name;
On_Channel_Change_Function On_Channel_Change;
Lib_Main_Function LibMain;
Wep_Function WEP;
}
