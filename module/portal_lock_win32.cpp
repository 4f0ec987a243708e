// Portal_Lock in the Windows module: a critical section created by On_Start
// and deleted by On_Exit. A later session in the same load (On_Start after
// On_Exit) creates it anew; a creation while it exists leaves it alone.
//
// Lock_Users counts the threads between Enter and Leave (and those about to
// enter). Deletion first closes the door (Lock_Ready = 0) and then waits
// until no one is inside, so a data callback that raced On_Exit can never
// enter a deleted critical section. It waits with Sleep(1), not Sleep(0):
// Sleep(0) yields only to threads of equal or higher priority, so a data
// thread of lower priority inside the lock could starve on one processor.
// Before creation and after deletion, Enter and Leave do nothing.
#include "core/portal_lock.h"

#include <windows.h>

#include <atomic>

static CRITICAL_SECTION Portal_Lock;
static std::atomic<int> Lock_Ready{0};
static std::atomic<int> Lock_Users{0};

void Create_Portal_Lock() {
  if (Lock_Ready.load())
    return;
  InitializeCriticalSection(&Portal_Lock);
  Lock_Ready.store(1);
}

void Delete_Portal_Lock() {
  if (!Lock_Ready.exchange(0))
    return;
  while (Lock_Users.load() != 0)
    Sleep(1);
  DeleteCriticalSection(&Portal_Lock);
}

bool Enter_Portal_Lock() {
  Lock_Users.fetch_add(1);
  if (!Lock_Ready.load()) {
    Lock_Users.fetch_sub(1);
    return false;
  }
  EnterCriticalSection(&Portal_Lock);
  return true;
}

void Leave_Portal_Lock(bool taken) {
  if (!taken)
    return;
  LeaveCriticalSection(&Portal_Lock);
  Lock_Users.fetch_sub(1);
}
