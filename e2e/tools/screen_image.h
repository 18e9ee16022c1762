// A rectangle of the screen copied into memory: pixels can be read from it
// and its rows can be saved as they are.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tool_support.h"

namespace e2e {

class ScreenImage {
 public:
  // Copies the screen area (screen coordinates) through the screen DC, so
  // whatever is shown there is captured, whichever process drew it.
  bool Capture(const RECT& area) {
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384) return false;
    const tavrelo::WindowDc screen(nullptr);
    const tavrelo::UniqueMemoryDc memory(screen.get() ? CreateCompatibleDC(screen.get()) : nullptr);
    if (!memory) return false;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const tavrelo::UniqueGdiObject bitmap(
        CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits) return false;
    const tavrelo::SelectedObject selected(memory.get(), bitmap.get());
    if (!BitBlt(memory.get(), 0, 0, width, height, screen.get(), area.left, area.top, SRCCOPY | CAPTUREBLT)) {
      return false;
    }
    GdiFlush();
    stride_ = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    pixels_.assign(static_cast<const std::uint8_t*>(bits),
                   static_cast<const std::uint8_t*>(bits) + stride_ * static_cast<std::size_t>(height));
    area_ = area;
    return true;
  }

  // The colour at a point given in screen coordinates.
  bool Pixel(int x, int y, COLORREF& colour) const {
    if (pixels_.empty() || x < area_.left || y < area_.top || x >= area_.right || y >= area_.bottom) return false;
    const std::size_t offset =
        static_cast<std::size_t>(y - area_.top) * stride_ + static_cast<std::size_t>(x - area_.left) * 3;
    colour = RGB(pixels_[offset + 2], pixels_[offset + 1], pixels_[offset]);
    return true;
  }

  // The captured rows as GDI gave them: top row first, blue, green and red
  // bytes per pixel, each row padded to a multiple of 4 bytes. The reader
  // knows the size from the captured rectangle.
  bool SaveRows(const std::wstring& path) const {
    return !pixels_.empty() &&
           WriteWholeFile(path, std::string(reinterpret_cast<const char*>(pixels_.data()), pixels_.size()));
  }

 private:
  RECT area_ = {};
  std::size_t stride_ = 0;
  std::vector<std::uint8_t> pixels_;
};

}  // namespace e2e
