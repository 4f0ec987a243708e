// The shell's side of the session's orders: the refresh timer is kept here
// (a thread timer without a window, delivered through the host's message
// loop on its window thread); the window's orders and the command go to the
// portal window.
#include "module/shell_orders.h"

#include "module/portal_window.h"

#include <windows.h>

namespace {

UINT_PTR Refresh_Timer = 0; // 0 while no timer runs

void CALLBACK On_Refresh_Timer(HWND, UINT, UINT_PTR, DWORD) {
  Carry_Out(Session_Refresh_Tick());
}

} // namespace

void Carry_Out(const Shell_Orders &orders) {
  if (orders.Timer == Timer_Order::Run && Refresh_Timer == 0) {
    Refresh_Timer = SetTimer(nullptr, 0, Refresh_Period_Ms, On_Refresh_Timer);
  } else if (orders.Timer == Timer_Order::Stop && Refresh_Timer != 0) {
    KillTimer(nullptr, Refresh_Timer);
    Refresh_Timer = 0;
  }
  Carry_Out_Window_Orders(orders);
}
