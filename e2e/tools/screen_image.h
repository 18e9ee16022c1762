// A rectangle of the screen copied into memory: pixels can be read from it
// and it can be saved as a 24-bit BMP file.
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

  // A plain bottom-up 24-bit BMP, the form every reader takes.
  bool SaveBmp(const std::wstring& path) const {
    if (pixels_.empty()) return false;
    const int width = area_.right - area_.left;
    const int height = area_.bottom - area_.top;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(pixels_.size());
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + header.biSizeImage;
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&header), sizeof header);
    for (int row = height - 1; row >= 0; --row) {
      bytes.append(reinterpret_cast<const char*>(pixels_.data()) + static_cast<std::size_t>(row) * stride_, stride_);
    }
    return WriteWholeFile(path, bytes);
  }

 private:
  RECT area_ = {};
  std::size_t stride_ = 0;
  std::vector<std::uint8_t> pixels_;
};

}  // namespace e2e
