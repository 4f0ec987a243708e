// Reads the portal window's resources back out of a built module through the
// Win32 resource API and checks them field by field: dialog template 100
// with every control, the host's "EXTERN" menu and the version record.
//
//   window_resources_check.exe <module.dll>
//
// Prints what it checks; the first failed check prints file:line with the
// expected and the actual value and ends the program with a non-zero code.
#include "module/resource_ids.h"
#include "tests/wine/wine_check.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

constexpr WORD German = MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN);

// A bounds-checked little-endian reader over one resource.
struct Reader {
  const uint8_t *Data;
  size_t Size;
  size_t At;
  bool Overrun;

  bool Have(size_t count) {
    if (At + count > Size)
      Overrun = true;
    return !Overrun;
  }
  uint32_t Word() {
    if (!Have(2))
      return 0;
    const uint32_t value = Data[At] | Data[At + 1] << 8;
    At += 2;
    return value;
  }
  uint32_t Dword() {
    const uint32_t low = Word();
    return low | Word() << 16;
  }
  uint32_t Byte() {
    if (!Have(1))
      return 0;
    return Data[At++];
  }
  int32_t Short() { return static_cast<int16_t>(Word()); }
  void Align() { At = (At + 3) & ~size_t{3}; }
  // A NUL-terminated UTF-16 string; characters outside ASCII show as '?'.
  std::string Text() {
    std::string text;
    for (uint32_t c = Word(); c != 0 && !Overrun; c = Word())
      text += c < 0x80 ? static_cast<char>(c) : '?';
    return text;
  }
  // A name-or-ordinal field: "" for none, "#n" for an ordinal, else the name.
  std::string Name_Or_Ordinal() {
    const uint32_t first = Word();
    if (first == 0)
      return "";
    if (first == 0xFFFF)
      return "#" + std::to_string(Word());
    At -= 2;
    return Text();
  }
};

static Reader Find(HMODULE module, LPCSTR type, LPCSTR name) {
  Reader reader{nullptr, 0, 0, true};
  HRSRC found = FindResourceExA(module, type, name, German);
  if (found == nullptr)
    return reader;
  HGLOBAL loaded = LoadResource(module, found);
  reader.Data = static_cast<const uint8_t *>(LockResource(loaded));
  reader.Size = SizeofResource(module, found);
  reader.Overrun = reader.Data == nullptr;
  return reader;
}

// ---- dialog template 100 -------------------------------------------------

struct Expected_Control {
  int32_t Id;
  const char *Class; // "#128" button, "#130" static
  const char *Text;
  int32_t X, Y, Width, Height;
  uint32_t Style;
};

constexpr uint32_t Push_Button = WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON;
constexpr uint32_t Check_Box = WS_CHILD | WS_VISIBLE | BS_CHECKBOX;
constexpr uint32_t Label = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT;

static const Expected_Control Expected_Controls[] = {
    {102, "#128", ">>", 80, 8, 18, 12, Push_Button},
    {103, "#128", "Direct Portal", 12, 8, 64, 12, Push_Button},
    {104, "#128", "", 12, 26, 64, 12, Push_Button},
    {105, "#128", "", 12, 40, 64, 12, Push_Button},
    {106, "#128", "", 12, 54, 64, 12, Push_Button},
    {107, "#128", "", 12, 68, 64, 12, Push_Button},
    {108, "#128", "", 12, 82, 64, 12, Push_Button},
    {109, "#128", "", 12, 96, 64, 12, Push_Button},
    {110, "#128", "", 12, 110, 64, 12, Push_Button},
    {111, "#128", "", 12, 124, 64, 12, Push_Button},
    {112, "#128", "", 12, 138, 64, 12, Push_Button},
    {113, "#128", "", 12, 152, 64, 12, Push_Button},
    {114, "#128", "", 12, 166, 64, 12, Push_Button},
    {115, "#128", "", 12, 180, 64, 12, Push_Button},
    {116, "#128", "", 12, 194, 64, 12, Push_Button},
    {117, "#128", "", 12, 208, 64, 12, Push_Button},
    {118, "#128", "", 12, 222, 64, 12, Push_Button},
    {119, "#128", "", 12, 236, 64, 12, Push_Button},
    {202, "#128", "", 14, 252, 8, 9, Check_Box},
    {-1, "#130", "TOPMOST", 24, 252, 36, 9, Label},
    {-1, "#130", "Pictolandrum v1.02 by mjt", 18, 264, 116, 8, Label},
};
constexpr int Expected_Control_Total = sizeof Expected_Controls / sizeof Expected_Controls[0];

static void Check_Control(Reader &dialog, const Expected_Control &expected) {
  dialog.Align();
  std::printf("  control %ld \"%s\"\n", static_cast<long>(expected.Id), expected.Text);
  CHECK_EQ(0, dialog.Dword()); // help id
  CHECK_EQ(0, dialog.Dword()); // extended style
  const uint32_t style = dialog.Dword();
  CHECK_EQ(expected.Style, style);
  CHECK_EQ(0, style & WS_TABSTOP);
  CHECK_EQ(expected.X, dialog.Short());
  CHECK_EQ(expected.Y, dialog.Short());
  CHECK_EQ(expected.Width, dialog.Short());
  CHECK_EQ(expected.Height, dialog.Short());
  CHECK_EQ(expected.Id, static_cast<int32_t>(dialog.Dword()));
  CHECK_TEXT(expected.Class, dialog.Name_Or_Ordinal().c_str());
  CHECK_TEXT(expected.Text, dialog.Name_Or_Ordinal().c_str());
  CHECK_EQ(0, dialog.Word()); // no creation data
}

static void Check_Dialog(HMODULE module) {
  std::printf("dialog template %d\n", Portal_Dialog_Template_Id);
  Reader dialog = Find(module, RT_DIALOG, MAKEINTRESOURCEA(Portal_Dialog_Template_Id));
  CHECK(!dialog.Overrun);
  CHECK_EQ(1, dialog.Word());      // dlgVer: an extended template
  CHECK_EQ(0xFFFF, dialog.Word()); // signature
  CHECK_EQ(0, dialog.Dword());     // help id
  CHECK_EQ(0, dialog.Dword());     // extended style
  CHECK_EQ(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
           dialog.Dword());
  CHECK_EQ(Expected_Control_Total, dialog.Word());
  CHECK_EQ(0, dialog.Short());
  CHECK_EQ(0, dialog.Short());
  CHECK_EQ(106, dialog.Short());
  CHECK_EQ(272, dialog.Short());
  CHECK_TEXT("", dialog.Name_Or_Ordinal().c_str()); // no menu
  CHECK_TEXT("", dialog.Name_Or_Ordinal().c_str()); // the standard dialog class
  CHECK_TEXT(" Pictolandrum", dialog.Text().c_str());
  CHECK_EQ(9, dialog.Word()); // point size
  CHECK_EQ(0, dialog.Word()); // weight
  CHECK_EQ(0, dialog.Byte()); // italic
  CHECK_EQ(0, dialog.Byte()); // character set
  CHECK_TEXT("MS Sans Serif", dialog.Text().c_str());
  for (const Expected_Control &expected : Expected_Controls)
    Check_Control(dialog, expected);
  CHECK(!dialog.Overrun);
  dialog.Align();
  CHECK(dialog.At >= dialog.Size); // nothing behind the last control
}

// ---- the host's menu -----------------------------------------------------

static void Check_Menu(HMODULE module) {
  std::printf("menu %s\n", Host_Menu_Name);
  Reader menu = Find(module, RT_MENU, Host_Menu_Name);
  CHECK(!menu.Overrun);
  CHECK_EQ(1, menu.Word());            // wVersion: an extended menu
  const uint32_t offset = menu.Word(); // items, counted from here
  CHECK_EQ(4, offset);
  CHECK_EQ(0, menu.Dword()); // help id
  menu.At = 4 + offset;
  CHECK_EQ(MFT_STRING, menu.Dword());
  CHECK_EQ(MFS_ENABLED, menu.Dword());
  CHECK_EQ(Active_Menu_Item_Id, menu.Dword());
  CHECK_EQ(Menu_Last_Item_Flag, menu.Word()); // last item, no popup
  CHECK_TEXT("Active", menu.Text().c_str());
  menu.Align();
  CHECK(!menu.Overrun);
  CHECK_EQ(menu.Size, menu.At);

  // And as the host sees it once loaded.
  HMENU loaded = LoadMenuIndirectA(menu.Data);
  CHECK(loaded != nullptr);
  CHECK_EQ(1, GetMenuItemCount(loaded));
  CHECK_EQ(Active_Menu_Item_Id, GetMenuItemID(loaded, 0));
  char text[32] = {};
  GetMenuStringA(loaded, 0, text, sizeof text, MF_BYPOSITION);
  CHECK_TEXT("Active", text);
  DestroyMenu(loaded);
}

// ---- the version record --------------------------------------------------

// One node of the version tree: its key, where its value starts and how many
// bytes it has, and where its children start and end.
struct Version_Node {
  std::string Key;
  uint32_t Value_Length; // as stored: characters for text, bytes for binary
  uint32_t Type;         // 1 text, 0 binary
  size_t Value_At;
  size_t Children_At;
  size_t End;
};

// Block lengths may or may not count the padding behind their last child.
static size_t Align4(size_t at) {
  return (at + 3) & ~size_t{3};
}

static Version_Node Read_Node(Reader &tree) {
  Version_Node node{};
  tree.Align();
  const size_t start = tree.At;
  const uint32_t length = tree.Word();
  node.Value_Length = tree.Word();
  node.Type = tree.Word();
  node.Key = tree.Text();
  tree.Align();
  node.Value_At = tree.At;
  node.Children_At = Align4(node.Value_At + node.Value_Length * (node.Type == 1 ? 2 : 1));
  node.End = start + length;
  if (length < 6 || node.End > tree.Size)
    tree.Overrun = true;
  return node;
}

static std::string Text_Value(Reader tree, const Version_Node &node) {
  tree.At = node.Value_At;
  return tree.Text();
}

static void Check_Fixed_Part(Reader tree, const Version_Node &root) {
  CHECK_EQ(sizeof(VS_FIXEDFILEINFO), root.Value_Length);
  tree.At = root.Value_At;
  CHECK_EQ(0xFEEF04BD, tree.Dword());     // signature
  CHECK_EQ(0x00010000, tree.Dword());     // structure version
  CHECK_EQ(MAKELONG(1, 0), tree.Dword()); // file version 0.1 ...
  CHECK_EQ(MAKELONG(2, 0), tree.Dword()); // ... .0.2
  CHECK_EQ(MAKELONG(1, 0), tree.Dword()); // product version 0.1 ...
  CHECK_EQ(MAKELONG(2, 0), tree.Dword()); // ... .0.2
  CHECK_EQ(0x3F, tree.Dword());           // flags mask
  CHECK_EQ(VS_FF_PRIVATEBUILD, tree.Dword());
  CHECK_EQ(VOS__WINDOWS32, tree.Dword());
  CHECK_EQ(VFT_DLL, tree.Dword());
  CHECK_EQ(0, tree.Dword()); // subtype
  CHECK_EQ(0, tree.Dword()); // date
  CHECK_EQ(0, tree.Dword());
}

static void Check_String_Table(Reader tree, const Version_Node &file_info) {
  static const char *const Expected[][2] = {{"CompanyName", "mjt"},
                                            {"FileDescription", "Pictolandrum"},
                                            {"FileVersion", "1.02"},
                                            {"OriginalFilename", "Pictolandrum.dll"}};
  tree.At = file_info.Children_At;
  const Version_Node table = Read_Node(tree);
  CHECK_TEXT("000004B0", table.Key.c_str());
  tree.At = table.Children_At;
  for (const auto &pair : Expected) {
    const Version_Node string = Read_Node(tree);
    CHECK_TEXT(pair[0], string.Key.c_str());
    CHECK_EQ(1, string.Type);
    CHECK_TEXT(pair[1], Text_Value(tree, string).c_str());
    tree.At = string.End;
  }
  CHECK_EQ(Align4(table.End), Align4(tree.At));       // no fifth string
  CHECK_EQ(Align4(file_info.End), Align4(table.End)); // no second table
}

static void Check_Translation(Reader tree, const Version_Node &var_info) {
  tree.At = var_info.Children_At;
  const Version_Node var = Read_Node(tree);
  CHECK_TEXT("Translation", var.Key.c_str());
  CHECK_EQ(0, var.Type);
  CHECK_EQ(4, var.Value_Length);
  tree.At = var.Value_At;
  CHECK_EQ(0x0000, tree.Word()); // language: neutral
  CHECK_EQ(1200, tree.Word());   // code page: UTF-16
}

static void Check_Version_Tree(HMODULE module) {
  std::printf("version record %d\n", Version_Info_Id);
  Reader tree = Find(module, RT_VERSION, MAKEINTRESOURCEA(Version_Info_Id));
  CHECK(!tree.Overrun);
  const Version_Node root = Read_Node(tree);
  CHECK_TEXT("VS_VERSION_INFO", root.Key.c_str());
  Check_Fixed_Part(tree, root);
  tree.At = root.Children_At;
  const Version_Node file_info = Read_Node(tree);
  CHECK_TEXT("StringFileInfo", file_info.Key.c_str());
  CHECK(!tree.Overrun);
  Check_String_Table(tree, file_info);
  tree.At = file_info.End;
  const Version_Node var_info = Read_Node(tree);
  CHECK_TEXT("VarFileInfo", var_info.Key.c_str());
  CHECK(!tree.Overrun);
  Check_Translation(tree, var_info);
  CHECK(!tree.Overrun);
  CHECK_EQ(Align4(root.End), Align4(var_info.End)); // nothing behind VarFileInfo
}

// The same record as the version API reads it from the file.
static void Check_Version_Api(const char *path) {
  static char block[4096];
  const DWORD size = GetFileVersionInfoSizeA(path, nullptr);
  CHECK(size > 0 && size <= sizeof block);
  CHECK(GetFileVersionInfoA(path, 0, size, block));
  void *value = nullptr;
  UINT length = 0;
  CHECK(VerQueryValueA(block, "\\", &value, &length));
  const VS_FIXEDFILEINFO *fixed = static_cast<const VS_FIXEDFILEINFO *>(value);
  CHECK_EQ(0x00000001, fixed->dwFileVersionMS);
  CHECK_EQ(0x00000002, fixed->dwFileVersionLS);
  CHECK_EQ(VFT_DLL, fixed->dwFileType);
  CHECK(VerQueryValueA(block, "\\StringFileInfo\\000004B0\\FileDescription", &value, &length));
  CHECK_TEXT("Pictolandrum", static_cast<const char *>(value));
  CHECK(VerQueryValueA(block, "\\VarFileInfo\\Translation", &value, &length));
  CHECK_EQ(4, length);
  CHECK_EQ(MAKELONG(0, 1200), *static_cast<const DWORD *>(value));
}

int main(int argc, char **argv) {
  if (argc != 2) {
    std::printf("usage: %s <module.dll>\n", argv[0]);
    return 2;
  }
  HMODULE module = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module == nullptr) {
    std::printf("cannot load %s (error %lu)\n", argv[1], GetLastError());
    return 2;
  }
  Check_Dialog(module);
  Check_Menu(module);
  Check_Version_Tree(module);
  Check_Version_Api(argv[1]);
  FreeLibrary(module);
  std::printf("all resource checks passed\n");
  return 0;
}
