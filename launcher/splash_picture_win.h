// The splash picture, drawn with GDI straight from the executable's bitmap
// resource: the launcher keeps no decoded copy and loads no imaging library.
#pragma once

#include <windows.h>

namespace tavrelo {

struct SplashPicture {
  const BITMAPINFO* info = nullptr;  // header and palette in the resource, or none
  const void* bits = nullptr;        // the RLE8 pixels that follow them
  SIZE size = {0, 0};
};

// Finds and checks the bitmap resource `resource_id` of `instance`. Empty when
// it is missing or malformed; the splash then shows its background alone.
SplashPicture LoadSplashPicture(HINSTANCE instance, int resource_id);

// Draws `picture` stretched into `target` of `dc`, smoothly filtered.
void DrawStretched(HDC dc, const SplashPicture& picture, const RECT& target);

}  // namespace tavrelo
