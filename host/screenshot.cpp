// Screen area to BMP file: BitBlt into a DIB section, rows written bottom up.
#include "host/screenshot.h"

#include <cstdio>

namespace {

bool Write_Bmp(const char *path, const BITMAPINFOHEADER &header, const void *pixels) {
  const DWORD pixel_bytes = header.biSizeImage;
  BITMAPFILEHEADER file_header{};
  file_header.bfType = 0x4D42; // "BM"
  file_header.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
  file_header.bfSize = file_header.bfOffBits + pixel_bytes;
  FILE *file = std::fopen(path, "wb");
  if (file == nullptr)
    return false;
  bool written = std::fwrite(&file_header, sizeof file_header, 1, file) == 1 &&
                 std::fwrite(&header, sizeof header, 1, file) == 1 &&
                 std::fwrite(pixels, 1, pixel_bytes, file) == pixel_bytes;
  written = std::fclose(file) == 0 && written;
  return written;
}

} // namespace

bool Write_Screenshot(const RECT &area, const char *path) {
  const int width = area.right - area.left;
  const int height = area.bottom - area.top;
  if (width <= 0 || height <= 0)
    return false;
  BITMAPINFO info{};
  BITMAPINFOHEADER &header = info.bmiHeader;
  header.biSize = sizeof header;
  header.biWidth = width;
  header.biHeight = height; // bottom-up rows, as BMP files keep them
  header.biPlanes = 1;
  header.biBitCount = 24;
  header.biCompression = BI_RGB;
  header.biSizeImage = static_cast<DWORD>(((width * 3 + 3) & ~3) * height);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  void *pixels = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
  bool done = false;
  if (memory != nullptr && bitmap != nullptr) {
    HGDIOBJ previous = SelectObject(memory, bitmap);
    done = BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY) != 0;
    GdiFlush();
    SelectObject(memory, previous);
    done = done && Write_Bmp(path, header, pixels);
  }
  if (bitmap != nullptr)
    DeleteObject(bitmap);
  if (memory != nullptr)
    DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return done;
}
