// Portal_Lock for the native build (tests, tools, benchmarks): a mutex that
// always exists, so the core can run without On_Start.
#include "core/portal_lock.h"

#include <mutex>

static std::mutex Portal_Lock;

void Create_Portal_Lock() {}
void Delete_Portal_Lock() {}
bool Enter_Portal_Lock() {
  Portal_Lock.lock();
  return true;
}

void Leave_Portal_Lock(bool taken) {
  if (taken)
    Portal_Lock.unlock();
}
