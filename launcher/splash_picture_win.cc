#include "launcher/splash_picture_win.h"

#include <span>

#include "launcher/splash_dib.h"

namespace tavrelo {

SplashPicture LoadSplashPicture(HINSTANCE instance, int resource_id) {
  HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(resource_id), MAKEINTRESOURCEW(2));  // RT_BITMAP
  if (!found) return {};
  const DWORD size = SizeofResource(instance, found);
  HGLOBAL loaded = LoadResource(instance, found);
  const auto* bytes = static_cast<const std::uint8_t*>(loaded ? LockResource(loaded) : nullptr);
  if (!bytes) return {};
  // Resources stay mapped for the life of the module: the picture points
  // into them and needs no release.
  const auto dib = ParseSplashDib(std::span(bytes, size));
  if (!dib) return {};
  return {reinterpret_cast<const BITMAPINFO*>(bytes), bytes + dib->bits_offset,
          {dib->width, dib->height}};
}

void DrawStretched(HDC dc, const SplashPicture& picture, const RECT& target) {
  if (!picture.info) return;
  SetStretchBltMode(dc, HALFTONE);
  SetBrushOrgEx(dc, 0, 0, nullptr);
  StretchDIBits(dc, target.left, target.top, target.right - target.left, target.bottom - target.top,
                0, 0, picture.size.cx, picture.size.cy, picture.bits, picture.info, DIB_RGB_COLORS,
                SRCCOPY);
}

}  // namespace tavrelo
