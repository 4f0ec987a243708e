// Reads a loaded module's image the way the loader does: its exported names,
// the modules it imports from, and the place of its writable sections.
#pragma once

#include <windows.h>

constexpr int Image_Name_Capacity = 32;
constexpr int Image_Name_Size = 64;

struct Image_Names {
  int Count; // names found, also those beyond the capacity
  char Name[Image_Name_Capacity][Image_Name_Size];
};

// The names in the export directory, in its (sorted) order.
void Read_Export_Names(HMODULE module, Image_Names &names);

// The module names in the import directory.
void Read_Import_Names(HMODULE module, Image_Names &names);

// Calls visit(start, size) for each section the module may write.
void Visit_Writable_Sections(HMODULE module, void (*visit)(unsigned char *, DWORD));

// The module's entry point, as an address in the mapped image.
const void *Image_Entry_Point(HMODULE module);
