#include "launcher/splash_picture_win.h"

namespace tavrelo {

SplashDib LoadSplashPicture(HINSTANCE instance, int resource_id) {
  HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(resource_id), MAKEINTRESOURCEW(10));  // RT_RCDATA
  if (!found) return {};
  const DWORD size = SizeofResource(instance, found);
  HGLOBAL loaded = LoadResource(instance, found);
  const auto* bytes = static_cast<const std::uint8_t*>(loaded ? LockResource(loaded) : nullptr);
  if (!bytes) return {};
  // Resources stay mapped for the life of the module and need no release.
  return DecodeSplashGif(std::span(bytes, size));
}

void DrawStretched(HDC dc, const SplashDib& picture, const RECT& target) {
  if (picture.packed.empty()) return;
  SetStretchBltMode(dc, HALFTONE);
  SetBrushOrgEx(dc, 0, 0, nullptr);
  StretchDIBits(dc, target.left, target.top, target.right - target.left, target.bottom - target.top,
                0, 0, picture.width, picture.height, picture.packed.data() + kSplashDibBitsOffset,
                reinterpret_cast<const BITMAPINFO*>(picture.packed.data()), DIB_RGB_COLORS, SRCCOPY);
}

}  // namespace tavrelo
