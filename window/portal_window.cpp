// The portal window's behaviour: captions from the portal table.
#include "window/portal_window.h"

#include "plugin/module_state.h"
#include "portal/portal_table.h"
#include "window/resource_ids.h"

void Refresh_Captions() {
  if (Dialog_Window == nullptr)
    return;
  const int32_t portal = Current_Portal;
  for (int i = 0; i < Portal_Entry_Total; ++i) {
    const Portal_Entry entry = Copy_Portal_Entry(portal, i);
    SetWindowTextA(GetDlgItem(Dialog_Window, First_Entry_Button_Id + i), entry.Name);
  }
}
