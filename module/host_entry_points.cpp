// The entry points the host calls by name: each hands the call to the
// session and carries out what it answers.
#include "core/plugin_session.h"
#include "module/exports.h"
#include "module/resource_ids.h"
#include "module/shell_orders.h"

#include <cstring>

extern "C" {

void HOST_CALL On_Start(uint32_t, Window_Handle host_window, uint32_t, uint32_t host_tag,
                        char *out_letter, uint32_t, int32_t *out_word) {
  Session_Start(host_window, host_tag, out_letter, out_word);
}

void HOST_CALL On_Exit() {
  Carry_Out(Session_Exit());
}

// The 13 bytes of the name and its NUL, no more; a null buffer gets nothing.
void HOST_CALL On_Send_Dll_ID_Name(char *buffer) {
  if (buffer != nullptr)
    std::memcpy(buffer, Plugin_Name, Plugin_Name_Size);
}

void HOST_CALL On_Filter_Close() {
  Session_Filter_Closed();
}

void HOST_CALL On_Channel_Change(Channel_Record record) {
  Carry_Out(Session_Channel_Change(record));
}

void HOST_CALL On_Hot_Key() {
  Carry_Out(Session_Toggle_Window());
}

void HOST_CALL On_Menu_Select(uint32_t menu_id) {
  if (menu_id == Active_Menu_Item_Id)
    Carry_Out(Session_Toggle_Window());
}

} // extern "C"
