// The portal table's storage, its reset to defaults and its consistent reads.
#include "core/portal_table.h"

#include "core/portal_lock.h"

#include <cstring>

std::array<Portal_Row, Portal_Total> Portal_Table{};
std::array<std::atomic<int32_t>, Portal_Total> Portal_Count{};
std::atomic<int32_t> Current_Portal{0};
std::array<Shown_List, Portal_Total> Portal_Shown{};

static bool Is_Portal(int32_t portal) {
  return portal >= 0 && portal < Portal_Total;
}

Portal_Row Default_Portal_Row(int32_t portal) {
  Portal_Row row{};
  if (!Is_Portal(portal))
    return row;
  const Portal_Constants &constants = Portal_Constants_Table[portal];
  std::strncpy(row[0].Name, constants.Default_Name, Portal_Name_Size - 1);
  row[0].Transport_Stream_Id = constants.Default_Transport_Stream_Id;
  row[0].Service_Id = constants.Default_Service_Id;
  return row;
}

void Reset_Portal_Table() {
  Current_Portal = 0;
  Portal_Lock_Scope lock;
  for (int portal = 0; portal < Portal_Total; ++portal) {
    Portal_Table[portal] = Default_Portal_Row(portal);
    Portal_Shown[portal] = Shown_List{};
  }
}

void Reset_Portal_Counts() {
  for (auto &count : Portal_Count)
    count = 0;
}

Portal_Entry Copy_Portal_Entry(int32_t portal, int32_t index) {
  Portal_Entry entry{};
  if (!Is_Portal(portal) || index < 0 || index >= Portal_Entry_Total)
    return entry;
  Portal_Lock_Scope lock;
  entry = Portal_Table[portal][index];
  return entry;
}

Portal_Row Copy_Portal_Row(int32_t portal) {
  Portal_Row row{};
  if (!Is_Portal(portal))
    return row;
  Portal_Lock_Scope lock;
  row = Portal_Table[portal];
  return row;
}

int32_t Read_Portal_Count(int32_t portal) {
  return Is_Portal(portal) ? Portal_Count[portal].load() : 0;
}
