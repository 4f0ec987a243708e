// The demo host's log: the time in front of each line, the wrapping in the
// window's list, and the failures.
#include "demo/demo_log.h"

#include "stream/latin1_text.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

DWORD Start_Tick = 0;

namespace {

// Every line starts with the seconds since the start, right-aligned for up to
// a day (--headless at most), then the text. In the window the lines are
// wrapped at spaces to the list's width, continued under the text.
constexpr int Log_Time_Width = 11; // five digits of seconds, three of milliseconds, two spaces
constexpr int Log_Min_Columns = Log_Time_Width + 20;
HWND Log_List = nullptr;
HFONT Log_Font = nullptr; // fixed pitch, so the times line up
int Log_Columns = 80;     // characters a line of the list holds

void Add_Log_Item(const std::string &text) {
  const LRESULT index =
      SendMessageA(Log_List, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
  SendMessageA(Log_List, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
}

void Show_Wrapped(std::string rest) {
  const std::size_t width = static_cast<std::size_t>(std::max(Log_Columns, Log_Min_Columns));
  std::string indent;
  for (;;) {
    const std::size_t room = width - indent.size();
    if (rest.size() <= room) {
      Add_Log_Item(indent + rest);
      return;
    }
    std::size_t cut = rest.rfind(' ', room);
    if (cut == std::string::npos || cut <= (indent.empty() ? Log_Time_Width : 0))
      cut = room; // one word longer than the line: cut inside it
    Add_Log_Item(indent + rest.substr(0, cut));
    rest.erase(0, rest.find_first_not_of(' ', cut));
    indent.assign(Log_Time_Width, ' ');
  }
}

} // namespace

void Log(const char *format, ...) {
  char text[512];
  const DWORD ms = GetTickCount() - Start_Tick;
  const int head = std::snprintf(text, sizeof text, "%5lu.%03lu  ", ms / 1000, ms % 1000);
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(text + head, sizeof text - head, format, arguments);
  va_end(arguments);
  std::printf("%s\n", Utf8_From_Latin1(text).c_str()); // captions are ISO-8859-1
  std::fflush(stdout);
  if (Log_List != nullptr)
    Show_Wrapped(text);
}

void Fail(const std::string &reason, int status) {
  std::fprintf(stderr, "pictolandrum-demo: %s\n", reason.c_str());
  std::exit(status);
}

void Show_Log_In(HWND list) {
  Log_List = list;
  Log_Font =
      CreateFontA(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                  CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, FIXED_PITCH | FF_MODERN, "Courier New");
  if (Log_Font != nullptr)
    SendMessageA(Log_List, WM_SETFONT, reinterpret_cast<WPARAM>(Log_Font), 0);
}

void Fit_Log_To_List() {
  RECT list;
  GetClientRect(Log_List, &list);
  HDC context = GetDC(Log_List);
  HGDIOBJ previous = SelectObject(context, Log_Font);
  TEXTMETRICA metrics;
  if (GetTextMetricsA(context, &metrics) && metrics.tmAveCharWidth > 0)
    Log_Columns = (list.right - 4) / metrics.tmAveCharWidth;
  SelectObject(context, previous);
  ReleaseDC(Log_List, context);
}
