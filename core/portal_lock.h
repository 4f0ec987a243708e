// Portal_Lock: the one lock the plug-in takes. It guards Current_Portal where
// ">>" advances it and where the decoder copies it, and it makes every write
// of table entries and every read of a whole entry atomic, so a reader never
// pairs one entry's transport stream id with another's service id.
//
// The lock exists from Create_Portal_Lock (On_Start) to Delete_Portal_Lock
// (On_Exit). Outside that span there is no second thread to guard against,
// and taking it does nothing; a host that calls in after On_Exit therefore
// never touches a deleted lock.
#pragma once

void Create_Portal_Lock();
void Delete_Portal_Lock();
// Enter returns whether the lock was really taken; pass that to Leave.
bool Enter_Portal_Lock();
void Leave_Portal_Lock(bool taken);

// Holds Portal_Lock for the life of a scope.
struct Portal_Lock_Scope {
  Portal_Lock_Scope() : Taken(Enter_Portal_Lock()) {}
  ~Portal_Lock_Scope() { Leave_Portal_Lock(Taken); }
  const bool Taken;
  Portal_Lock_Scope(const Portal_Lock_Scope &) = delete;
  Portal_Lock_Scope &operator=(const Portal_Lock_Scope &) = delete;
};
