// Walks the PE headers of a mapped module.
#include "tests/wine/module_image.h"

#include <cstring>

namespace {

const IMAGE_NT_HEADERS *Nt_Headers(HMODULE module) {
  const auto *base = reinterpret_cast<const unsigned char *>(module);
  const auto *dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
  return reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
}

template <typename T> const T *At(HMODULE module, DWORD rva) {
  return reinterpret_cast<const T *>(reinterpret_cast<const unsigned char *>(module) + rva);
}

const IMAGE_DATA_DIRECTORY &Directory(HMODULE module, int which) {
  return Nt_Headers(module)->OptionalHeader.DataDirectory[which];
}

void Add_Name(Image_Names &names, const char *name) {
  if (names.Count < Image_Name_Capacity) {
    std::strncpy(names.Name[names.Count], name, Image_Name_Size - 1);
    names.Name[names.Count][Image_Name_Size - 1] = '\0';
  }
  ++names.Count;
}

} // namespace

void Read_Export_Names(HMODULE module, Image_Names &names) {
  names.Count = 0;
  const IMAGE_DATA_DIRECTORY &directory = Directory(module, IMAGE_DIRECTORY_ENTRY_EXPORT);
  if (directory.VirtualAddress == 0)
    return;
  const auto *exports = At<IMAGE_EXPORT_DIRECTORY>(module, directory.VirtualAddress);
  const DWORD *name_rvas = At<DWORD>(module, exports->AddressOfNames);
  for (DWORD i = 0; i < exports->NumberOfNames; ++i)
    Add_Name(names, At<char>(module, name_rvas[i]));
}

void Read_Import_Names(HMODULE module, Image_Names &names) {
  names.Count = 0;
  const IMAGE_DATA_DIRECTORY &directory = Directory(module, IMAGE_DIRECTORY_ENTRY_IMPORT);
  if (directory.VirtualAddress == 0)
    return;
  for (const auto *entry = At<IMAGE_IMPORT_DESCRIPTOR>(module, directory.VirtualAddress);
       entry->Name != 0; ++entry)
    Add_Name(names, At<char>(module, entry->Name));
}

void Visit_Writable_Sections(HMODULE module, void (*visit)(unsigned char *, DWORD)) {
  const IMAGE_NT_HEADERS *headers = Nt_Headers(module);
  const IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(headers);
  for (WORD i = 0; i < headers->FileHeader.NumberOfSections; ++i, ++section)
    if (section->Characteristics & IMAGE_SCN_MEM_WRITE)
      visit(reinterpret_cast<unsigned char *>(module) + section->VirtualAddress,
            section->Misc.VirtualSize);
}

const void *Image_Entry_Point(HMODULE module) {
  return At<unsigned char>(module, Nt_Headers(module)->OptionalHeader.AddressOfEntryPoint);
}
