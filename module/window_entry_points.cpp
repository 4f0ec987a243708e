// The host entry points that open and close the portal window.
#include "module/window_entry_points.h"

#include "module/portal_window.h"
#include "module/resource_ids.h"

void HOST_CALL On_Hot_Key() {
  Toggle_Window();
}

void HOST_CALL On_Menu_Select(uint32_t id) {
  if (id == Active_Menu_Item_Id)
    Toggle_Window();
}
